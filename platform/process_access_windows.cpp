#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>

#include "platform/process_access.h"
#include "platform/text_encoding.h"

namespace velmora {

namespace {

// The 8-bit entry, whatever UNICODE says: names are read as Windows-1251.
using ProcessEntry32 = tagPROCESSENTRY32;
static_assert(sizeof(void*) != 4 || sizeof(ProcessEntry32) == 296);

using CreateSnapshotFunction = HANDLE(WINAPI*)(DWORD, DWORD);
using QueryImageNameFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
using WalkSnapshotFunction = BOOL(WINAPI*)(HANDLE, ProcessEntry32*);

constexpr DWORD snapshotProcesses = 0x2;
constexpr DWORD queryAndReadAccess = 1040;
// Lets the handle be waited on, which tells that the process has ended.
constexpr DWORD waitAccess = 0x00100000;
constexpr DWORD limitedQueryAccess = 0x1000;

template <typename Function>
Function lookUpFunction(HMODULE module, const char* name) {
    // Through the generic function type, which any function pointer may be cast to and back.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class WindowsProcessHandle : public ProcessHandle {
public:
    explicit WindowsProcessHandle(HANDLE process) : process_(process) {}
    ~WindowsProcessHandle() override { CloseHandle(process_); }
    WindowsProcessHandle(const WindowsProcessHandle&) = delete;
    WindowsProcessHandle& operator=(const WindowsProcessHandle&) = delete;

    bool read(TerminalAddress address, void* destination, std::size_t count) override {
        SIZE_T bytesRead = 0;
        BOOL ok = ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(static_cast<std::uintptr_t>(address)),
                                    destination, count, &bytesRead);
        return ok && bytesRead == count;
    }

    bool exited() override {
        DWORD waited = WaitForSingleObject(process_, 0);
        if (waited == WAIT_OBJECT_0) return true;
        if (waited == WAIT_TIMEOUT) return false;
        // A handle that cannot be waited on still answers for its exit code.
        DWORD exitCode = 0;
        return GetExitCodeProcess(process_, &exitCode) && exitCode != STILL_ACTIVE;
    }

    std::size_t readMany(const ReadRange* ranges, std::size_t count) override {
        TerminalAddress lowest = 0;
        std::uint64_t span = spanOf(ranges, count, lowest);
        if (span > 0 && span <= gatheredSpanLimit) {
            block_.resize(static_cast<std::size_t>(span));
            if (read(lowest, block_.data(), block_.size())) {
                for (std::size_t i = 0; i < count; ++i)
                    std::memcpy(ranges[i].destination, block_.data() + (ranges[i].address - lowest), ranges[i].count);
                return count;
            }
        }
        // Spread too far, or a gap in the span: one read per range finds where reading ends.
        return ProcessHandle::readMany(ranges, count);
    }

private:
    HANDLE process_;
    std::vector<std::uint8_t> block_;
};

class WindowsProcessAccess : public ProcessAccess {
public:
    std::vector<ProcessEntry> listProcesses() override {
        std::vector<ProcessEntry> processes;
        if (!lookedUp_) lookUp();
        if (!createSnapshot_ || !first_ || !next_) return processes;
        HANDLE snapshot = createSnapshot_(snapshotProcesses, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return processes;
        ProcessEntry32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = first_(snapshot, &entry); more; more = next_(snapshot, &entry)) {
            std::size_t length = strnlen(entry.szExeFile, sizeof entry.szExeFile);
            ProcessEntry listed{entry.th32ProcessID, cp1251ToUtf8(std::string_view(entry.szExeFile, length))};
            describe(listed);
            processes.push_back(std::move(listed));
        }
        CloseHandle(snapshot);
        return processes;
    }

    std::unique_ptr<ProcessHandle> open(std::uint32_t processId) override {
        HANDLE process = OpenProcess(queryAndReadAccess | waitAccess, TRUE, processId);
        if (!process) return nullptr;
        return std::make_unique<WindowsProcessHandle>(process);
    }

private:
    // Its full path and whether it has ended, where the process lets itself be asked.
    void describe(ProcessEntry& listed) {
        HANDLE process = OpenProcess(limitedQueryAccess, FALSE, listed.id);
        if (!process) return;
        char path[MAX_PATH * 2] = {};
        DWORD size = sizeof path;
        if (queryImageName_ && queryImageName_(process, 0, path, &size) && size < sizeof path)
            listed.exePath = cp1251ToUtf8(std::string_view(path, size));
        DWORD exitCode = 0;
        listed.ended = GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE;
        CloseHandle(process);
    }

    // Older systems lack the snapshot services; then there are simply no processes.
    void lookUp() {
        lookedUp_ = true;
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        if (!kernel) return;
        createSnapshot_ = lookUpFunction<CreateSnapshotFunction>(kernel, "CreateToolhelp32Snapshot");
        first_ = lookUpFunction<WalkSnapshotFunction>(kernel, "Process32First");
        next_ = lookUpFunction<WalkSnapshotFunction>(kernel, "Process32Next");
        queryImageName_ = lookUpFunction<QueryImageNameFunction>(kernel, "QueryFullProcessImageNameA");
    }

    bool lookedUp_ = false;
    CreateSnapshotFunction createSnapshot_ = nullptr;
    WalkSnapshotFunction first_ = nullptr;
    WalkSnapshotFunction next_ = nullptr;
    QueryImageNameFunction queryImageName_ = nullptr;
};

}  // namespace

std::unique_ptr<ProcessAccess> makeSystemProcessAccess() { return std::make_unique<WindowsProcessAccess>(); }

}  // namespace velmora

#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include "system.h"

namespace standin {

namespace {

volatile std::sig_atomic_t* stopFlag = nullptr;

BOOL WINAPI setStopFlag(DWORD event) {
    if (!stopFlag) return FALSE;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    *stopFlag = 1;
    return TRUE;
}

std::string withoutTrailingSeparators(std::string path) {
    // "C:\" keeps its separator: without it the text names the drive's current folder.
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') && !(path.size() == 3 && path[1] == ':'))
        path.pop_back();
    return path;
}

}  // namespace

void* mapLow(std::size_t size, std::size_t unreadableTail) {
    // Reserved as a whole, so the unreadable tail stays free of anything else's memory.
    for (std::uintptr_t address = 0x10000000; address + size <= 0x80000000; address += 0x10000000) {
        void* block = VirtualAlloc(reinterpret_cast<void*>(address), size, MEM_RESERVE, PAGE_NOACCESS);
        if (!block) continue;
        if (VirtualAlloc(block, size - unreadableTail, MEM_COMMIT, PAGE_READWRITE)) return block;
        VirtualFree(block, 0, MEM_RELEASE);
    }
    throw std::runtime_error("cannot reserve memory below 2 GiB: error " + std::to_string(GetLastError()));
}

void unmapLow(void* memory, std::size_t) {
    VirtualFree(memory, 0, MEM_RELEASE);
}

void allowReaders() {
    // Processes of the same user may read ours without asking.
}

void stopOnRequest(volatile std::sig_atomic_t& flag) {
    stopFlag = &flag;
    SetConsoleCtrlHandler(setStopFlag, TRUE);
}

unsigned long processId() {
    return GetCurrentProcessId();
}

void makeFolder(const std::string& path) {
    CreateDirectoryA(path.c_str(), nullptr);
}

std::string canonicalFolder(const std::string& folder) {
    std::string trimmed = withoutTrailingSeparators(folder);
    if (trimmed.empty()) return "";
    char full[MAX_PATH * 4];
    DWORD length = GetFullPathNameA(trimmed.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return "";
    DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return "";
    return withoutTrailingSeparators(full);
}

std::string folderKey(const std::string& canonical) {
    std::string key = canonical;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

std::string folderPrefix(const std::string& canonical) {
    return canonical.back() == '\\' ? canonical : canonical + "\\";
}

std::string linuxPath(const std::string& path) {
    // Wine's own export; absent on Windows itself, where no Linux program looks on.
    using UnixFileName = char*(CDECL*)(const WCHAR*);
    auto unixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixFileName) return "";
    int wide = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (wide <= 0) return "";
    std::wstring widePath(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath.data(), wide);
    char* unix = unixFileName(widePath.c_str());
    if (!unix) return "";
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool readWholeFile(const std::string& path, std::string& content, std::uint64_t& identity) {
    // Shared every way: Velmora appends and empties the file while it is read here.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file, &info))
        identity = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    content.clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return true;
}

}  // namespace standin

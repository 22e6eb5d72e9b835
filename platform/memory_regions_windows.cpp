#include "platform/memory_regions.h"

#include <windows.h>

namespace velmora {

namespace {

using GetMappedFileNameFunction = DWORD(WINAPI*)(HANDLE, LPVOID, LPSTR, DWORD);

std::string mappedFileName(HANDLE process, void* address) {
    // Looked up at run time so the check compiles without the process-status import library.
    static auto function = reinterpret_cast<GetMappedFileNameFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetMappedFileNameA")));
    if (!function) return {};
    char name[MAX_PATH] = {};
    DWORD length = function(process, address, name, MAX_PATH);
    return std::string(name, length);
}

}  // namespace

std::vector<MemoryRegion> listReadableRegions(std::uint32_t processId) {
    std::vector<MemoryRegion> regions;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process) return regions;
    MEMORY_BASIC_INFORMATION info;
    std::uintptr_t address = 0;
    while (VirtualQueryEx(process, reinterpret_cast<void*>(address), &info, sizeof info) == sizeof info) {
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (info.State == MEM_COMMIT && (info.Protect & readable) && !(info.Protect & PAGE_GUARD)) {
            MemoryRegion region;
            region.start = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
            region.end = region.start + info.RegionSize;
            if (info.Type == MEM_IMAGE) region.file = mappedFileName(process, info.BaseAddress);
            regions.push_back(std::move(region));
        }
        std::uintptr_t next = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (next <= address) break;
        address = next;
    }
    CloseHandle(process);
    return regions;
}

}  // namespace velmora

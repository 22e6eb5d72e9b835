// No terminal library here: transactions come through quik.tri only. A named mutex keeps a
// folder to one stand-in, as the library's socket does on Linux.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "system.h"

namespace standin {

struct LibraryLink::State {
    HANDLE claim = nullptr;
    ~State() {
        if (claim) CloseHandle(claim);
    }
};

LibraryLink::LibraryLink(const std::string& canonicalFolder) : state_(std::make_unique<State>()) {
    // Named by a hash: a folder's text may be longer than an object name, and hold backslashes.
    // Case folded, as Windows folds it in paths.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : canonicalFolder) {
        hash ^= c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
        hash *= 0x100000001B3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\velmora-standin-%016llx", static_cast<unsigned long long>(hash));
    state_->claim = CreateMutexA(nullptr, FALSE, name);
    if (!state_->claim)
        throw std::runtime_error("cannot claim the folder: error " + std::to_string(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        throw std::runtime_error("another stand-in already serves this folder");
}

LibraryLink::~LibraryLink() = default;

std::vector<std::string> LibraryLink::wait(std::chrono::milliseconds timeout) {
    if (timeout.count() > 0) Sleep(static_cast<DWORD>(timeout.count()));
    return {};
}

}  // namespace standin

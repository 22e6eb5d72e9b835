#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "system.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace standin {

namespace {

volatile std::sig_atomic_t* stopFlag = nullptr;
void setStopFlag(int) {
    if (stopFlag) *stopFlag = 1;
}

}  // namespace

void* mapLow(std::size_t size, std::size_t unreadableTail) {
    // Below 2 GiB, because settings read the address as a signed 32-bit number.
    void* result = MAP_FAILED;
    for (std::uintptr_t address = 0x10000000; address + size <= 0x80000000; address += 0x10000000) {
        result = mmap(reinterpret_cast<void*>(address), size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (result == reinterpret_cast<void*>(address)) break;
        if (result != MAP_FAILED) munmap(result, size);  // old kernels take the address as a hint
        result = MAP_FAILED;
    }
#ifdef MAP_32BIT
    if (result == MAP_FAILED)
        result = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
#endif
    if (result == MAP_FAILED)
        throw std::runtime_error("cannot map memory below 4 GiB: " + std::string(std::strerror(errno)));
    // Unmapped rather than protected: a reader through /proc/<pid>/mem still reads protected pages.
    if (unreadableTail > 0) munmap(static_cast<char*>(result) + size - unreadableTail, unreadableTail);
    return result;
}

void unmapLow(void* memory, std::size_t size) {
    munmap(memory, size);
}

void allowReaders() {
    // Where ptrace is limited to ancestors, Velmora is rarely ours.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
}

void stopOnRequest(volatile std::sig_atomic_t& flag) {
    stopFlag = &flag;
    struct sigaction action {};
    action.sa_handler = setStopFlag;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);  // no SA_RESTART: a wait must wake up
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

unsigned long processId() {
    return static_cast<unsigned long>(getpid());
}

void makeFolder(const std::string& path) {
    mkdir(path.c_str(), 0777);
}

std::string canonicalFolder(const std::string& folder) {
    std::string trimmed = folder;
    while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
    if (trimmed.empty()) return "";
    char resolved[PATH_MAX];
    if (!realpath(trimmed.c_str(), resolved)) return "";
    return resolved;
}

std::string folderKey(const std::string& canonical) {
    return canonical;
}

std::string folderPrefix(const std::string& canonical) {
    return canonical == "/" ? canonical : canonical + "/";
}

std::string linuxPath(const std::string& path) {
    return path;
}

bool readWholeFile(const std::string& path, std::string& content, std::uint64_t& identity) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    fstat(fd, &info);
    identity = info.st_ino;
    content.clear();
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return true;
}

}  // namespace standin

#include "platform/process_access.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "support/fakes.h"
#include "terminal/process_finder.h"

using namespace velmora;

namespace {

constexpr std::uintptr_t pageAddress = 0x20000000;
constexpr std::uint32_t knownWord = 0xC0FFEE42;

// A child process that stays until killed; reaped on destruction.
class Child {
public:
    pid_t pid = -1;

    ~Child() { end(); }
    void end() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

// Forks a child with one readable page at a fixed low address, named like a terminal.
// Answers whether the child got ready.
bool startMemoryChild(Child& child) {
    int ready[2];
    if (::pipe(ready) != 0) return false;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::close(ready[0]);
        long page = ::sysconf(_SC_PAGESIZE);
        void* mapped = ::mmap(reinterpret_cast<void*>(pageAddress), static_cast<std::size_t>(page) * 2,
                              PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        char status = 'n';
        if (mapped == reinterpret_cast<void*>(pageAddress)) {
            // Only the first page stays, so the next one is surely unreadable.
            ::munmap(reinterpret_cast<char*>(mapped) + page, static_cast<std::size_t>(page));
            *reinterpret_cast<std::uint32_t*>(pageAddress + 16) = knownWord;
            ::prctl(PR_SET_NAME, "xINFO.EXE");
            ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
            status = 'y';
        }
        (void)!::write(ready[1], &status, 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char status = 0;
    bool got = ::read(ready[0], &status, 1) == 1 && status == 'y';
    ::close(ready[0]);
    return child.pid > 0 && got;
}

// Runs `path` with the given first argument; answers once the exec has happened.
bool startProgram(Child& child, const std::string& path, const std::string& firstArgument) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return false;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::close(ready[0]);
        const char* arguments[] = {firstArgument.c_str(), "60", nullptr};
        ::execv(path.c_str(), const_cast<char* const*>(arguments));
        (void)!::write(ready[1], "x", 1);
        ::_exit(127);
    }
    ::close(ready[1]);
    char failed = 0;
    // End of file: the pipe closed on exec.
    bool execed = ::read(ready[0], &failed, 1) == 0;
    ::close(ready[0]);
    return child.pid > 0 && execed;
}

std::string nameOf(ProcessAccess& access, pid_t pid) {
    for (const ProcessEntry& entry : access.listProcesses())
        if (entry.id == static_cast<std::uint32_t>(pid)) return entry.exeName;
    return "<missing>";
}

TEST(LinuxProcessAccess, FindsReadsAndLosesATerminalLikeProcess) {
    Child child;
    ASSERT_TRUE(startMemoryChild(child));
    auto access = makeSystemProcessAccess();

    std::vector<ProcessEntry> found;
    FindProcesses(*access, "info.exe", found);
    auto match = std::find_if(found.begin(), found.end(),
                              [&](const ProcessEntry& e) { return e.id == static_cast<std::uint32_t>(child.pid); });
    ASSERT_NE(match, found.end());
    EXPECT_EQ(match->exeName, "xINFO.EXE");

    auto handle = access->open(static_cast<std::uint32_t>(child.pid));
    ASSERT_TRUE(handle);
    std::uint32_t word = 0;
    EXPECT_TRUE(handle->read(pageAddress + 16, &word, sizeof word));
    EXPECT_EQ(word, knownWord);

    long page = ::sysconf(_SC_PAGESIZE);
    std::uint8_t bytes[8];
    EXPECT_FALSE(handle->read(0, bytes, 4));
    EXPECT_FALSE(handle->read(static_cast<TerminalAddress>(pageAddress + page - 4), bytes, 8));
    EXPECT_TRUE(handle->read(static_cast<TerminalAddress>(pageAddress + page - 4), bytes, 4));
    EXPECT_FALSE(handle->read(0xFFFFFFFC, bytes, 8));

    EXPECT_FALSE(handle->exited());
    pid_t ended = child.pid;
    ::kill(ended, SIGKILL);
    // Ended, while still listed until its parent collects it.
    bool exited = false;
    for (int i = 0; i < 200 && !exited; ++i, ::usleep(10000)) exited = handle->exited();
    EXPECT_TRUE(exited);
    child.end();
    EXPECT_TRUE(handle->exited());
    EXPECT_FALSE(handle->read(pageAddress + 16, &word, sizeof word));
    EXPECT_EQ(nameOf(*access, ended), "<missing>");
}

TEST(LinuxProcessAccess, OpeningAMissingProcessGivesNothing) {
    auto access = makeSystemProcessAccess();
    // Above the kernel's largest process id.
    EXPECT_EQ(access->open(4194304u + 7), nullptr);
}

TEST(LinuxProcessAccess, NamesComeFromWindowsPathOrUncutFileName) {
    velmora::testing::TempFolder folder;
    std::string longName = folder.file("averylongprogramname_info.exe");
    std::filesystem::create_symlink("/bin/sleep", longName);
    auto access = makeSystemProcessAccess();

    Child wine;
    ASSERT_TRUE(startProgram(wine, "/bin/sleep", "C:\\QUIK\\info.exe"));
    EXPECT_EQ(nameOf(*access, wine.pid), "info.exe");

    // The kernel keeps 15 characters of the name; the rest comes from the first argument.
    Child cut;
    ASSERT_TRUE(startProgram(cut, longName, longName));
    EXPECT_EQ(nameOf(*access, cut.pid), "averylongprogramname_info.exe");

    Child plain;
    ASSERT_TRUE(startProgram(plain, "/bin/sleep", "anything"));
    EXPECT_EQ(nameOf(*access, plain.pid), "sleep");
}

}  // namespace

TEST(LinuxProcessAccess, ProcessesEndingWhileTheListIsTakenAreSkipped) {
    // Short-lived processes come and go beside the listing, as on any busy machine; one that
    // ends between the opening and the reading of its files must not end the listing.
    std::atomic<bool> stop{false};
    // Each child stays a moment as a zombie, long enough to be listed, and is reaped at any point
    // of the listing after that.
    auto churn = [&] {
        pid_t zombies[16] = {};
        for (std::size_t next = 0; !stop; next = (next + 1) % std::size(zombies)) {
            if (zombies[next] > 0) waitpid(zombies[next], nullptr, 0);
            zombies[next] = fork();
            if (zombies[next] == 0) _exit(0);
        }
        for (pid_t zombie : zombies)
            if (zombie > 0) waitpid(zombie, nullptr, 0);
    };
    std::thread churners[] = {std::thread(churn), std::thread(churn)};
    auto halt = [&] {
        stop = true;
        for (std::thread& thread : churners) thread.join();
    };
    auto processes = makeSystemProcessAccess();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int lists = 0;
    try {
        for (; std::chrono::steady_clock::now() < end; ++lists) {
            auto list = processes->listProcesses();
            ASSERT_FALSE(list.empty());
        }
    } catch (const std::exception& error) {
        halt();
        FAIL() << "listing " << lists << " threw: " << error.what();
    }
    halt();
}

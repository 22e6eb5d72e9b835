#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::testing {

// A running stand-in terminal (build/bin/info.exe) started with the given arguments.
// Its stdout is read line by line; stderr goes to the test's own. The process is
// stopped when the object goes, and it is killed should the test process die first.
class StandinProcess {
public:
    // Starts the program and waits for its first line "DOMBASE=0x...". Throws when the
    // program cannot be started or ends without that line.
    explicit StandinProcess(const std::vector<std::string>& arguments);
    // Starts any program without waiting for a first line.
    StandinProcess(const std::string& session, const std::vector<std::string>& arguments);
    ~StandinProcess();
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    // Starts info.exe serving `folder` ("--folder folder" followed by `extra`).
    static std::vector<std::string> serving(const std::string& folder, std::vector<std::string> extra = {});

    pid_t pid() const { return pid_; }
    std::uint32_t domBase() const { return domBase_; }
    const std::string& firstLine() const { return firstLine_; }

    // The next line of stdout without its line end; none when the program closed its
    // stdout or nothing came within `timeout`.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Asks the program to end (SIGTERM), waits up to `grace`, then kills it. Answers its exit
    // status as waitpid reports it (on Windows: ends it at once, answers its exit code); safe to
    // call more than once.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(3));
    void kill();
    // Waits up to `timeout` for the program to end by itself; its status, or none.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

private:
    void start(const std::string& session, const std::vector<std::string>& arguments);

    pid_t pid_ = -1;
    int output_ = -1;              // Linux: the read end of the program's stdout
    void* process_ = nullptr;      // Windows: the process and the read end of its stdout
    void* outputPipe_ = nullptr;
    std::string pending_;
    std::string firstLine_;
    std::uint32_t domBase_ = 0;
    int status_ = 0;
};

}  // namespace velmora::testing

#include <functional>
#include <map>

#include "platform/process_access.h"

namespace velmora {
class Session;
class MainView;
}  // namespace velmora

namespace velmora::testing {

// One level of the stand-in's own account of its books (--dump-books).
struct BookLevel {
    char side = 0;  // 'B' or 'S'
    std::uint32_t price = 0;
    std::uint32_t quantity = 0;
    std::uint32_t own = 0;
};
// Ticker -> levels in book order (bids rising, then asks rising).
using BookDump = std::map<std::string, std::vector<BookLevel>>;

// The stand-in's next account of all its books; empty when none came whole within `timeout` a line.
BookDump readBookDump(StandinProcess& terminal, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Runs refresh ticks, 50 ms apart as the window's timer would, until `ready` holds; false when
// it still does not after `ticks` of them.
bool tickUntil(Session& session, MainView& view, const std::function<bool()>& ready, int ticks = 60);

// The system's process access narrowed to the test's own stand-ins, so a test finds only them
// even while other tests run theirs.
class OnlyProcess : public ProcessAccess {
public:
    OnlyProcess(std::unique_ptr<ProcessAccess> system, std::uint32_t processId)
        : system_(std::move(system)), processIds_{processId} {}
    // A later stand-in of the same test, e.g. one started after the first was killed.
    void allow(std::uint32_t processId) { processIds_.push_back(processId); }
    std::vector<ProcessEntry> listProcesses() override {
        std::vector<ProcessEntry> kept;
        for (ProcessEntry& entry : system_->listProcesses())
            for (std::uint32_t id : processIds_)
                if (entry.id == id) kept.push_back(std::move(entry));
        return kept;
    }
    std::unique_ptr<ProcessHandle> open(std::uint32_t processId) override { return system_->open(processId); }

private:
    std::unique_ptr<ProcessAccess> system_;
    std::vector<std::uint32_t> processIds_;
};

}  // namespace velmora::testing

#pragma once
#include <cstdint>
#include <memory>

#include "platform/process_access.h"
#include "terminal/terminal_watch.h"

namespace velmora {

// The terminal process whose memory is read, and whether what it shows can be trusted. The
// process and its id change together, on attach only.
class TerminalLink {
public:
    std::uint32_t processId() const { return processId_; }
    ProcessHandle* process() const { return process_.get(); }
    // Takes `process` (null when none could be opened) as the terminal to read.
    void attach(std::uint32_t processId, std::unique_ptr<ProcessHandle> process) {
        processId_ = processId;
        process_ = std::move(process);
    }
    // Whether there is no opened process or it has ended.
    bool processGone() const { return !process_ || process_->exited(); }

    TerminalWatch& watch() { return watch_; }
    const TerminalWatch& watch() const { return watch_; }

private:
    std::uint32_t processId_ = 0;
    std::unique_ptr<ProcessHandle> process_;
    TerminalWatch watch_;
};

}  // namespace velmora

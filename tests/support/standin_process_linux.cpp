#include "support/standin_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace velmora::testing {

void StandinProcess::start(const std::string& session, const std::vector<std::string>& arguments) {
    // Everything the child needs is prepared before fork: the test process may have threads.
    std::vector<std::string> texts{session};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(pipeEnds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    output_ = pipeEnds[0];
}

std::optional<std::string> StandinProcess::readLine(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (output_ < 0) return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd wait{output_, POLLIN, 0};
        int ready = poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char buffer[4096];
        ssize_t got = read(output_, buffer, sizeof buffer);
        if (got <= 0) {
            close(output_);
            output_ = -1;
            continue;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::optional<int> StandinProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (pid_ < 0) return status_;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno == ECHILD)) {
            pid_ = -1;
            status_ = status;
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int StandinProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!waitForExit(grace)) kill();
    }
    if (output_ >= 0) {
        close(output_);
        output_ = -1;
    }
    return status_;
}

void StandinProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(10));
}

}  // namespace velmora::testing

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "system.h"

namespace standin {

int superviseRestarts(const std::vector<std::string>& arguments, const volatile std::sig_atomic_t& stop) {
    std::vector<std::string> texts{"info.exe"};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    // Run by its real path: the kernel names a process after the file it was started from, and a
    // child started through /proc/self/exe would be "exe", which no reader looks for.
    char self[4096] = "/proc/self/exe";
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) self[length] = '\0';
    else std::strcpy(self, "/proc/self/exe");

    const pid_t parent = getpid();
    while (!stop) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child < 0) {
            std::fprintf(stderr, "info.exe: fork: %s\n", std::strerror(errno));
            return 1;
        }
        if (child == 0) {
            // A child must not outlive a supervisor that was killed.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);
            execv(self, argv.data());
            // The file was replaced since (a rebuild): the image itself still runs.
            execv("/proc/self/exe", argv.data());
            _exit(127);
        }
        // Polled rather than blocked on, so a stop that comes at any moment is passed on.
        int status = 0;
        bool stopSent = false;
        for (;;) {
            pid_t done = waitpid(child, &status, WNOHANG);
            if (done == child) break;
            if (done < 0 && errno != EINTR) return 1;
            if (stop && !stopSent) {
                kill(child, SIGTERM);
                stopSent = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (stop) return 0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "info.exe: the terminal ended with status %d; not restarting\n",
                         WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
            return 1;
        }
    }
    return 0;
}

}  // namespace standin

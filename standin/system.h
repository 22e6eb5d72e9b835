#pragma once
// What the stand-in terminal asks of the operating system; system_posix.cpp and
// system_windows.cpp answer it. Everything else of the stand-in is the same on both.
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace standin {

// Maps `size` zero-filled read-write bytes below 2 GiB, where a 32-bit reader can point:
// the first free of 0x10000000, 0x20000000, ... so that addresses repeat between runs.
// The last `unreadableTail` of those bytes are given no access, so reads there fail.
void* mapLow(std::size_t size, std::size_t unreadableTail = 0);
// Gives back a block from mapLow; `size` as passed there.
void unmapLow(void* memory, std::size_t size);

// Lets other processes of the same user read this process's memory.
void allowReaders();

// From now on a request to stop (SIGTERM or SIGINT; on Windows a console's Ctrl+C, Ctrl+Break or
// close) sets `flag` instead of ending the process.
void stopOnRequest(volatile std::sig_atomic_t& flag);

// The id other programs list this process under.
unsigned long processId();

// Creates the folder when it is missing; its parent must exist.
void makeFolder(const std::string& path);

// The folder as one canonical absolute text: trailing "/" or "\" removed, then resolved.
// Empty when the folder does not exist.
std::string canonicalFolder(const std::string& folder);

// The text that tells folders apart: the canonical folder itself where names are case-sensitive,
// with A..Z folded to a..z on Windows, where they are not.
std::string folderKey(const std::string& canonical);

// A canonical folder followed by the separator that starts a file name inside it.
std::string folderPrefix(const std::string& canonical);

// The path under which a Linux program reaches `path`: itself on Linux; under Wine the Unix
// path behind the Windows one; empty where no such path exists.
std::string linuxPath(const std::string& path);

// The whole content of a file, and an identity that changes when the file is replaced by
// another. False when the file cannot be opened.
bool readWholeFile(const std::string& path, std::string& content, std::uint64_t& identity);

// A new connection of the library (`joined`, greeted already), or a transaction text it sent.
struct LinkEvent {
    std::uint64_t client = 0;
    bool joined = false;
    std::string text;
};

// Where the terminal library's transactions arrive and its replies leave: a local socket on
// Linux, a pipe on Windows. Serving a folder is exclusive: it throws when another stand-in
// already serves the same one.
class LibraryLink {
public:
    explicit LibraryLink(const std::string& canonicalFolder);
    ~LibraryLink();
    LibraryLink(const LibraryLink&) = delete;
    LibraryLink& operator=(const LibraryLink&) = delete;

    // Waits up to `timeout` (a signal may cut it short) and answers what came meanwhile, in order.
    std::vector<LinkEvent> wait(std::chrono::milliseconds timeout);
    // One message to one connection; a connection gone or not reading loses it.
    void send(std::uint64_t client, const std::string& message);
    // From now on `client` gets what is broadcast.
    void admit(std::uint64_t client);
    void broadcast(const std::string& message);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Runs this program again and again with `arguments`: each child serves for a while and
// exits, and a fresh one (a new process, a new id) takes its place, the way a terminal is
// closed and started again. Ends when `stop` is set (passing the stop on to the child) or
// when a child fails; answers the exit status.
int superviseRestarts(const std::vector<std::string>& arguments, const volatile std::sig_atomic_t& stop);

}  // namespace standin

#pragma once
#include <csignal>
#include <string>
#include <vector>

namespace standin {

// Runs this program again and again with `arguments`: each child serves for a while and
// exits, and a fresh one (a new process, a new id) takes its place, the way a terminal is
// closed and started again. Ends when `stop` is set (passing the stop on to the child) or
// when a child fails; answers the exit status.
int superviseRestarts(const std::vector<std::string>& arguments, const volatile std::sig_atomic_t& stop);

}  // namespace standin

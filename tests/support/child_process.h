// Starting and stopping the testbed's programs as child processes of a test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vorta_test {

// Starts the program `args[0]` with `args`: standard output on a pipe whose
// read end goes to `out_fd`, standard input on /dev/null. The child is told
// to end when the thread that started it ends (PR_SET_PDEATHSIG). Returns
// the pid, or -1 (errno set) when the pipe or the fork failed.
pid_t SpawnWithOutputPipe(const std::vector<std::string>& args, int& out_fd);

// Reads `fd` until a line break has arrived, the pipe is closed or `timeout`
// has passed; returns everything read.
std::string ReadFirstLine(int fd, std::chrono::milliseconds timeout);

// SIGTERM, then waits for the child to end (SIGKILL after `grace`); the child
// is reaped either way.
void StopChild(pid_t pid, std::chrono::milliseconds grace);

}  // namespace vorta_test

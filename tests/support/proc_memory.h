// A process tree's memory as /proc reports it, for the benchmarks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vorta_test {

// The number of one "Key:   N kB" line of a /proc file, in kB; 0 without it.
long ProcKb(const std::string& file, const char* key);

// The process and all its descendants (the program and its web processes).
std::vector<pid_t> ProcessTree(pid_t root);

// The process's command name ("vorta-pc-tool", "WebKitWebProces").
std::string ProcessName(pid_t pid);

// Resident and proportional size (shared pages divided among the processes
// that map them), and the pages mapped by this process alone, in kB.
long ResidentKb(pid_t pid);
long ProportionalKb(pid_t pid);
long PrivateKb(pid_t pid);

}  // namespace vorta_test

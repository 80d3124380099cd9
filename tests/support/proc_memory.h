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

// The physical pages mapped by any of `pids`, each counted once, in kB: what
// the proportional sum comes to when no other program shares the libraries
// (a busy machine running other programs on the same libraries lowers the
// proportional figure; this one does not move). Needs the page frame numbers
// of /proc/<pid>/pagemap, which only a privileged reader gets: -1 otherwise.
// A mapping of more than 16 GiB (reserved address space, such as a
// sanitizer's shadow) is counted by its resident size instead.
long FootprintKb(const std::vector<pid_t>& pids);

// The footprint of `pids` (each physical page counted once, -1 as above)
// split by process and by what the pages are: a page goes to the first
// process of `pids` that maps it, under the name of its mapping (a
// library's or file's base name, "[heap]", "[stack]", "[anon]" for
// anonymous memory: the script heaps, the engine's own allocator, malloc's
// arenas past the heap), each share in kB.
struct FootprintShare {
    pid_t pid = 0;
    std::string mapping;
    long kb = 0;
};
std::vector<FootprintShare> FootprintByMapping(const std::vector<pid_t>& pids);

// The process's open file descriptors and its threads; -1 when it is gone.
int OpenDescriptors(pid_t pid);
int Threads(pid_t pid);

}  // namespace vorta_test

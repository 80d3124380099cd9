#include "tests/support/proc_memory.h"

#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace vorta_test {

namespace {
std::string ProcFile(pid_t pid, const char* name) {
    return "/proc/" + std::to_string(pid) + "/" + name;
}
}  // namespace

long ProcKb(const std::string& file, const char* key) {
    std::ifstream f(file);
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(f, line))
        if (line.compare(0, n, key) == 0) return std::atol(line.c_str() + n);
    return 0;
}

std::vector<pid_t> ProcessTree(pid_t root) {
    std::map<pid_t, pid_t> parent;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
            if (pid > 0) parent[pid] = static_cast<pid_t>(ProcKb(ProcFile(pid, "status"), "PPid:"));
        }
        closedir(d);
    }
    std::vector<pid_t> tree{root};
    for (size_t i = 0; i < tree.size(); ++i)
        for (const auto& [pid, ppid] : parent)
            if (ppid == tree[i]) tree.push_back(pid);
    return tree;
}

std::string ProcessName(pid_t pid) {
    std::ifstream f(ProcFile(pid, "comm"));
    std::string s;
    std::getline(f, s);
    return s;
}

long ResidentKb(pid_t pid) {
    return ProcKb(ProcFile(pid, "status"), "VmRSS:");
}
long ProportionalKb(pid_t pid) {
    return ProcKb(ProcFile(pid, "smaps_rollup"), "Pss:");
}
long PrivateKb(pid_t pid) {
    const std::string rollup = ProcFile(pid, "smaps_rollup");
    return ProcKb(rollup, "Private_Clean:") + ProcKb(rollup, "Private_Dirty:");
}

}  // namespace vorta_test

#include "tests/support/proc_memory.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <unordered_set>

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

long FootprintKb(const std::vector<pid_t>& pids) {
    std::unordered_set<uint64_t> frames;
    const long page = sysconf(_SC_PAGESIZE);
    for (pid_t pid : pids) {
        std::ifstream maps(ProcFile(pid, "maps"));
        FILE* pagemap = std::fopen(ProcFile(pid, "pagemap").c_str(), "rb");
        if (!pagemap) continue;
        std::string line;
        std::vector<uint64_t> entries;
        while (std::getline(maps, line)) {
            unsigned long long from = 0, to = 0;
            if (std::sscanf(line.c_str(), "%llx-%llx", &from, &to) != 2 || to <= from) continue;
            if (line.find("[vsyscall]") != std::string::npos) continue;
            const size_t n = (to - from) / static_cast<unsigned long long>(page);
            entries.resize(n);
            if (fseeko(pagemap, static_cast<off_t>(from / page * 8), SEEK_SET) != 0) continue;
            const size_t got = std::fread(entries.data(), 8, n, pagemap);
            for (size_t i = 0; i < got; ++i) {
                const uint64_t e = entries[i];
                if (!(e >> 63 & 1)) continue;  // not present (swapped pages are not counted)
                const uint64_t pfn = e & ((1ULL << 55) - 1);
                if (pfn == 0) {
                    std::fclose(pagemap);
                    return -1;
                }
                frames.insert(pfn);
            }
        }
        std::fclose(pagemap);
    }
    return static_cast<long>(frames.size() * static_cast<size_t>(page) / 1024);
}

int OpenDescriptors(pid_t pid) {
    DIR* d = opendir(ProcFile(pid, "fd").c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

int Threads(pid_t pid) {
    std::ifstream f(ProcFile(pid, "status"));
    if (!f) return -1;
    return static_cast<int>(ProcKb(ProcFile(pid, "status"), "Threads:"));
}

}  // namespace vorta_test

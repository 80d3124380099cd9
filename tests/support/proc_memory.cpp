#include "tests/support/proc_memory.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <unordered_set>
#include <vector>

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

namespace {

struct Mapping {
    unsigned long long from, to;
    long rss_kb;
};

// The process's mappings with their resident size, from its smaps.
std::vector<Mapping> Mappings(pid_t pid) {
    std::vector<Mapping> all;
    std::ifstream smaps(ProcFile(pid, "smaps"));
    std::string line;
    while (std::getline(smaps, line)) {
        unsigned long long from = 0, to = 0;
        // Header lines start with the range; the others with a key ("Rss:").
        if (std::sscanf(line.c_str(), "%llx-%llx", &from, &to) == 2) {
            if (to > from && line.find("[vsyscall]") == std::string::npos) all.push_back({from, to, 0});
            else all.push_back({0, 0, 0});
        } else if (!all.empty() && line.compare(0, 4, "Rss:") == 0) {
            all.back().rss_kb = std::atol(line.c_str() + 4);
        }
    }
    return all;
}

// Mappings larger than this are address space set aside (a sanitizer's
// shadow, an allocator's reserve): reading their page table entries would
// mean gigabytes of reads for a few resident pages. Their resident size is
// counted as it is.
constexpr unsigned long long kLargestRead = 16ULL << 30;
// Page table entries read at a time.
constexpr size_t kChunk = 1 << 16;

}  // namespace

long FootprintKb(const std::vector<pid_t>& pids) {
    std::unordered_set<uint64_t> frames;
    long unread_kb = 0;
    const unsigned long long page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
    std::vector<uint64_t> entries(kChunk);
    for (pid_t pid : pids) {
        const std::vector<Mapping> mappings = Mappings(pid);
        FILE* pagemap = std::fopen(ProcFile(pid, "pagemap").c_str(), "rb");
        if (!pagemap) continue;
        for (const Mapping& m : mappings) {
            if (m.rss_kb == 0) continue;  // nothing present to count
            if (m.to - m.from > kLargestRead) {
                unread_kb += m.rss_kb;
                continue;
            }
            for (unsigned long long at = m.from / page; at < m.to / page; at += kChunk) {
                const size_t n = static_cast<size_t>(std::min<unsigned long long>(kChunk, m.to / page - at));
                if (fseeko(pagemap, static_cast<off_t>(at * 8), SEEK_SET) != 0) break;
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
                if (got < n) break;
            }
        }
        std::fclose(pagemap);
    }
    return static_cast<long>(frames.size() * page / 1024) + unread_kb;
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

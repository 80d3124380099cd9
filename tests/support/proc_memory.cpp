#include "tests/support/proc_memory.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
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

// The name a mapping's pages are counted under: the base name of its file,
// the kernel's name in brackets, or "[anon]".
std::string MappingName(const std::string& line) {
    // address perms offset dev inode [path]: the path starts after five fields.
    size_t at = 0;
    for (int field = 0; field < 5 && at != std::string::npos; ++field) {
        at = line.find_first_not_of(' ', at);
        at = at == std::string::npos ? at : line.find(' ', at);
    }
    at = at == std::string::npos ? at : line.find_first_not_of(' ', at);
    if (at == std::string::npos) return "[anon]";
    std::string path = line.substr(at);
    if (path[0] == '[') return path.compare(0, 6, "[anon:") == 0 ? "[anon]" : path;
    const size_t deleted = path.rfind(" (deleted)");
    if (deleted != std::string::npos && deleted + 10 == path.size()) path.resize(deleted);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Mapping {
    unsigned long long from, to;
    long rss_kb;
    std::string name;
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
            if (to > from && line.find("[vsyscall]") == std::string::npos)
                all.push_back({from, to, 0, MappingName(line)});
            else all.push_back({0, 0, 0, std::string()});
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

// Calls on_page(pid, mapping name, frame) for every present page of `pids`,
// and on_unread(pid, mapping name, kB) for each mapping counted by its
// resident size; false when the frame numbers are hidden from this reader.
template <typename OnPage, typename OnUnread>
bool ForEachPage(const std::vector<pid_t>& pids, OnPage on_page, OnUnread on_unread) {
    const unsigned long long page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
    std::vector<uint64_t> entries(kChunk);
    for (pid_t pid : pids) {
        const std::vector<Mapping> mappings = Mappings(pid);
        FILE* pagemap = std::fopen(ProcFile(pid, "pagemap").c_str(), "rb");
        if (!pagemap) continue;
        for (const Mapping& m : mappings) {
            if (m.rss_kb == 0) continue;  // nothing present to count
            if (m.to - m.from > kLargestRead) {
                on_unread(pid, m.name, m.rss_kb);
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
                        return false;
                    }
                    on_page(pid, m.name, pfn);
                }
                if (got < n) break;
            }
        }
        std::fclose(pagemap);
    }
    return true;
}

}  // namespace

long FootprintKb(const std::vector<pid_t>& pids) {
    std::unordered_set<uint64_t> frames;
    long unread_kb = 0;
    if (!ForEachPage(
            pids, [&](pid_t, const std::string&, uint64_t pfn) { frames.insert(pfn); },
            [&](pid_t, const std::string&, long kb) { unread_kb += kb; }))
        return -1;
    return static_cast<long>(frames.size() * static_cast<size_t>(sysconf(_SC_PAGESIZE)) / 1024) + unread_kb;
}

std::vector<FootprintShare> FootprintByMapping(const std::vector<pid_t>& pids) {
    std::unordered_set<uint64_t> frames;
    const long kb_per_page = sysconf(_SC_PAGESIZE) / 1024;
    std::map<std::pair<pid_t, std::string>, long> kb;
    const bool ok = ForEachPage(
        pids,
        [&](pid_t pid, const std::string& name, uint64_t pfn) {
            if (frames.insert(pfn).second) kb[{pid, name}] += kb_per_page;
        },
        [&](pid_t pid, const std::string& name, long rss_kb) {
            kb[{pid, name}] += rss_kb;
        });
    std::vector<FootprintShare> out;
    if (!ok) return out;
    for (pid_t pid : pids)  // in the order of `pids`
        for (const auto& [key, n] : kb)
            if (key.first == pid) out.push_back(FootprintShare{pid, key.second, n});
    return out;
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

#include "tests/support/proc_memory.h"

#include <dirent.h>
#include <unistd.h>

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

// Calls on_page(pid, mapping name, frame) for every present page of `pids`;
// false when the frame numbers are hidden from this reader.
template <typename OnPage>
bool ForEachPage(const std::vector<pid_t>& pids, OnPage on_page) {
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
            const std::string name = got ? MappingName(line) : std::string();
            for (size_t i = 0; i < got; ++i) {
                const uint64_t e = entries[i];
                if (!(e >> 63 & 1)) continue;  // not present (swapped pages are not counted)
                const uint64_t pfn = e & ((1ULL << 55) - 1);
                if (pfn == 0) {
                    std::fclose(pagemap);
                    return false;
                }
                on_page(pid, name, pfn);
            }
        }
        std::fclose(pagemap);
    }
    return true;
}

}  // namespace

long FootprintKb(const std::vector<pid_t>& pids) {
    std::unordered_set<uint64_t> frames;
    if (!ForEachPage(pids, [&](pid_t, const std::string&, uint64_t pfn) { frames.insert(pfn); })) return -1;
    return static_cast<long>(frames.size() * static_cast<size_t>(sysconf(_SC_PAGESIZE)) / 1024);
}

std::vector<FootprintShare> FootprintByMapping(const std::vector<pid_t>& pids) {
    std::unordered_set<uint64_t> frames;
    std::map<std::pair<pid_t, std::string>, long> pages;
    const bool ok = ForEachPage(pids, [&](pid_t pid, const std::string& name, uint64_t pfn) {
        if (frames.insert(pfn).second) ++pages[{pid, name}];
    });
    std::vector<FootprintShare> out;
    if (!ok) return out;
    const long kb_per_page = sysconf(_SC_PAGESIZE) / 1024;
    for (pid_t pid : pids)  // in the order of `pids`
        for (const auto& [key, n] : pages)
            if (key.first == pid) out.push_back(FootprintShare{pid, key.second, n * kb_per_page});
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

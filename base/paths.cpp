#include "base/paths.h"

#include "base/app_state.h"

#include <glib.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kFolderName[] = "VORTA PC TOOL";

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string EnvPath(const char* name) {
    const char* v = std::getenv(name);
    // Relative values are ignored, as the XDG base directory rules say.
    if (v == nullptr || v[0] != '/') return std::string();
    return StripTrailingSlashes(v);
}

std::string HomeDir() {
    std::string home = EnvPath("HOME");
    if (home.empty()) {
        const char* g = g_get_home_dir();
        if (g != nullptr) home = StripTrailingSlashes(g);
    }
    return home;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `path` (and missing parents) with `mode`; true when it is a
// directory afterwards.
bool MakeDirs(const std::string& path, int mode) {
    if (path.empty()) return false;
    if (IsDirectory(path)) return true;
    return g_mkdir_with_parents(path.c_str(), mode) == 0 && IsDirectory(path);
}

}  // namespace

std::string ProgramDir() {
    std::string dir = EnvPath("VORTA_PROGRAM_DIR");
    if (!dir.empty()) return dir;
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return exe.substr(0, slash);
}

std::string ComputePageDir(const std::string& program_dir, const std::string& language) {
    return program_dir + "/" + language + "/";
}

void UpdatePageDir() {
    AppState.page_dir = ComputePageDir(ProgramDir(), AppState.language);
}

std::string PagePath(const std::string& file) {
    return AppState.page_dir + file;
}

std::string DataFolder() {
    std::string home = HomeDir();
    std::string docs;
    const char* special = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    if (special != nullptr && special[0] == '/') docs = StripTrailingSlashes(special);
    // An unset documents folder, or one set to the home folder itself (the
    // usual way of switching it off), falls back to ~/Documents.
    if (docs.empty() || docs == home) {
        if (home.empty()) return std::string();
        docs = home + "/Documents";
    }
    std::string folder = docs + "/" + kFolderName;
    return MakeDirs(folder, 0700) ? folder : std::string();
}

std::string ConfigFolder() {
    std::string base = EnvPath("XDG_CONFIG_HOME");
    if (base.empty()) {
        std::string home = EnvPath("HOME");
        if (!home.empty()) {
            base = home + "/.config";
        } else {
            const char* g = g_get_user_config_dir();
            if (g != nullptr && g[0] == '/') base = StripTrailingSlashes(g);
        }
    }
    if (base.empty()) return std::string();
    std::string folder = base + "/" + kFolderName;
    if (!MakeDirs(folder, 0700)) return std::string();
    // The folder holds the remembered password: keep it private even if an
    // older version or the user loosened it.
    ::chmod(folder.c_str(), 0700);
    return folder;
}

bool IsReadableRegularFile(const std::string& path, std::uint64_t max_bytes) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
           static_cast<std::uint64_t>(st.st_size) <= max_bytes && ::access(path.c_str(), R_OK) == 0;
}

bool UsableCaFile(const std::string& path) {
    return IsReadableRegularFile(path, kMaxCaFileBytes);
}

std::string ReadWholeFile(const std::string& path, std::uint64_t max_bytes) {
    // Non-blocking open: a FIFO or device given as a path must not hang the
    // program; it is refused below as not a regular file.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::string();
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > max_bytes) {
        ::close(fd);
        return std::string();
    }
    std::string data;
    data.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::string();
        }
        if (n == 0) break;
        // The file may have grown since it was measured.
        if (static_cast<std::uint64_t>(n) > max_bytes - data.size()) {
            ::close(fd);
            return std::string();
        }
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

#include "device/device_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Levels walked up from a tty's device link to its USB interface: the
// interface itself (ttyACM) or one level below it (usb-serial's ttyUSB port).
constexpr int kMaxWalkUp = 4;

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string value;
    if (!in || !std::getline(in, value)) return {};
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
    size_t start = 0;
    while (start < value.size() && std::isspace(static_cast<unsigned char>(value[start]))) ++start;
    return value.substr(start);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Natural order of tty names: the text part, then the trailing number.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
        const std::string digits = s.substr(i);
        // Strip leading zeros so "01" and "1" compare as numbers.
        size_t z = 0;
        while (z + 1 < digits.size() && digits[z] == '0') ++z;
        return std::make_pair(s.substr(0, i), digits.substr(z));
    };
    const auto pa = split(a);
    const auto pb = split(b);
    if (pa.first != pb.first) return pa.first < pb.first;
    if (pa.second.size() != pb.second.size()) return pa.second.size() < pb.second.size();
    if (pa.second != pb.second) return pa.second < pb.second;
    return a < b;
}

bool IsDiveComputerTty(const fs::path& tty_entry, const fs::path& sysfs_root) {
    std::error_code ec;
    const fs::path device = fs::canonical(tty_entry / "device", ec);
    if (ec) return false;
    const fs::path root = fs::canonical(sysfs_root, ec);
    if (ec) return false;

    fs::path dir = device;
    for (int level = 0; level <= kMaxWalkUp; ++level) {
        // Stay inside the sysfs tree.
        const auto rel = dir.lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..") return false;
        if (fs::exists(dir / "bInterfaceNumber", ec)) {
            // The USB interface: the ids that count are its parent's.
            const fs::path usb_device = dir.parent_path();
            return EqualsNoCase(ReadAttribute(usb_device / "idVendor"), kDeviceVendorId) &&
                   EqualsNoCase(ReadAttribute(usb_device / "idProduct"), kDeviceProductId);
        }
        if (dir == root || !dir.has_parent_path()) return false;
        dir = dir.parent_path();
    }
    return false;
}

std::vector<std::string> MatchingTtys(const std::string& sysfs_root) {
    std::vector<std::string> names;
    const fs::path class_dir = fs::path(sysfs_root) / "class" / "tty";
    std::error_code ec;
    fs::directory_iterator it(class_dir, ec);
    if (ec) return names;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (IsDiveComputerTty(entry.path(), sysfs_root)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

}  // namespace

PortProbe ProbePort(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM) return PortProbe::kAccessDenied;
        if (err == EBUSY) return PortProbe::kInUse;  // held with TIOCEXCL
        return PortProbe::kUnavailable;
    }
    PortProbe result = PortProbe::kOpened;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result = (errno == EWOULDBLOCK) ? PortProbe::kInUse : PortProbe::kUnavailable;
    } else {
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return result;
}

DevicePortResult SearchDevicePort(const std::string& override_port, const std::string& sysfs_root,
                                  const std::string& dev_root) {
    std::vector<std::string> candidates;
    if (!override_port.empty()) {
        candidates.push_back(override_port);
    } else {
        for (const auto& name : MatchingTtys(sysfs_root)) candidates.push_back((fs::path(dev_root) / name).string());
    }

    DevicePortResult result;
    for (const auto& path : candidates) {
        const PortProbe probe = ProbePort(path);
        if (probe == PortProbe::kOpened) {
            result.status = DevicePortStatus::kFound;
            result.path = path;
            return result;
        }
        if (probe == PortProbe::kAccessDenied && result.status != DevicePortStatus::kAccessDenied) {
            result.status = DevicePortStatus::kAccessDenied;
            result.path = path;
        }
    }
    return result;
}

std::string FindDevicePort(const std::string& sysfs_root, const std::string& dev_root) {
    const DevicePortResult r = SearchDevicePort("", sysfs_root, dev_root);
    return r.status == DevicePortStatus::kFound ? r.path : std::string();
}

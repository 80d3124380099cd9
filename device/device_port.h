// Finding the dive computer's serial port.
//
// A tty belongs to the dive computer when the USB device that its USB
// interface belongs to (the interface's parent, not the interface itself)
// has idVendor 1915 and idProduct 52f0, compared without case. Candidates
// are tried in a stable order (tty names in natural order: ttyACM2 before
// ttyACM10); the first whose /dev node opens read/write and can be locked
// exclusively wins. A port held by another program is skipped.
#pragma once

#include <string>

constexpr const char* kDeviceVendorId = "1915";
constexpr const char* kDeviceProductId = "52f0";

enum class DevicePortStatus {
    kFound,         // `path` is the port to open
    kAccessDenied,  // a matching port exists but opening it was refused for lack of permission
    kNotFound,      // no matching port, or every matching port is in use
};

struct DevicePortResult {
    DevicePortStatus status = DevicePortStatus::kNotFound;
    // kFound: the port. kAccessDenied: the first port refused.
    std::string path;
};

// Full search. A non-empty `override_port` names the port outright (the
// configuration value device_port): sysfs is not consulted, but the port is
// still test-opened and locked like any candidate. A port that both exists
// and opens wins over a refused one; kAccessDenied only when nothing opened.
DevicePortResult SearchDevicePort(const std::string& override_port = "", const std::string& sysfs_root = "/sys",
                                  const std::string& dev_root = "/dev");

// The found port's path, or "" (no device, all in use, or access denied).
std::string FindDevicePort(const std::string& sysfs_root = "/sys", const std::string& dev_root = "/dev");

enum class PortProbe { kOpened, kInUse, kAccessDenied, kUnavailable };
// Opens `path` read/write, takes and drops an exclusive lock, closes it.
PortProbe ProbePort(const std::string& path);

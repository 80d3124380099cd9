// Port discovery on fake sysfs and /dev trees.
#include "device/device_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class FakeSystem {
public:
    FakeSystem() {
        char templ[] = "/tmp/vorta-sysfs-XXXXXX";
        root_ = ::mkdtemp(templ);
        ::chmod(root_.c_str(), 0755);
        fs::create_directories(sys() + "/class/tty");
        fs::create_directories(dev());
    }
    ~FakeSystem() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string sys() const { return root_ + "/sys"; }
    std::string dev() const { return root_ + "/dev"; }
    std::string node(const std::string& tty) const { return dev() + "/" + tty; }

    // A USB device with one interface carrying a tty, laid out the way the
    // kernel does: class/tty/NAME -> devices/.../IFACE/tty/NAME, whose
    // "device" link points at the interface. `usb_serial` puts the tty one
    // level below the interface (devices/.../IFACE/NAME/tty/NAME).
    void AddUsbTty(const std::string& tty, const std::string& vendor, const std::string& product,
                   bool usb_serial = false, const std::string& iface_vendor = "",
                   const std::string& iface_product = "") {
        const std::string usbdev = sys() + "/devices/pci0000:00/usb1/1-" + std::to_string(++ports_);
        const std::string iface = usbdev + "/1-" + std::to_string(ports_) + ":1.0";
        fs::create_directories(iface);
        Write(usbdev + "/idVendor", vendor);
        Write(usbdev + "/idProduct", product);
        Write(iface + "/bInterfaceNumber", "00");
        if (!iface_vendor.empty()) {
            Write(iface + "/idVendor", iface_vendor);
            Write(iface + "/idProduct", iface_product);
        }
        AddTty(tty, usb_serial ? iface + "/" + tty : iface);
    }

    // A tty that is not on USB (a built-in serial port).
    void AddPlatformTty(const std::string& tty) { AddTty(tty, sys() + "/devices/platform/serial8250"); }

    DevicePortResult Search(const std::string& override_port = "") const {
        return SearchDevicePort(override_port, sys(), dev());
    }

private:
    // The tty below `parent` (its "device" link points there), its class/tty
    // entry and its /dev node.
    void AddTty(const std::string& tty, const std::string& parent) {
        const std::string ttydir = parent + "/tty/" + tty;
        fs::create_directories(ttydir);
        fs::create_symlink(fs::relative(parent, ttydir), ttydir + "/device");
        fs::create_directory_symlink(fs::relative(ttydir, sys() + "/class/tty"), sys() + "/class/tty/" + tty);
        Write(node(tty), "");
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path) << text << (text.empty() ? "" : "\n");
    }
    std::string root_;
    int ports_ = 0;
};

// Another program holding the port.
class Holder {
public:
    explicit Holder(const std::string& path) : fd_(::open(path.c_str(), O_RDWR)) {
        EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
    }
    ~Holder() { ::close(fd_); }

private:
    int fd_;
};

TEST(FindDevicePort, FirstMatchingPortInNaturalOrderWins) {
    FakeSystem sys;
    sys.AddUsbTty("ttyACM10", "1915", "52F0");
    sys.AddUsbTty("ttyACM2", "1915", "52F0");
    sys.AddUsbTty("ttyACM0", "0403", "6001");  // another maker's adapter
    sys.AddPlatformTty("ttyS0");
    EXPECT_EQ(FindDevicePort(sys.sys(), sys.dev()), sys.node("ttyACM2"));
    const DevicePortResult r = sys.Search();
    EXPECT_EQ(r.status, DevicePortStatus::kFound);
    EXPECT_EQ(r.path, sys.node("ttyACM2"));
}

TEST(FindDevicePort, PortInUseIsSkipped) {
    FakeSystem sys;
    sys.AddUsbTty("ttyACM0", "1915", "52f0");
    sys.AddUsbTty("ttyACM1", "1915", "52f0");
    {
        Holder busy(sys.node("ttyACM0"));
        EXPECT_EQ(FindDevicePort(sys.sys(), sys.dev()), sys.node("ttyACM1"));
        Holder busy_too(sys.node("ttyACM1"));
        EXPECT_EQ(sys.Search().status, DevicePortStatus::kNotFound);
        EXPECT_EQ(FindDevicePort(sys.sys(), sys.dev()), "");
    }
    EXPECT_EQ(FindDevicePort(sys.sys(), sys.dev()), sys.node("ttyACM0"));
}

TEST(FindDevicePort, IdsCountOnlyOnTheUsbDeviceAndWithoutCase) {
    FakeSystem sys;
    // The interface claims the ids but its device is something else.
    sys.AddUsbTty("ttyACM0", "0403", "6001", false, "1915", "52F0");
    EXPECT_EQ(sys.Search().status, DevicePortStatus::kNotFound);
    // Mixed case on the device; a usb-serial style tty one level deeper.
    sys.AddUsbTty("ttyUSB0", "1915", "52f0", true);
    EXPECT_EQ(FindDevicePort(sys.sys(), sys.dev()), sys.node("ttyUSB0"));
}

TEST(FindDevicePort, MissingOrEmptyTreesFindNothing) {
    EXPECT_EQ(SearchDevicePort("", "/nonexistent-sys", "/nonexistent-dev").status, DevicePortStatus::kNotFound);
    FakeSystem sys;
    sys.AddUsbTty("ttyACM0", "1915", "52f0");
    fs::remove(sys.node("ttyACM0"));  // sysfs entry without its /dev node
    EXPECT_EQ(sys.Search().status, DevicePortStatus::kNotFound);
}

TEST(FindDevicePort, OverrideBypassesSysfsButIsStillProbed) {
    FakeSystem sys;
    sys.AddUsbTty("ttyACM0", "1915", "52f0");
    const std::string other = sys.dev() + "/pts-7";
    std::ofstream(other).close();
    DevicePortResult r = sys.Search(other);
    EXPECT_EQ(r.status, DevicePortStatus::kFound);
    EXPECT_EQ(r.path, other);
    {
        Holder busy(other);
        EXPECT_EQ(sys.Search(other).status, DevicePortStatus::kNotFound);
    }
    EXPECT_EQ(sys.Search(sys.dev() + "/missing").status, DevicePortStatus::kNotFound);
}

// Runs `fn` in a child process without root's privileges (as "nobody" when
// the tests run as root) and returns its exit code.
template <typename Fn>
int RunUnprivileged(Fn fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0) {
            const struct passwd* nobody = ::getpwnam("nobody");
            const uid_t uid = nobody ? nobody->pw_uid : 65534;
            const gid_t gid = nobody ? nobody->pw_gid : 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(100);
        }
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST(FindDevicePort, PermissionDeniedIsReportedAsSuch) {
    FakeSystem sys;
    sys.AddUsbTty("ttyACM0", "1915", "52f0");
    sys.AddUsbTty("ttyACM1", "1915", "52f0");
    ::chmod(sys.node("ttyACM0").c_str(), 0600);
    ::chmod(sys.node("ttyACM1").c_str(), 0600);
    if (::geteuid() != 0) {
        ::chmod(sys.node("ttyACM0").c_str(), 0);
        ::chmod(sys.node("ttyACM1").c_str(), 0);
    }
    const std::string expected = sys.node("ttyACM0");
    const int code = RunUnprivileged([&] {
        const DevicePortResult r = sys.Search();
        if (r.status != DevicePortStatus::kAccessDenied) return 1;
        if (r.path != expected) return 2;
        if (!FindDevicePort(sys.sys(), sys.dev()).empty()) return 3;
        return 0;
    });
    EXPECT_EQ(code, 0);

    // A port that opens wins over one refused.
    ::chmod(sys.node("ttyACM1").c_str(), 0666);
    const std::string open_one = sys.node("ttyACM1");
    EXPECT_EQ(RunUnprivileged([&] {
                  const DevicePortResult r = sys.Search();
                  return r.status == DevicePortStatus::kFound && r.path == open_one ? 0 : 1;
              }),
              0);
}

}  // namespace

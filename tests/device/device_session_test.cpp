// Every way out of a device session, against a recording device: what the
// device hears (EndLink exactly once, last, and only once identified), that
// the port is closed, and which message the caller is given.
#include "device/device_session.h"
#include "tests/support/fake_peers.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include <functional>
#include <string>
#include <vector>

using vorta_test::FakeDevice;

namespace {

enum class Opens { kYes, kRaises, kNull };

struct Case {
    const char* name;
    DevicePortStatus port;
    Opens opens;
    bool identify_fails;
    // What the caller does with an open session before it goes.
    std::function<void(DeviceSession&)> work;
    bool opened;
    DeviceSessionState state;
    const char* key;
    const char* detail;
    std::vector<std::string> trace;
};

void Nothing(DeviceSession&) {}

}  // namespace

TEST(DeviceSession, EveryWayOutEndsTheLinkOnceIfIdentifiedAndClosesThePort) {
    const Case cases[] = {
        {"no device",
         DevicePortStatus::kNotFound,
         Opens::kYes,
         false,
         Nothing,
         false,
         DeviceSessionState::kNoPort,
         "USB_NOT_CONN",
         "",
         {}},
        {"access denied",
         DevicePortStatus::kAccessDenied,
         Opens::kYes,
         false,
         Nothing,
         false,
         DeviceSessionState::kAccessDenied,
         "USB_NOT_CONN",
         "USB_ACCESS_DENIED",
         {}},
        {"open raises",
         DevicePortStatus::kFound,
         Opens::kRaises,
         false,
         Nothing,
         false,
         DeviceSessionState::kOpenFailed,
         "USB_NOT_CONN",
         "",
         {}},
        {"open gives nothing",
         DevicePortStatus::kFound,
         Opens::kNull,
         false,
         Nothing,
         false,
         DeviceSessionState::kOpenFailed,
         "USB_NOT_CONN",
         "",
         {}},
        // The identify request went out, but there is no link to end.
        {"identify fails",
         DevicePortStatus::kFound,
         Opens::kYes,
         true,
         [](DeviceSession& s) { EXPECT_EQ(s.EndLink(), 0u); },
         false,
         DeviceSessionState::kNotIdentified,
         "NOT_SUPPOR_DEVICE",
         "",
         {"IDENTIFY"}},
        // The cloud cannot be reached: the caller ends the link at once.
        {"caller ends the link",
         DevicePortStatus::kFound,
         Opens::kYes,
         false,
         [](DeviceSession& s) {
             EXPECT_EQ(s.EndLink(), 40u);
             EXPECT_EQ(s.EndLink(), 0u);
         },
         true,
         DeviceSessionState::kIdentified,
         "",
         "",
         {"IDENTIFY", "END"}},
        // A worker ends the link itself; the caller's EndLink after it (no
        // thread for the worker, say) and the scope's end send nothing more,
        // and nothing reaches the device after it.
        {"worker ends the link",
         DevicePortStatus::kFound,
         Opens::kYes,
         false,
         [](DeviceSession& s) {
             uint8_t block[4096];
             EXPECT_TRUE(s.link().ReadBlock(0, block, 16));
             EXPECT_EQ(s.link().EndLink(), 40u);
             EXPECT_TRUE(s.link_ended());
             EXPECT_FALSE(s.link().ReadBlock(4096, block, 16));
             EXPECT_FALSE(s.link().WriteBlock(0, block));
             s.link().FinishFirmwareUpdate();
             EXPECT_EQ(s.EndLink(), 0u);
         },
         true,
         DeviceSessionState::kIdentified,
         "",
         "",
         {"IDENTIFY", "READ 0 16", "END"}},
        // Nobody ends it: leaving the scope does.
        {"work leaves it to the scope",
         DevicePortStatus::kFound,
         Opens::kYes,
         false,
         [](DeviceSession& s) {
             uint8_t block[4096] = {};
             EXPECT_TRUE(s.link().WriteBlock(8192, block));
             s.link().FinishFirmwareUpdate();
         },
         true,
         DeviceSessionState::kIdentified,
         "",
         "",
         {"IDENTIFY", "WRITE 8192", "FIRMWARE_DONE", "END"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevice device;
        device.fail_info = c.identify_fails;
        device.firmware_version_text = "1.031";
        device.info_value = 77;
        device.model = "K7X";
        std::vector<std::string> searched, opened_paths;
        {
            DeviceSession session(
                [&](const std::string& override_port) {
                    searched.push_back(override_port);
                    return DevicePortResult{c.port, "/dev/ttyACM3"};
                },
                [&](const std::string& path) -> std::unique_ptr<DeviceLink> {
                    opened_paths.push_back(path);
                    if (c.opens == Opens::kRaises)
                        throw boost::system::system_error(boost::asio::error::no_such_device, "open");
                    if (c.opens == Opens::kNull) return nullptr;
                    return device.Borrow();
                });
            EXPECT_EQ(session.Open("/dev/configured"), c.opened);
            EXPECT_EQ(session.state(), c.state);
            EXPECT_EQ(session.failure_key(), c.key);
            EXPECT_EQ(session.failure_detail_key(), c.detail);
            c.work(session);
            EXPECT_EQ(device.closes, 0);  // open until the session goes

            // What the caller copies into the program's state.
            EXPECT_EQ(session.identify_sent(), !c.trace.empty());
            if (c.opened) {
                EXPECT_EQ(session.identity().firmware_version_text, "1.031");
                EXPECT_EQ(session.identity().info_value, 77u);
                EXPECT_EQ(session.identity().model, "K7X");
            } else {
                EXPECT_EQ(session.identity().firmware_version_text, "0.000");
                EXPECT_EQ(session.identity().info_value, 0u);
                EXPECT_EQ(session.identity().model, "K7");
            }
        }
        EXPECT_EQ(searched, std::vector<std::string>{"/dev/configured"});
        const bool found = c.port == DevicePortStatus::kFound;
        EXPECT_EQ(opened_paths, found ? std::vector<std::string>{"/dev/ttyACM3"} : std::vector<std::string>{});
        EXPECT_EQ(device.trace, c.trace);
        EXPECT_EQ(device.closes, found && c.opens == Opens::kYes ? 1 : 0);
    }
}

// The dive-log sync of the real program: device simulator on a pty, cloud
// emulator over HTTPS, the user clicking "upload".
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using vorta_test::CloudEmuProcess;
using vorta_test::CloudRequest;

namespace {

constexpr uint16_t kIdentify = 0x0030, kReadBlock = 0x0001, kEndLink = 0x9997;

uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Code(const DevSimProcess::Packet& p) {
    return static_cast<uint16_t>(p[2] | (p[3] << 8));
}

// The simulator's trace as "IDENTIFY", "READ addr len", "END".
std::vector<std::string> Commands(const DevSimProcess& sim) {
    std::vector<std::string> out;
    for (const auto& p : sim.Trace()) {
        switch (Code(p)) {
            case kIdentify: out.push_back("IDENTIFY"); break;
            case kReadBlock:
                out.push_back("READ " + std::to_string(U32(&p[8])) + " " + std::to_string(U32(&p[12])));
                break;
            case kEndLink: out.push_back("END"); break;
            default: out.push_back("OTHER " + std::to_string(Code(p)));
        }
    }
    return out;
}

// The trace once the link has ended (the worker sends EndLink just after it
// closes the progress dialog), or as it stands after 3 s.
std::vector<std::string> SettledCommands(const DevSimProcess& sim) {
    std::vector<std::string> out;
    E2eApp::WaitFor(
        [&] {
            out = Commands(sim);
            return !out.empty() && out.back() == "END";
        },
        3000);
    return out;
}

std::vector<CloudRequest> DeviceRequests(CloudEmuProcess& emu) {
    std::vector<CloudRequest> out;
    for (auto& r : emu.Log())
        if (r.path.rfind("/api/v1/devices/", 0) == 0 || r.path.rfind("/api/v2/devices/", 0) == 0) out.push_back(r);
    return out;
}

class SyncE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
        ASSERT_TRUE(emu.Start());
    }

    // Starts the simulator with `args`, the program pointed at both, and
    // signs in with the demo account.
    void StartSignedIn(const std::vector<std::string>& sim_args, bool with_device = true) {
        if (with_device) {
            std::vector<std::string> args = {"--firmware", "1.025", "--model", "K7"};
            args.insert(args.end(), sim_args.begin(), sim_args.end());
            ASSERT_TRUE(sim.Start(args)) << sim.error();
        }
        app.UseTestbed(emu, with_device ? sim.pty_path() : "");
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.SignInDemo());
        emu.Reset();
    }

    // Clicks "upload" and waits until the progress dialog has come and gone.
    // Returns the message shown meanwhile ("" for none) and collects the
    // stage lines seen.
    std::string Upload(std::set<std::string>* stages = nullptr, const std::function<void()>& during = nullptr) {
        EXPECT_TRUE(app.ClickOn("main.htm", "upload"));
        std::string message;
        bool saw_progress = false;
        E2eApp::WaitFor(
            [&] {
                bool progress = app.Visible("progress.htm");
                if (progress) {
                    saw_progress = true;
                    if (stages) stages->insert(app.Text("progress.htm", "MsgText1"));
                    if (during) during();
                }
                if (app.Visible("msg.htm")) {
                    message = app.TakeMessage(1000);
                    return !app.Visible("progress.htm");
                }
                return saw_progress && !progress;
            },
            90000);
        E2eApp::WaitFor([&] { return !app.Visible("progress.htm") && !app.Visible("msg.htm"); }, 10000);
        return message;
    }

    std::string Image() const {
        std::ifstream in(sim.image_path(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    CloudEmuProcess emu;
    DevSimProcess sim;
    E2eApp app;
};

}  // namespace

TEST_F(SyncE2e, FullSyncReadsWhatTheCloudAskedAndPostsItExactly) {
    StartSignedIn({"--dives", "6"});
    std::set<std::string> stages;
    EXPECT_EQ(Upload(&stages), "");
    EXPECT_TRUE(stages.count(E2eApp::Lang("COMPLETE_UPLOAD"))) << "the completion line was not shown";

    const std::string image = Image();
    ASSERT_GE(image.size(), 4096u);
    ASSERT_EQ(image.compare(0, 4, "VLOG"), 0);

    // Expected traffic: the index block, then each new dive's record in
    // steps of 4096, posted as the cloud asked.
    const auto requests = DeviceRequests(emu);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].verb, "GET");
    EXPECT_EQ(requests[0].path, "/api/v1/devices/headerInfo?model=K7&firmware_version=1025");
    const std::string auth = requests[0].Header("Authorization");
    EXPECT_EQ(auth.rfind("Bearer ", 0), 0u);
    EXPECT_GT(auth.size(), 7u);
    EXPECT_EQ(requests[1].path, "/api/v1/devices/getLogIndex?model=K7&length=4096&firmware_version=1025");
    EXPECT_EQ(requests[1].body, image.substr(0, 4096));

    std::vector<std::string> expected_device = {"IDENTIFY", "READ 0 4096"};
    const uint8_t* index = reinterpret_cast<const uint8_t*>(image.data());
    const unsigned count = index[6] | (index[7] << 8);
    size_t posts = 0;
    for (size_t i = 2; i < requests.size(); ++i) {
        const CloudRequest& r = requests[i];
        SCOPED_TRACE(r.path);
        EXPECT_EQ(r.verb, "POST");
        EXPECT_EQ(r.Header("Authorization"), auth);
        EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
        ASSERT_GE(r.body.size(), 8u);
        const uint32_t number = U32(reinterpret_cast<const uint8_t*>(r.body.data()) + 4);
        // The index entry of this dive gives where its record lies.
        uint32_t addr = 0, len = 0;
        for (unsigned k = 0; k < count; ++k) {
            const uint8_t* e = index + 16 + 16 * k;
            if (U32(e + 8) == number) addr = U32(e), len = U32(e + 4);
        }
        ASSERT_NE(len, 0u) << "posted a dive the device does not list";
        EXPECT_EQ(r.path,
                  "/api/v2/devices/addDivelogs?model=K7&length=" + std::to_string(len) + "&firmware_version=1025");
        EXPECT_EQ(r.body, image.substr(addr, len));
        for (uint32_t off = 0; off < len; off += 4096)
            expected_device.push_back("READ " + std::to_string(addr + off) + " " +
                                      std::to_string(std::min<uint32_t>(4096, len - off)));
        ++posts;
    }
    EXPECT_GT(posts, 0u) << "the emulator asked for no dives";
    expected_device.push_back("END");
    EXPECT_EQ(SettledCommands(sim), expected_device);
}

TEST_F(SyncE2e, NoDeviceSaysSoAndTouchesNothing) {
    StartSignedIn({}, false);
    EXPECT_TRUE(app.ClickOn("main.htm", "upload"));
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("USB_NOT_CONN"));
    EXPECT_TRUE(DeviceRequests(emu).empty());
}

TEST_F(SyncE2e, IdentifyFailureEndsWithoutEndLink) {
    // The device takes the identify request and never answers.
    StartSignedIn({"--silent-after", "0"});
    EXPECT_TRUE(app.ClickOn("main.htm", "upload"));
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("NOT_SUPPOR_DEVICE"));
    EXPECT_EQ(SettledCommands(sim), std::vector<std::string>{"IDENTIFY"});
    EXPECT_TRUE(DeviceRequests(emu).empty());
}

TEST_F(SyncE2e, CloudDownEndsTheLink) {
    StartSignedIn({});
    emu.Stop();
    EXPECT_EQ(Upload(), E2eApp::Lang("HOST_NOT_CONN"));
    EXPECT_EQ(SettledCommands(sim), (std::vector<std::string>{"IDENTIFY", "END"}));
}

TEST_F(SyncE2e, BadSumMidSyncStopsWithUsbErrorAndEndsTheLink) {
    // The second block read (the first dive record) carries a wrong sum.
    StartSignedIn({"--dives", "6", "--bad-sum-read", "2"});
    EXPECT_EQ(Upload(), E2eApp::Lang("USB_ERROR"));
    auto commands = SettledCommands(sim);
    ASSERT_EQ(commands.size(), 4u) << ::testing::PrintToString(commands);
    EXPECT_EQ(commands[0], "IDENTIFY");
    EXPECT_EQ(commands[1], "READ 0 4096");
    EXPECT_EQ(commands[2].rfind("READ ", 0), 0u);
    EXPECT_EQ(commands[3], "END");
    // Only the index was posted.
    auto requests = DeviceRequests(emu);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].path.find("getLogIndex"), std::string::npos);
}

TEST_F(SyncE2e, CancelStopsQuietlyAndEndsTheLink) {
    StartSignedIn({"--dives", "6"});
    // The index post answers slowly, leaving time to press Cancel.
    vorta_test::CloudFault slow;
    slow.kind = "slow";
    slow.path = "/api/v1/devices/getLogIndex";
    slow.delay_ms = 2500;
    ASSERT_TRUE(emu.SetFault(slow));
    bool clicked = false;
    std::string message = Upload(nullptr, [&] {
        if (!clicked && app.Text("progress.htm", "MsgText1") == E2eApp::Lang("UPLOAING_LOG"))
            clicked = app.ClickOn("progress.htm", "cancel");
    });
    EXPECT_TRUE(clicked);
    EXPECT_EQ(message, "");
    EXPECT_EQ(SettledCommands(sim), (std::vector<std::string>{"IDENTIFY", "READ 0 4096", "END"}));
    auto requests = DeviceRequests(emu);
    EXPECT_EQ(requests.size(), 2u);  // instructions and the index, no dive
}

// A logout (SIGTERM; Ctrl-C's SIGINT takes the same way) in the middle of a
// sync: the sync stops as Cancel stops it, the device link is ended, the
// program exits normally and takes its automation socket with it.
TEST_F(SyncE2e, EndingTheProgramMidSyncEndsTheLinkAndExitsCleanly) {
    StartSignedIn({"--dives", "6"});
    vorta_test::CloudFault slow;
    slow.kind = "slow";
    slow.path = "/api/v1/devices/getLogIndex";
    slow.delay_ms = 2500;
    ASSERT_TRUE(emu.SetFault(slow));
    ASSERT_TRUE(app.ClickOn("main.htm", "upload"));
    ASSERT_TRUE(
        E2eApp::WaitFor([&] { return app.Text("progress.htm", "MsgText1") == E2eApp::Lang("UPLOAING_LOG"); }, 20000));
    ASSERT_EQ(::kill(app.pid(), SIGTERM), 0);
    EXPECT_EQ(app.WaitExit(20000), 0);
    EXPECT_EQ(SettledCommands(sim), (std::vector<std::string>{"IDENTIFY", "READ 0 4096", "END"}));
    EXPECT_FALSE(std::filesystem::exists(app.socket()));
}

TEST_F(SyncE2e, DeviceGoneMidSyncEndsWithUsbError) {
    // The simulator hangs up after the identify and the first read request.
    StartSignedIn({"--dives", "6", "--hangup-after", "3"});
    EXPECT_EQ(Upload(), E2eApp::Lang("USB_ERROR"));
    auto commands = SettledCommands(sim);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "IDENTIFY");
    EXPECT_EQ(commands[1], "READ 0 4096");
    EXPECT_TRUE(app.ui().Ping());  // the program is still there
}

TEST_F(SyncE2e, CloudDroppingMidSyncEndsWithHostNotConnAndEndLink) {
    StartSignedIn({"--dives", "6"});
    vorta_test::CloudFault drop;
    drop.kind = "drop";
    drop.path = "/api/v2/devices/addDivelogs";
    ASSERT_TRUE(emu.SetFault(drop));
    EXPECT_EQ(Upload(), E2eApp::Lang("HOST_NOT_CONN"));
    auto commands = SettledCommands(sim);
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands.back(), "END");
    // Nothing was read after the refused post.
    auto requests = DeviceRequests(emu);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[2].path.find("addDivelogs"), std::string::npos);
}

TEST_F(SyncE2e, PostLeftUnansweredIsNeverSentAgain) {
    // The cloud reads the whole first dive post, then closes the kept-alive
    // connection without a word: the post may have been stored, so it must
    // not go out a second time, and the sync fails as any lost answer.
    StartSignedIn({"--dives", "6"});
    vorta_test::CloudFault close;
    close.kind = "close";
    close.path = "/api/v2/devices/addDivelogs";
    ASSERT_TRUE(emu.SetFault(close));
    EXPECT_EQ(Upload(), E2eApp::Lang("HOST_NOT_CONN"));
    auto commands = SettledCommands(sim);
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands.back(), "END");
    const auto requests = DeviceRequests(emu);
    ASSERT_GE(requests.size(), 3u);
    ASSERT_NE(requests[2].path.find("addDivelogs"), std::string::npos);
    size_t copies = 0;
    for (const auto& r : requests) copies += r.path == requests[2].path && r.body == requests[2].body;
    EXPECT_EQ(copies, 1u);
    EXPECT_EQ(requests.size(), 3u);
}

TEST_F(SyncE2e, PortIsReleasedWhenTheWorkerFinishesAfterTheWindowWentIdle) {
    StartSignedIn({});
    emu.Stop();
    EXPECT_TRUE(app.ClickOn("main.htm", "upload"));
    // The worker waits in the "HOST_NOT_CONN" message: the device is
    // identified, the port is open.
    ASSERT_TRUE(E2eApp::WaitFor([&] { return app.Visible("msg.htm"); }, 15000));

    // Stop the line towards the device (as flow control would): the
    // worker's EndLink then waits out its whole time-out (1500 ms), long
    // after the progress dialog is gone and the window has gone idle.
    struct Line {
        int fd = -1;
        ~Line() {
            if (fd < 0) return;
            ::tcflow(fd, TCOON);
            ::close(fd);
        }
    } line;
    line.fd = ::open(sim.pty_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.fd < 0)
        VORTA_SKIP_OR_FAIL(std::string("cannot open the held port beside the program: ") + std::strerror(errno));
    ASSERT_EQ(::tcflow(line.fd, TCOOFF), 0);
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("HOST_NOT_CONN"));
    // From here on the program is left alone: nothing but the worker's end
    // may make it close the port.
    auto port_free = [&] {
        const int fd = ::open(sim.pty_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return free;
    };
    // EndLink gives up after 1500 ms; the port must follow soon after.
    EXPECT_TRUE(E2eApp::WaitFor(port_free, 4000)) << "the port is still held after the worker ended";
}

TEST_F(SyncE2e, ACompleteSyncAsksAgainForEveryStoredMonth) {
    StartSignedIn({"--dives", "6"});
    // This month and the two before it browsed, so stored; the calendar
    // back at this month.
    for (const char* id : {"lastmon", "lastmon", "nextmon", "nextmon"})
        ASSERT_TRUE(app.ClickOn("main.htm", id, "framepage1"));
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::set<std::string> stored;
    for (int back = 0; back < 3; ++back) {
        int y = local.tm_year + 1900, m = local.tm_mon + 1 - back;
        if (m < 1) m += 12, --y;
        char key[32];
        std::snprintf(key, sizeof key, "%.4d%.2d", y, m);
        stored.insert(std::string("/api/v1/divelogs/calendar/month?year_month=") + key);
    }
    emu.Reset();
    EXPECT_EQ(Upload(), "");

    // After the last dive posted, each stored month's summary, the one not
    // shown too.
    std::set<std::string> asked;
    E2eApp::WaitFor(
        [&] {
            asked.clear();
            const std::vector<CloudRequest> log = emu.Log();
            size_t last_post = 0;
            for (size_t i = 0; i < log.size(); ++i)
                if (log[i].verb == "POST") last_post = i;
            for (size_t i = last_post; i < log.size(); ++i)
                if (log[i].verb == "GET" && stored.count(log[i].path)) asked.insert(log[i].path);
            return asked == stored;
        },
        20000);
    EXPECT_EQ(asked, stored);
}

// The firmware and dive-site database updates of the real program: device
// simulator on a pty, cloud emulator over HTTPS, the user clicking
// "update_fw" / "update_ds" on the main page or on the sign-in page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "base/json_safe.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using vorta_test::CloudEmuProcess;
using vorta_test::CloudFault;

namespace {

constexpr uint16_t kIdentify = 0x0030, kData = 0x0005, kCommit = 0x0003, kEndLink = 0x9997, kFirmwareDone = 0x9999;
constexpr uint32_t kBlock = 4096;

uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Code(const DevSimProcess::Packet& p) {
    return static_cast<uint16_t>(p[2] | (p[3] << 8));
}

// What the device was told: "IDENTIFY", "WRITE addr" (with the block's bytes
// gathered from its chunks), "FIRMWARE_DONE", "END".
struct DeviceTraffic {
    std::vector<std::string> commands;
    std::vector<std::string> blocks;  // one per WRITE, in order
};

DeviceTraffic Traffic(const DevSimProcess& sim) {
    DeviceTraffic t;
    std::string block;
    for (const auto& p : sim.Trace()) {
        switch (Code(p)) {
            case kIdentify: t.commands.push_back("IDENTIFY"); break;
            case kData: block.append(reinterpret_cast<const char*>(&p[8]), 32); break;
            case kCommit:
                t.commands.push_back("WRITE " + std::to_string(U32(&p[8])));
                t.blocks.push_back(block);
                block.clear();
                break;
            case kEndLink: t.commands.push_back("END"); break;
            case kFirmwareDone: t.commands.push_back("FIRMWARE_DONE"); break;
            default: t.commands.push_back("OTHER " + std::to_string(Code(p)));
        }
    }
    return t;
}

// The traffic once the link has ended, or as it stands after 5 s.
DeviceTraffic SettledTraffic(const DevSimProcess& sim) {
    DeviceTraffic t;
    E2eApp::WaitFor(
        [&] {
            t = Traffic(sim);
            return !t.commands.empty() && t.commands.back() == "END";
        },
        5000);
    return t;
}

struct OfferedFile {
    int sequence = 0;
    uint32_t address = 0;
    std::string path;  // on the emulator, e.g. "/static/firmware/K7-1026-1.bin"
    std::string bytes;
};

class UpdateE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(emu.Start());
    }

    // Simulator (reporting firmware 1.025) and program, on the sign-in page
    // or, signed in, on the main page.
    void StartApp(bool signed_in) {
        ASSERT_TRUE(sim.Start({"--firmware", "1.025", "--model", "K7", "--dives", "2"})) << sim.error();
        app.UseTestbed(emu, sim.pty_path());
        ASSERT_TRUE(app.Start());
        if (signed_in) {
            ASSERT_TRUE(app.SignInDemo());
        } else {
            ASSERT_TRUE(app.ui().WaitWindow("login.htm", 20000));
        }
        emu.Reset();
    }

    // The files the emulator offers, fetched the way the program fetches them.
    std::vector<OfferedFile> Offered(const std::string& offer_path, const char* key) {
        std::vector<OfferedFile> out;
        Json::Value root;
        EXPECT_TRUE(json_safe::Parse(emu.Call("GET", offer_path).body, root));
        const Json::Value& files = json_safe::Member(json_safe::Member(root, "response"), key);
        for (Json::ArrayIndex i = 0; i < json_safe::Size(files); ++i) {
            const Json::Value& f = json_safe::Element(files, i);
            OfferedFile o;
            o.sequence = json_safe::Int(f, "sequence");
            o.address = static_cast<uint32_t>(json_safe::Member(f, "address").asUInt());
            o.path = json_safe::String(f, "file_path").substr(emu.base_url().size());
            o.bytes = emu.Call("GET", o.path).body;
            EXPECT_EQ(o.bytes.size(), json_safe::Member(f, "size").asUInt());
            out.push_back(o);
        }
        emu.Reset();
        return out;
    }

    // Clicks `id` on `page`; answers the question with yes and returns its
    // text. Then waits until the progress dialog has come and gone,
    // collecting its stage lines.
    std::string RunUpdate(const std::string& page, const std::string& id, std::set<std::string>& stages) {
        EXPECT_TRUE(app.ClickOn(page, id));
        EXPECT_TRUE(app.ui().WaitWindow("yes_no.htm", 20000));
        const std::string question = app.Text("yes_no.htm", "MsgText");
        EXPECT_TRUE(app.ClickOn("yes_no.htm", "ok"));
        bool saw_progress = false;
        E2eApp::WaitFor(
            [&] {
                const bool progress = app.Visible("progress.htm");
                if (progress) {
                    saw_progress = true;
                    stages.insert(app.Text("progress.htm", "MsgText1"));
                }
                return saw_progress && !progress;
            },
            120000);
        EXPECT_TRUE(saw_progress);
        return question;
    }

    std::string Image() const {
        std::ifstream in(sim.image_path(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string Local(const std::string& name) const {
        std::ifstream in(app.home() + "/Documents/VORTA PC TOOL/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // The device got exactly the offer's files, block by block (the last
    // block of a file filled up with 0xFF), and holds them in its memory.
    void ExpectWritten(const std::vector<OfferedFile>& files, const DeviceTraffic& t, bool firmware,
                       const char* local_prefix) {
        std::vector<std::string> commands = {"IDENTIFY"};
        std::vector<std::string> blocks;
        const std::string image = Image();
        for (const OfferedFile& f : files) {
            SCOPED_TRACE(f.sequence);
            const size_t padded = (f.bytes.size() + kBlock - 1) / kBlock * kBlock;
            const std::string expected = f.bytes + std::string(padded - f.bytes.size(), '\xFF');
            for (size_t off = 0; off < padded; off += kBlock) {
                commands.push_back("WRITE " + std::to_string(f.address + off));
                blocks.push_back(expected.substr(off, kBlock));
            }
            ASSERT_GE(image.size(), f.address + padded);
            EXPECT_TRUE(image.compare(f.address, padded, expected) == 0) << "the image differs from the file";
            EXPECT_TRUE(Local(local_prefix + std::to_string(f.sequence) + ".bin") == f.bytes);
        }
        if (firmware) commands.push_back("FIRMWARE_DONE");
        commands.push_back("END");
        EXPECT_EQ(t.commands, commands);
        EXPECT_TRUE(t.blocks == blocks) << "a written block differs from the file";
    }

    // A failed update: its line was shown, the link ended, no announcement.
    void ExpectFailedWith(const std::string& key, const std::set<std::string>& stages, size_t writes) {
        EXPECT_TRUE(stages.count(E2eApp::Lang(key))) << "the line " << key << " was not shown";
        EXPECT_FALSE(stages.count(E2eApp::Lang("UPDATE_COMPLETE")));
        const DeviceTraffic t = SettledTraffic(sim);
        ASSERT_FALSE(t.commands.empty());
        EXPECT_EQ(t.commands.front(), "IDENTIFY");
        EXPECT_EQ(t.commands.back(), "END");
        EXPECT_EQ(t.blocks.size(), writes);
        for (const auto& c : t.commands) EXPECT_NE(c, "FIRMWARE_DONE");
        EXPECT_FALSE(app.Visible("msg.htm")) << "update failures show in the progress dialog";
        EXPECT_TRUE(app.ui().Ping());
    }

    CloudEmuProcess emu;
    DevSimProcess sim;
    E2eApp app;
};

const char* kFirmwareOffer = "/api/v1/devices/firmwareUpdate?model=K7";
const char* kSiteOffer = "/api/v1/devices/divesites?model=K7";

}  // namespace

TEST_F(UpdateE2e, FirmwareFromTheMainPageWritesTheOfferedImagesExactly) {
    StartApp(true);
    const auto files = Offered(kFirmwareOffer, "firmware_files");
    ASSERT_EQ(files.size(), 2u);
    ASSERT_NE(files[0].bytes.size() % kBlock, 0u) << "the emulator should offer a partial last block";

    std::set<std::string> stages;
    const std::string question = RunUpdate("main.htm", "update_fw", stages);
    EXPECT_NE(question.find("1.025"), std::string::npos) << question;
    EXPECT_NE(question.find("1.026"), std::string::npos) << question;
    EXPECT_TRUE(stages.count(E2eApp::Lang("UPDATE_COMPLETE")));
    EXPECT_FALSE(app.Visible("msg.htm"));
    ExpectWritten(files, SettledTraffic(sim), true, "data");

    // The device now runs the new firmware, and says so when asked again.
    ASSERT_TRUE(app.ClickOn("main.htm", "update_fw"));
    ASSERT_TRUE(app.ui().WaitWindow("yes_no.htm", 20000));
    const std::string again = app.Text("yes_no.htm", "MsgText");
    EXPECT_EQ(again.find("1.025"), std::string::npos) << again;
    EXPECT_TRUE(app.ClickOn("yes_no.htm", "cancel"));
    const DeviceTraffic t = SettledTraffic(sim);
    ASSERT_GE(t.commands.size(), 2u);
    EXPECT_EQ(t.commands[t.commands.size() - 2], "IDENTIFY");
}

TEST_F(UpdateE2e, DiveSiteDatabaseFromTheSignInPageWritesItsFilesWithoutAnnouncing) {
    StartApp(false);
    const auto files = Offered(kSiteOffer, "divesite_files");
    ASSERT_GE(files.size(), 1u);

    std::set<std::string> stages;
    EXPECT_EQ(RunUpdate("login.htm", "update_ds", stages), E2eApp::Lang("SURE_UPDATE_DS"));
    EXPECT_TRUE(stages.count(E2eApp::Lang("UPDATE_COMPLETE")));
    ExpectWritten(files, SettledTraffic(sim), false, "ds");
    // Still on the sign-in page.
    EXPECT_TRUE(app.Visible("login.htm"));
}

TEST_F(UpdateE2e, FileAnswering404StopsWithUnableGetFile) {
    StartApp(true);
    CloudFault fault;
    fault.kind = "not_found";
    fault.path = "/static/firmware/";
    ASSERT_TRUE(emu.SetFault(fault));
    std::set<std::string> stages;
    RunUpdate("main.htm", "update_fw", stages);
    ExpectFailedWith("UNABLE_GET_FILE", stages, 0);
}

TEST_F(UpdateE2e, FileOfAnotherLengthStopsWithFileErrorAfterTheFilesBefore) {
    StartApp(true);
    const auto files = Offered(kFirmwareOffer, "firmware_files");
    ASSERT_EQ(files.size(), 2u);
    // The second image arrives cut short; the first was written whole.
    CloudFault cut;
    cut.kind = "truncate";
    cut.path = files[1].path;
    ASSERT_TRUE(emu.SetFault(cut));
    std::set<std::string> stages;
    RunUpdate("main.htm", "update_fw", stages);
    ExpectFailedWith("FILE_ERROR", stages, (files[0].bytes.size() + kBlock - 1) / kBlock);
}

TEST_F(UpdateE2e, MissingOrShortOfferSaysSoBeforeTheDeviceIsOpened) {
    StartApp(false);
    for (const char* kind : {"not_found", "short"}) {
        SCOPED_TRACE(kind);
        CloudFault fault;
        fault.kind = kind;
        fault.path = kFirmwareOffer;
        ASSERT_TRUE(emu.SetFault(fault));
        ASSERT_TRUE(app.ClickOn("login.htm", "update_fw"));
        EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("NO_UPDATE_INFO"));
    }
    EXPECT_TRUE(sim.Trace().empty()) << "the device was opened";
}

namespace {

// Every update file in the data folder ("data*.bin", "ds*.bin").
std::vector<std::string> UpdateFilesIn(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("data", 0) == 0 || name.rfind("ds", 0) == 0) out.push_back(name);
    }
    return out;
}

}  // namespace

TEST_F(UpdateE2e, FailedOfferDownloadNeverFallsBackToAnEarlierOffer) {
    StartApp(false);
    // Offers of an earlier run, one of them for a version the cloud no
    // longer offers.
    const std::string folder = app.home() + "/Documents/VORTA PC TOOL";
    std::filesystem::create_directories(folder);
    const std::string earlier = emu.Call("GET", kFirmwareOffer).body;
    ASSERT_NE(earlier.find("\"1026\""), std::string::npos);
    std::string old_firmware = earlier;
    old_firmware.replace(old_firmware.find("\"1026\""), 6, "\"1099\"");
    std::ofstream(folder + "/features.json") << old_firmware;
    std::ofstream(folder + "/divesite.json") << emu.Call("GET", kSiteOffer).body;
    emu.Reset();

    for (const char* id : {"update_fw", "update_ds"}) {
        SCOPED_TRACE(id);
        CloudFault fault;
        fault.kind = "not_found";
        fault.path = std::string(id) == "update_fw" ? kFirmwareOffer : kSiteOffer;
        ASSERT_TRUE(emu.SetFault(fault));
        ASSERT_TRUE(app.ClickOn("login.htm", id));
        EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("NO_UPDATE_INFO"));
    }
    EXPECT_FALSE(app.Visible("yes_no.htm")) << "an earlier offer was presented";
    EXPECT_TRUE(sim.Trace().empty()) << "the device was opened";
    EXPECT_FALSE(std::filesystem::exists(folder + "/features.json"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/divesite.json"));
}

TEST_F(UpdateE2e, OversizedFileIsStoppedAtItsSizeAndLeavesNoFile) {
    StartApp(true);
    const auto files = Offered(kFirmwareOffer, "firmware_files");
    ASSERT_EQ(files.size(), 2u);
    // The first image goes on past its size, 300 MiB in all, with no length
    // announced.
    CloudFault fault;
    fault.kind = "oversize";
    fault.path = files[0].path;
    ASSERT_TRUE(emu.SetFault(fault));
    std::set<std::string> stages;
    RunUpdate("main.htm", "update_fw", stages);
    ExpectFailedWith("FILE_ERROR", stages, 0);
    // Stopped near the size (socket buffers aside), not at the end. The
    // emulator counts what the connection took: the write that carries the
    // first byte past the size may be the one the program's close refuses.
    const long long sent = emu.Stats().oversize_sent;
    EXPECT_GE(sent, static_cast<long long>(files[0].bytes.size()));
    EXPECT_LT(sent, 64ll << 20);
    EXPECT_TRUE(UpdateFilesIn(app.home() + "/Documents/VORTA PC TOOL").empty());
}

TEST_F(UpdateE2e, FilesAreTakenOverHttpsOnlyRedirectsIncluded) {
    StartApp(true);
    const auto firmware = Offered(kFirmwareOffer, "firmware_files");
    ASSERT_EQ(firmware.size(), 2u);
    struct Case {
        const char* id;
        CloudFault fault;
    } cases[] = {
        // The database offer names its files on a plain-http host.
        {"update_ds", {"http_files", kSiteOffer}},
        // The second image is sent on to plain http; the first was written.
        {"update_fw", {"http_redirect", firmware[1].path}},
    };
    size_t writes = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault.kind);
        ASSERT_TRUE(emu.SetFault(c.fault));
        std::set<std::string> stages;
        RunUpdate("main.htm", c.id, stages);
        if (std::string(c.id) == "update_fw") writes += (firmware[0].bytes.size() + kBlock - 1) / kBlock;
        ExpectFailedWith("UNABLE_GET_FILE", stages, writes);
    }
    EXPECT_EQ(emu.Stats().plain_requests, 0) << "a file was fetched over plain http";
    EXPECT_TRUE(UpdateFilesIn(app.home() + "/Documents/VORTA PC TOOL").empty());

    // The emulator did offer plain-http files.
    CloudFault fault{"http_files", kSiteOffer};
    ASSERT_TRUE(emu.SetFault(fault));
    EXPECT_NE(emu.Call("GET", kSiteOffer).body.find("\"http://" + emu.host() + ":"), std::string::npos);
}

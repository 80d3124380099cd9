// The device updates against recording fakes: what is downloaded where,
// what is written to the device, what the progress dialog shows, how each
// failure ends, and the road from the click to the closed port.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "base/app_state.h"
#include "tests/support/fake_peers.h"
#include "update/update_engine.h"
#include "update/update_flow.h"

using namespace vorta_update;
using namespace vorta_test;

namespace {

// Answers each URL with scripted bytes; an unknown URL fails, and bytes over
// the limit are refused without a file, as the real downloader does. Records
// every download as "url -> file name" and the limit it was given.
class FakeDownloader : public Downloader {
public:
    std::map<std::string, std::string> files;
    std::vector<std::string> log;
    std::vector<uint64_t> limits;

    DownloadResult Download(const std::string& url, const std::string& path, uint64_t max_bytes) override {
        log.push_back(url + " -> " + std::filesystem::path(path).filename().string());
        limits.push_back(max_bytes);
        auto it = files.find(url);
        if (it == files.end()) return DownloadResult::kFailed;
        if (it->second.size() > max_bytes) return DownloadResult::kTooLarge;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << it->second;
        return DownloadResult::kOk;
    }
};

// Bytes that differ from block to block and from file to file.
std::string Bytes(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 12)) & 0xFF);
    return s;
}

std::string Entry(int sequence, const std::string& url, uint64_t address, uint64_t size) {
    return R"({"sequence":)" + std::to_string(sequence) + R"(,"file_path":")" + url + R"(","address":)" +
           std::to_string(address) + R"(,"size":)" + std::to_string(size) + "}";
}

std::string FirmwareOffer(const std::string& entries, const std::string& version = "\"1026\"") {
    std::string text = R"({"code":"0000000","message":"ok","response":{"firmware_version":)" + version +
                       R"(,"firmware_files":[)" + entries + "]}}";
    return text + std::string(300, ' ');
}

std::string SiteOffer(const std::string& entries) {
    return R"({"response":{"divesite_files":[)" + entries + "]}}";
}

struct UpdateRun : ::testing::Test {
    std::string folder;
    FakeDevice device;
    FakeDownloader downloader;
    FakeSink sink;

    void SetUp() override {
        char tmpl[] = "/tmp/vorta-update-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        folder = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    Outcome Run(OfferKind kind, const std::string& offer) {
        return RunUpdateWorker(kind, offer, folder, device, downloader, sink, UpdateTiming{0});
    }
    std::string Local(const std::string& name) const {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The dialog is closed once, after the last line, and then the link ended.
    void ExpectEnded(const std::string& last_status) const {
        ASSERT_GE(sink.events.size(), 2u);
        EXPECT_EQ(sink.events[sink.events.size() - 2], "status:" + last_status);
        EXPECT_EQ(sink.events.back(), "end:0");
        EXPECT_EQ(sink.With("end:").size(), 1u);
        ASSERT_FALSE(device.trace.empty());
        EXPECT_EQ(device.trace.back(), "END");
        EXPECT_EQ(device.end_links, 1);
        EXPECT_TRUE(sink.With("message:").empty()) << "update failures show in the progress dialog";
    }
};

}  // namespace

TEST_F(UpdateRun, TwoWholeBlockFilesCountAndWriteInOrderThenAnnounce) {
    downloader.files["https://h/a"] = Bytes(4096, 1);
    downloader.files["https://h/b"] = Bytes(4096, 2);
    const std::string offer =
        FirmwareOffer(Entry(1, "https://h/a", 0x10C000, 4096) + "," + Entry(2, "https://h/b", 0x200000, 4096));
    EXPECT_TRUE(Run(OfferKind::kFirmware, offer).ok());

    EXPECT_EQ(sink.With("counters:"),
              (std::vector<std::string>{"1/2 0/8192", "1/2 4096/8192", "2/2 4096/8192", "2/2 8192/8192"}));
    EXPECT_EQ(sink.With("progress:"), (std::vector<std::string>{"0", "50", "50", "100"}));
    EXPECT_EQ(sink.With("status:"), (std::vector<std::string>{"GET_UPDATE_FILE", "GET_UPDATE_FILE", "UPDATING",
                                                              "GET_UPDATE_FILE", "UPDATING", "UPDATE_COMPLETE"}));
    EXPECT_EQ(device.trace, (std::vector<std::string>{"WRITE " + std::to_string(0x10C000),
                                                      "WRITE " + std::to_string(0x200000), "FIRMWARE_DONE", "END"}));
    EXPECT_EQ(device.writes[0].data, Bytes(4096, 1));
    EXPECT_EQ(device.writes[1].data, Bytes(4096, 2));
    EXPECT_EQ(downloader.log, (std::vector<std::string>{"https://h/a -> data1.bin", "https://h/b -> data2.bin"}));
    // Each image may be no longer than its offer says.
    EXPECT_EQ(downloader.limits, (std::vector<uint64_t>{4096, 4096}));
    EXPECT_EQ(Local("data1.bin"), Bytes(4096, 1));
    EXPECT_EQ(Local("data2.bin"), Bytes(4096, 2));
    ExpectEnded("UPDATE_COMPLETE");
}

TEST_F(UpdateRun, PartialLastBlockIsWrittenPaddedWithErasedBytes) {
    const std::string image = Bytes(10000, 3);
    downloader.files["https://h/fw"] = image;
    EXPECT_TRUE(Run(OfferKind::kFirmware, FirmwareOffer(Entry(7, "https://h/fw", 0x10C000, 10000))).ok());

    ASSERT_EQ(device.writes.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(device.writes[i].addr, 0x10C000u + i * 4096);
    EXPECT_EQ(device.writes[0].data, image.substr(0, 4096));
    EXPECT_EQ(device.writes[1].data, image.substr(4096, 4096));
    EXPECT_EQ(device.writes[2].data, image.substr(8192) + std::string(4096 - 1808, '\xFF'));
    // The counters end at the file's size.
    EXPECT_EQ(sink.With("counters:").back(), "1/1 10000/10000");
    EXPECT_EQ(sink.With("progress:").back(), "100");
    EXPECT_EQ(device.trace[3], "FIRMWARE_DONE");
    ExpectEnded("UPDATE_COMPLETE");
}

TEST_F(UpdateRun, OffersWithoutFilesCompleteAndOnlyTheFirmwareAnnounces) {
    // An empty firmware list still ends the firmware update on the device.
    EXPECT_TRUE(Run(OfferKind::kFirmware, FirmwareOffer("")).ok());
    EXPECT_EQ(device.trace, (std::vector<std::string>{"FIRMWARE_DONE", "END"}));
    ExpectEnded("UPDATE_COMPLETE");

    // A database offer of one character passes the offer check and writes
    // nothing; the database update never announces.
    device = FakeDevice();
    sink = FakeSink();
    EXPECT_TRUE(Run(OfferKind::kDiveSite, "x").ok());
    EXPECT_EQ(device.trace, std::vector<std::string>{"END"});
    ExpectEnded("UPDATE_COMPLETE");
}

TEST_F(UpdateRun, DatabaseFilesAreNamedBySequenceAndNeverAnnounced) {
    downloader.files["https://h/2"] = Bytes(6000, 4);
    downloader.files["https://h/1"] = Bytes(64, 5);
    const std::string offer =
        SiteOffer(Entry(2, "https://h/2", 0x210000, 6000) + "," + Entry(1, "https://h/1", 0x212000, 64));
    EXPECT_TRUE(Run(OfferKind::kDiveSite, offer).ok());
    EXPECT_EQ(downloader.log, (std::vector<std::string>{"https://h/2 -> ds2.bin", "https://h/1 -> ds1.bin"}));
    EXPECT_EQ(Local("ds1.bin"), Bytes(64, 5));
    EXPECT_EQ(device.trace,
              (std::vector<std::string>{"WRITE " + std::to_string(0x210000), "WRITE " + std::to_string(0x211000),
                                        "WRITE " + std::to_string(0x212000), "END"}));
    EXPECT_EQ(device.writes[2].data, Bytes(64, 5) + std::string(4096 - 64, '\xFF'));
    EXPECT_EQ(sink.With("counters:").back(), "2/2 6064/6064");
    ExpectEnded("UPDATE_COMPLETE");
}

TEST_F(UpdateRun, EachFailureShowsItsLineAndEndsTheLinkWithoutAnnouncing) {
    const std::string a = "https://h/a", b = "https://h/b";
    struct Case {
        const char* what;
        std::string entries;
        std::map<std::string, std::string> files;
        int fail_write_at;
        std::string key;
        size_t writes;     // blocks sent to the device
        size_t downloads;  // downloads tried
    } cases[] = {
        {"second file not downloadable",
         Entry(1, a, 0, 4096) + "," + Entry(2, b, 4096, 4096),
         {{a, Bytes(4096, 1)}},
         -1,
         "UNABLE_GET_FILE",
         1,
         2},
        // A 404 page of another length where 8192 bytes were announced.
        {"length differs", Entry(1, a, 0, 8192), {{a, "<html>404 Not Found</html>"}}, -1, "FILE_ERROR", 0, 1},
        {"longer than announced", Entry(1, a, 0, 4096), {{a, Bytes(4097, 1)}}, -1, "FILE_ERROR", 0, 1},
        {"refused write",
         Entry(1, a, 0, 12288) + "," + Entry(2, b, 65536, 4096),
         {{a, Bytes(12288, 1)}, {b, "x"}},
         1,
         "USB_ERROR",
         2,
         1},
        // Entries the offer cannot stand behind refuse it before anything
        // is fetched or written, wherever they stand in the list.
        {"second file past 4 GiB",
         Entry(1, a, 0, 4096) + "," + Entry(2, b, 4294963200u, 4097),
         {{a, Bytes(4096, 1)}, {b, Bytes(4097, 1)}},
         -1,
         "FILE_ERROR",
         0,
         0},
        {"negative size",
         Entry(1, a, 0, 4096) + R"(,{"sequence":2,"file_path":"u","address":0,"size":-1})",
         {{a, Bytes(4096, 1)}},
         -1,
         "FILE_ERROR",
         0,
         0},
        {"negative address",
         R"({"sequence":1,"file_path":"u","address":-4096,"size":4096})",
         {},
         -1,
         "FILE_ERROR",
         0,
         0},
        {"path missing",
         Entry(1, a, 0, 4096) + R"(,{"sequence":2,"address":0,"size":1})",
         {{a, Bytes(4096, 1)}},
         -1,
         "UNABLE_GET_FILE",
         0,
         0},
        {"size as words",
         R"({"sequence":1,"file_path":"u","address":0,"size":"big"})",
         {},
         -1,
         "UNABLE_GET_FILE",
         0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        device = FakeDevice();
        device.fail_write_at = c.fail_write_at;
        sink = FakeSink();
        downloader = FakeDownloader();
        downloader.files = c.files;
        // An image of the same name from an earlier update.
        std::ofstream(folder + "/data2.bin") << "earlier";
        Outcome r = Run(OfferKind::kFirmware, FirmwareOffer(c.entries));
        EXPECT_TRUE(r.failed());
        EXPECT_EQ(r.key, c.key);
        EXPECT_EQ(device.writes.size(), c.writes);
        EXPECT_EQ(downloader.log.size(), c.downloads);
        for (const auto& t : device.trace) EXPECT_NE(t, "FIRMWARE_DONE");
        ExpectEnded(c.key);
        // No image of a failed update stays behind, whether this update
        // fetched it or an earlier one did.
        EXPECT_FALSE(std::filesystem::exists(folder + "/data1.bin"));
        const bool offers_second = c.entries.find(R"("sequence":2)") != std::string::npos;
        EXPECT_EQ(std::filesystem::exists(folder + "/data2.bin"), !(offers_second && c.downloads > 0));
    }
}

TEST_F(UpdateRun, FilesOfSizeZeroShowZeroPercentAndADeviceThatThrowsStillEnds) {
    downloader.files["https://h/e"] = "";
    EXPECT_TRUE(Run(OfferKind::kDiveSite, SiteOffer(Entry(1, "https://h/e", 0, 0))).ok());
    EXPECT_EQ(sink.With("counters:"), std::vector<std::string>{"1/1 0/0"});
    EXPECT_EQ(sink.With("progress:"), std::vector<std::string>{"0"});
    EXPECT_TRUE(device.writes.empty());

    // A link that throws mid-write: the worker still closes the dialog and
    // ends the link.
    struct ThrowingDevice : FakeDevice {
        bool WriteBlock(uint32_t, const uint8_t*) override { throw std::runtime_error("gone"); }
    } thrower;
    FakeSink sink2;
    downloader.files["https://h/a"] = Bytes(4096, 1);
    Outcome r = RunUpdateWorker(OfferKind::kFirmware, FirmwareOffer(Entry(1, "https://h/a", 0, 4096)), folder, thrower,
                                downloader, sink2, UpdateTiming{0});
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(sink2.events.back(), "end:0");
    EXPECT_EQ(thrower.trace, std::vector<std::string>{"END"});
}

TEST(UpdateOfferLoad, OnlyAnOfferFetchedNowIsPresented) {
    char tmpl[] = "/tmp/vorta-offer-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string folder = tmpl;
    const std::string earlier =
        R"({"response":{"firmware_version":"1099","firmware_files":[]}})" + std::string(300, ' ');
    struct Case {
        const char* what;
        OfferKind kind;
        std::string answer;  // "" = the download fails
        bool usable;
    } cases[] = {
        {"firmware offer missing", OfferKind::kFirmware, "", false},
        {"database offer missing", OfferKind::kDiveSite, "", false},
        {"database offer of 1 MiB", OfferKind::kDiveSite, std::string(1 << 20, 'x'), true},
        {"database offer over 1 MiB", OfferKind::kDiveSite, std::string((1 << 20) + 1, 'x'), false},
        {"database offer of one character", OfferKind::kDiveSite, "x", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder + (c.kind == OfferKind::kFirmware ? "/features.json" : "/divesite.json");
        std::ofstream(path) << earlier;
        FakeDownloader d;
        if (!c.answer.empty()) d.files["v"] = c.answer;
        std::string text = "stale";
        EXPECT_EQ(LoadOffer(c.kind, d, "v", folder, text), c.usable);
        EXPECT_EQ(d.limits, std::vector<uint64_t>{1 << 20});
        EXPECT_EQ(text, c.usable ? c.answer : "");
        // The earlier offer is gone unless this download replaced it.
        EXPECT_EQ(std::filesystem::exists(path), c.usable);
    }
    // No data folder: nothing is fetched (and nothing lands in "/").
    FakeDownloader d;
    std::string text;
    EXPECT_FALSE(LoadOffer(OfferKind::kDiveSite, d, "v", "", text));
    EXPECT_TRUE(d.log.empty());
    std::filesystem::remove_all(folder);
}

TEST(UpdateQuestion, VersionsFillTheFormatSafely) {
    struct Case {
        std::string format, expected;
    } cases[] = {
        {"Installed %s\nNew %s\nUpdate?", "Installed 1.025\nNew 1.026\nUpdate?"},
        {"%s -> %s (100%%)", "1.025 -> 1.026 (100%)"},
        // A damaged text table cannot make the formatting read past its
        // arguments.
        {"%n%d %s %s %s %", "%n%d 1.025 1.026  %"},
        {"no placeholders", "no placeholders"},
    };
    for (const auto& c : cases) EXPECT_EQ(FirmwareQuestion(c.format, "1.025", "1.026"), c.expected) << c.format;
    // At most 4095 characters, cut between characters.
    const std::string long_text = FirmwareQuestion(std::string(4094, 'a') + "\xe6\xbd\x9b\xe6\xbd\x9b", "", "");
    EXPECT_EQ(long_text, std::string(4094, 'a') + "\xe6\xbd\x9b");
}

// --- the road from the click --------------------------------------------------

namespace {

class FakeDisplay : public UpdateDisplay {
public:
    bool answer = true;
    bool worker_starts = true;
    std::vector<std::string> shown;  // "message:KEY[/DETAIL]", "ask:TEXT", "progress"
    FakeSink sink;

    std::string Text(const std::string& key) override {
        return key == "FIRMWARE_INFO" ? "Installed %s, new %s?" : "[" + key + "]";
    }
    void ShowMessage(const std::string& key, const std::string& detail) override {
        shown.push_back("message:" + key + (detail.empty() ? "" : "/" + detail));
    }
    bool Confirm(const std::string& question) override {
        shown.push_back("ask:" + question);
        return answer;
    }
    Outcome RunWorker(const std::function<void(ProgressSink&)>& work) override {
        if (!worker_starts) return Outcome::Failed("USB_ERROR");
        shown.push_back("progress");
        work(sink);
        return Outcome::Ok();
    }
};

struct UpdateRoad : ::testing::Test {
    std::string folder;
    FakeDevice device;
    FakeDownloader downloader;
    FakeDisplay display;
    bool port_found = true;
    int port_searches = 0;

    void SetUp() override {
        char tmpl[] = "/tmp/vorta-road-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        folder = tmpl;
        AppState.firmware_version_text = "9.999";
        downloader.files["https://h/fw.json"] = FirmwareOffer(Entry(1, "https://h/a", 0x10C000, 4096));
        downloader.files["https://h/a"] = Bytes(4096, 1);
        downloader.files["https://h/ds.json"] = SiteOffer(Entry(1, "https://h/a", 0x210000, 4096));
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    Outcome Start(OfferKind kind) {
        DeviceSession session(
            [this](const std::string&) {
                ++port_searches;
                return port_found ? DevicePortResult{DevicePortStatus::kFound, "/dev/ttyACM0"} : DevicePortResult{};
            },
            [this](const std::string&) { return device.Borrow(); });
        UpdateFlow flow(display, downloader, UpdateTiming{0});
        const char* url = kind == OfferKind::kFirmware ? "https://h/fw.json" : "https://h/ds.json";
        return flow.Start(kind, url, folder, session, "");
    }
};

}  // namespace

TEST_F(UpdateRoad, FirmwareAsksWithBothVersionsAndWritesOnYes) {
    device.firmware_version_text = "1.025";
    EXPECT_TRUE(Start(OfferKind::kFirmware).ok());
    EXPECT_EQ(display.shown, (std::vector<std::string>{"ask:Installed 1.025, new 1.026?", "progress"}));
    EXPECT_EQ(AppState.firmware_version_text, "1.025");
    EXPECT_EQ(device.trace,
              (std::vector<std::string>{"IDENTIFY", "WRITE " + std::to_string(0x10C000), "FIRMWARE_DONE", "END"}));
    EXPECT_EQ(device.closes, 1);
}

TEST_F(UpdateRoad, DecliningEndsTheLinkAndNothingElse) {
    display.answer = false;
    for (OfferKind kind : {OfferKind::kFirmware, OfferKind::kDiveSite}) {
        device = FakeDevice();
        display.shown.clear();
        EXPECT_TRUE(Start(kind).cancelled());
        EXPECT_EQ(device.trace, (std::vector<std::string>{"IDENTIFY", "END"}));
        EXPECT_EQ(device.closes, 1);
        ASSERT_EQ(display.shown.size(), 1u);
    }
    EXPECT_EQ(display.shown[0], "ask:[SURE_UPDATE_DS]");
    // Only the offers were fetched.
    EXPECT_EQ(downloader.log,
              (std::vector<std::string>{"https://h/fw.json -> features.json", "https://h/ds.json -> divesite.json"}));
}

TEST_F(UpdateRoad, FailuresBeforeTheWorkerAreMessagesAndTouchOnlyWhatTheyMust) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string message;
        std::vector<std::string> trace;
        int searches;
    } cases[] = {
        {"no offer", [&] { downloader.files.erase("https://h/fw.json"); }, "message:NO_UPDATE_INFO", {}, 0},
        {"short offer",
         [&] { downloader.files["https://h/fw.json"] = R"({"response":{"firmware_version":"1"}})"; },
         "message:NO_UPDATE_INFO",
         {},
         0},
        {"no device", [&] { port_found = false; }, "message:USB_NOT_CONN", {}, 1},
        {"not a dive computer", [&] { device.fail_info = true; }, "message:NOT_SUPPOR_DEVICE", {"IDENTIFY"}, 1},
        {"no worker thread", [&] { display.worker_starts = false; }, "message:USB_ERROR", {"IDENTIFY", "END"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        device = FakeDevice();
        display = FakeDisplay();
        port_found = true;
        port_searches = 0;
        downloader.files["https://h/fw.json"] = FirmwareOffer(Entry(1, "https://h/a", 0x10C000, 4096));
        std::filesystem::remove(folder + "/features.json");
        c.arrange();
        EXPECT_TRUE(Start(OfferKind::kFirmware).failed());
        EXPECT_EQ(display.shown.back(), c.message);
        EXPECT_EQ(device.trace, c.trace);
        EXPECT_EQ(port_searches, c.searches);
    }
}

// The sync workflow against recording fakes: what is read from the device,
// what is posted, what the progress dialog shows, and how each failure ends.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "app/show_counters.h"
#include "sync/sync_engine.h"
#include "tests/support/fake_peers.h"

using namespace vorta_sync;
using namespace vorta_test;

namespace {

const char* kDone = R"({"code":"0000000","response":{"tknum":0}})";

struct SyncRun : ::testing::Test {
    FakeDevice device;
    std::unique_ptr<FakeCloud> cloud_ = std::make_unique<FakeCloud>();
    FakeCloud& cloud() { return *cloud_; }
    FakeSink sink;
    SyncIdentity id{"K7", "1.025", "Authorization: Bearer tok\r\n\r\n"};

    Outcome Run(std::vector<std::string> answers) {
        cloud().answers = std::move(answers);
        SyncEngine engine(device, cloud(), sink, id, SyncTiming{0});
        return engine.Run();
    }
    // Fresh fakes for the next case of a table.
    void Reset() {
        device = FakeDevice();
        cloud_ = std::make_unique<FakeCloud>();  // an HttpPost cannot be assigned
        sink = FakeSink();
    }
    std::vector<std::string> Messages() const { return sink.With("message:"); }
    // The dialog is closed exactly once, at the end, and the link ended once.
    void ExpectClosedAndUnlinked() const {
        EXPECT_EQ(sink.With("end:"), std::vector<std::string>{"0"});
        EXPECT_EQ(sink.events.back(), "end:0");
        EXPECT_EQ(device.end_links, 1);
    }
};

std::string Block(uint32_t addr, uint32_t len) {
    return MemBytes(addr, len);
}

}  // namespace

TEST_F(SyncRun, NothingToDoCompletesWithStagesInOrder) {
    EXPECT_TRUE(Run({kDone}).ok());
    EXPECT_EQ(sink.With("status:"),
              (std::vector<std::string>{"PREPARING_UPLOAD", "ANALYZING_UPLOAD", "READ_UPLOAD", "COMPLETE_UPLOAD"}));
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(device.reads.empty());
    ASSERT_EQ(cloud().requests.size(), 1u);
    EXPECT_EQ(cloud().requests[0].verb, "GET");
    EXPECT_EQ(cloud().requests[0].path, "api/v1/devices/headerInfo?model=K7&firmware_version=1025");
    EXPECT_EQ(cloud().requests[0].headers, id.auth_header);
    ExpectClosedAndUnlinked();
}

TEST_F(SyncRun, TwoListsReadPostAndReportInOrder) {
    const char* first = R"({"code":"0000000","response":{"tknum":1,"total":4096,"spi":[
        {"command":"getLogIndex","cb_send":4096,"flash":[{"addr":0,"size":4096}]}]}})";
    const char* second = R"({"code":"0000000","response":{"tknum":1,"total":4196,"spi":[
        {"command":"addDivelogs","cb_send":4200,"flash":[{"addr":4096,"size":4096},{"addr":12288,"size":100}]}]}})";
    EXPECT_TRUE(Run({first, second, kDone}).ok());

    EXPECT_EQ(sink.With("status:"),
              (std::vector<std::string>{"PREPARING_UPLOAD", "ANALYZING_UPLOAD", "READING_LOG", "UPLOAING_LOG",
                                        "READ_UPLOAD", "READING_LOG", "UPLOAING_LOG", "COMPLETE_UPLOAD"}));
    // Counters restart with the second list.
    EXPECT_EQ(sink.With("counters:"), (std::vector<std::string>{"1/1 0/4096", "1/1 4096/4096", "1/1 0/4196",
                                                                "1/1 4096/4196", "1/1 4196/4196"}));
    ASSERT_EQ(device.reads.size(), 3u);
    EXPECT_EQ(device.reads[1].addr, 4096u);
    EXPECT_EQ(device.reads[2].len, 100u);

    ASSERT_EQ(cloud().requests.size(), 3u);
    EXPECT_EQ(cloud().requests[1].verb, "POST");
    for (const auto& r : cloud().requests) EXPECT_EQ(r.is_json, 0);  // the form content type
    EXPECT_EQ(cloud().requests[1].path, "api/v1/devices/getLogIndex?model=K7&length=4096&firmware_version=1025");
    EXPECT_EQ(cloud().requests[1].body, Block(0, 4096));
    EXPECT_EQ(cloud().requests[2].path, "api/v2/devices/addDivelogs?model=K7&length=4200&firmware_version=1025");
    // The kept bytes of both ranges, then zeros up to "cb_send".
    EXPECT_EQ(cloud().requests[2].body, Block(4096, 4096) + Block(12288, 100) + std::string(4, '\0'));
    EXPECT_TRUE(Messages().empty());
    ExpectClosedAndUnlinked();
}

TEST_F(SyncRun, TheNextItemIsReadWhileThePreviousPostIsAnswered) {
    std::string items;
    for (uint32_t i = 0; i < 3; ++i) {
        if (i) items += ",";
        items += R"({"command":"c","cb_send":4096,"flash":[{"addr":)" + std::to_string(i * 4096) + R"(,"size":4096}]})";
    }
    const std::string list = R"({"response":{"tknum":3,"total":12288,"spi":[)" + items + "]}}";
    // Each post is answered only once the device has read the item after it
    // (or after a second, which fails the check below).
    std::mutex m;
    std::condition_variable cv;
    size_t reads = 0;
    bool overlapped = true;
    device.after_read = [&](size_t n) {
        std::lock_guard<std::mutex> lock(m);
        reads = n;
        cv.notify_all();
    };
    cloud().before_answer = [&](size_t request) {
        if (request == 0 || request == 3) return;  // the list itself, the last post
        std::unique_lock<std::mutex> lock(m);
        if (!cv.wait_for(lock, std::chrono::seconds(1), [&] { return reads > request; })) overlapped = false;
    };
    EXPECT_TRUE(Run({list, kDone, kDone, kDone}).ok());
    EXPECT_TRUE(overlapped);
    ASSERT_EQ(cloud().requests.size(), 4u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(cloud().requests[i + 1].body, Block(i * 4096, 4096));
}

TEST_F(SyncRun, CounterLineAndPercentageFollowTheBytesRead) {
    const char* first = R"({"response":{"tknum":1,"total":8192,"spi":[
        {"command":"x","cb_send":4096,"flash":[{"addr":0,"size":4096}]}]}})";
    Run({first, kDone});
    EXPECT_EQ(sink.With("counters:").back(), "1/1 4096/8192");
    EXPECT_EQ(sink.With("progress:").back(), "50");
}

TEST_F(SyncRun, ResultCodes) {
    // No "code" at all and all-zero codes pass; any non-zero code refuses.
    EXPECT_TRUE(Run({R"({"response":{"tknum":0}})"}).ok());
    EXPECT_TRUE(Messages().empty());

    for (const char* code : {"0000001", "-1", " 12abc"}) {
        SCOPED_TRACE(code);
        Reset();
        EXPECT_EQ(Run({std::string(R"({"code":")") + code + R"(","response":{"tknum":0}})"}).key, "NOT_SUPPOR_DEVICE");
        EXPECT_EQ(Messages(), std::vector<std::string>{"NOT_SUPPOR_DEVICE"});
        ExpectClosedAndUnlinked();
    }
    Reset();
    EXPECT_TRUE(Run({R"({"code":"0000000","response":{"tknum":0}})"}).ok());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(SyncRun, EachFailureIsShownOnceAndEndsTheLink) {
    struct Case {
        const char* name;
        std::vector<std::string> answers;
        int fail_read_at;
        const char* key;
        size_t reads, requests;
    };
    const std::string item =
        R"({"command":"c","cb_send":8192,"flash":[{"addr":0,"size":4096},{"addr":4096,"size":4096}]})";
    const std::string list =
        R"({"code":"0000000","response":{"tknum":2,"total":16384,"spi":[)" + item + "," + item + "]}}";
    const Case cases[] = {
        {"cloud unreachable", {}, -1, "HOST_NOT_CONN", 0, 1},
        {"not JSON", {"<html>"}, -1, "HOST_ERROR", 0, 1},
        {"items announced, none listed", {R"({"response":{"tknum":3,"spi":[]}})"}, -1, "HOST_NOT_CONN", 0, 1},
        {"bad sum on the second block", {list}, 1, "USB_ERROR", 2, 1},
        // The second item is read while the first is posted; its refusal
        // drops the item read ahead.
        {"refused post", {list, R"({"code":"0000009"})"}, -1, "NOT_SUPPOR_DEVICE", 4, 2},
        {"refused post, then a bad read", {list, R"({"code":"0000009"})"}, 3, "NOT_SUPPOR_DEVICE", 4, 2},
        {"empty answer to the last post", {list, kDone, ""}, -1, "HOST_NOT_CONN", 4, 3},
        {"second list refused", {list, kDone, R"({"code":"0000002"})"}, -1, "NOT_SUPPOR_DEVICE", 4, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        device.fail_read_at = c.fail_read_at;
        Outcome r = Run(c.answers);
        EXPECT_TRUE(r.failed());
        EXPECT_EQ(r.key, c.key);
        EXPECT_EQ(Messages(), std::vector<std::string>{c.key});
        EXPECT_EQ(device.reads.size(), c.reads);
        EXPECT_EQ(cloud().requests.size(), c.requests);
        EXPECT_EQ(sink.With("status:").back() == "COMPLETE_UPLOAD", false);
        ExpectClosedAndUnlinked();
    }
}

TEST_F(SyncRun, RangesThatDoNotFitFailTheItemWithoutReading) {
    const char* too_big = R"({"response":{"tknum":1,"total":5000,"spi":[
        {"command":"c","cb_send":5000,"flash":[{"addr":0,"size":5000}]}]}})";
    const char* overflow = R"({"response":{"tknum":1,"total":8192,"spi":[
        {"command":"c","cb_send":4200,"flash":[{"addr":0,"size":4096},{"addr":4096,"size":4096}]}]}})";
    const char* negative = R"({"response":{"tknum":1,"spi":[
        {"command":"c","cb_send":10,"flash":[{"addr":0,"size":-1}]}]}})";
    for (const char* answer : {too_big, overflow, negative}) {
        SCOPED_TRACE(answer);
        Reset();
        EXPECT_EQ(Run({answer}).key, "USB_ERROR");
        EXPECT_EQ(Messages(), std::vector<std::string>{"USB_ERROR"});
        for (const auto& r : device.reads) EXPECT_LE(r.len, 4096u);
        EXPECT_EQ(cloud().requests.size(), 1u);  // nothing posted
        ExpectClosedAndUnlinked();
    }
}

TEST_F(SyncRun, WrongTypesRefuseTheListBeforeAnyRead) {
    const char* answers[] = {
        R"({"response":{"tknum":"1","spi":[]}})",
        R"({"response":{"tknum":1,"total":[1],"spi":[]}})",
        R"({"response":{"tknum":1,"spi":{"a":1}}})",
        R"({"response":{"tknum":1,"spi":[{"command":5,"cb_send":1,"flash":[]}]}})",
        R"({"response":{"tknum":1,"spi":[{"command":"c","cb_send":"9","flash":[]}]}})",
        R"({"response":{"tknum":1,"spi":[{"command":"c","cb_send":1,"flash":[{"addr":"0","size":1}]}]}})",
        R"({"response":{"tknum":1,"spi":[{"command":"c","cb_send":1,"flash":[{"addr":0,"size":true}]}]}})",
        R"({"response":{"tknum":1,"spi":[{"command":"c","cb_send":1,"flash":[7]}]}})",
        R"({"response":{"tknum":1,"spi":[{"command":"c","cb_send":-4,"flash":[]}]}})",
        R"({"response":{"tknum":1,"spi":[{"command":"c","cb_send":2000000000,"flash":[]}]}})",
        R"({"response":{"tknum":1,"spi":[{"command":"c","cb_send":1,"flash":[{"addr":1.5,"size":1}]}]}})",
        R"({"response":"none"})",
        R"({"code":7,"response":{"tknum":0}})",
        R"({"code":{"a":"0"},"response":{"tknum":0}})",
        R"([1,2])",
    };
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        Reset();
        EXPECT_EQ(Run({answer}).key, "HOST_ERROR");
        EXPECT_EQ(Messages(), std::vector<std::string>{"HOST_ERROR"});
        EXPECT_TRUE(device.reads.empty());
        ExpectClosedAndUnlinked();
    }
}

TEST_F(SyncRun, CancelStopsBetweenBlocksWithoutAMessage) {
    const char* list = R"({"response":{"tknum":1,"total":12288,"spi":[{"command":"c","cb_send":12288,
        "flash":[{"addr":0,"size":4096},{"addr":4096,"size":4096},{"addr":8192,"size":4096}]}]}})";
    device.after_read = [this](size_t n) {
        if (n == 1) sink.cancel = true;
    };
    EXPECT_TRUE(Run({list}).cancelled());
    EXPECT_EQ(device.reads.size(), 1u);
    EXPECT_EQ(cloud().requests.size(), 1u);
    EXPECT_TRUE(Messages().empty());
    ExpectClosedAndUnlinked();
}

TEST_F(SyncRun, AnExceptionStillClosesTheDialogAndEndsTheLink) {
    cloud().throw_on_request = true;
    EXPECT_TRUE(Run({}).failed());
    EXPECT_TRUE(Messages().empty());
    ExpectClosedAndUnlinked();
}

TEST(ShowCounters, ZeroOrShortTotals) {
    ProgressCounters c;
    c.item_total = 1;
    c.items_done = 1;
    c.bytes_done = 4096;
    EXPECT_EQ(CounterPercent(c), 0);  // byte total 0
    EXPECT_EQ(CounterLine(c), "1/1 4096/0");
    c.byte_total = 2048;
    EXPECT_EQ(CounterPercent(c), 100);
    c.byte_total = 2000000000;
    c.bytes_done = 1999999999;  // would wrap in 32 bits
    EXPECT_EQ(CounterPercent(c), 99);
}

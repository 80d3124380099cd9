#include "sync/sync_engine.h"

#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <thread>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include "base/json_safe.h"
#include "cloud/cloud_api.h"

namespace vorta_sync {

namespace {

// Ends the device link when the worker leaves, whichever way it leaves.
class EndLinkOnExit {
public:
    explicit EndLinkOnExit(SyncDevice& device) : device_(device) {}
    ~EndLinkOnExit() {
        try {
            device_.EndLink();
        } catch (...) {
        }
    }
    EndLinkOnExit(const EndLinkOnExit&) = delete;
    EndLinkOnExit& operator=(const EndLinkOnExit&) = delete;

private:
    SyncDevice& device_;
};

int32_t SaturatingAdd(int32_t a, int64_t b) {
    int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(sum);
}

}  // namespace

SyncEngine::SyncEngine(SyncDevice& device, SyncCloud& cloud, ProgressSink& sink, SyncIdentity identity,
                       SyncTiming timing)
    : device_(device),
      cloud_(cloud),
      sink_(sink),
      identity_(std::move(identity)),
      timing_(timing),
      firmware_number_(FirmwareVersionNumber(identity_.firmware_version_text)) {}

void SyncEngine::Fail(const std::string& key) { sink_.show_message(key); }

bool SyncEngine::Cancelled() { return sink_.cancel_requested(); }

SyncResult SyncEngine::Run() {
    EndLinkOnExit end_link(device_);
    SyncResult result = SyncResult::kFailed;
    try {
        sink_.wait_ready(timing_.ready_wait_ms);

        auto list_step = [&](const char* status, const std::string& in, std::string& out) -> Step {
            if (Cancelled()) return Step::kCancelled;
            sink_.set_status(status);
            Step step = RunInstructions(in, out);
            if (step != Step::kOk) return step;
            return CheckAnswer(out) ? Step::kOk : Step::kFailed;
        };

        if (Cancelled()) {
            result = SyncResult::kCancelled;
        } else {
            sink_.set_status("PREPARING_UPLOAD");
            std::string a = cloud_.request("GET", UrlHeaderInfo(identity_.model, firmware_number_), nullptr, 0,
                                           identity_.auth_header);
            std::string b, c;
            Step step = CheckAnswer(a) ? Step::kOk : Step::kFailed;
            if (step == Step::kOk) step = list_step("ANALYZING_UPLOAD", a, b);
            if (step == Step::kOk) step = list_step("READ_UPLOAD", b, c);
            if (step == Step::kOk) {
                sink_.set_status("COMPLETE_UPLOAD");
                // The completion line stays up for a while; a Cancel only
                // shortens the pause.
                auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.complete_pause_ms);
                while (std::chrono::steady_clock::now() < until && !Cancelled())
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                result = SyncResult::kComplete;
            } else {
                result = step == Step::kCancelled ? SyncResult::kCancelled : SyncResult::kFailed;
            }
        }
    } catch (...) {
        result = SyncResult::kFailed;
    }
    try {
        sink_.end(0);
    } catch (...) {
    }
    return result;
}

bool SyncEngine::CheckAnswer(const std::string& text) {
    if (text.empty()) {
        Fail("HOST_NOT_CONN");
        return false;
    }
    Json::Value root;
    if (!json_safe::Parse(text, root)) {
        Fail("HOST_ERROR");
        return false;
    }
    switch (CheckCode(root)) {
    case CodeCheck::kZero:
        return true;
    case CodeCheck::kNonZero:
        Fail("NOT_SUPPOR_DEVICE");
        return false;
    case CodeCheck::kWrongType:
        break;
    }
    Fail("HOST_ERROR");
    return false;
}

Step SyncEngine::RunInstructions(const std::string& answer, std::string& result) {
    InstructionList list;
    if (!ParseInstructions(answer, list)) {
        // Values of the wrong type: the whole list is refused before any
        // device memory is read.
        Fail("HOST_ERROR");
        return Step::kFailed;
    }
    counters_ = ProgressCounters();
    counters_.item_total = list.tknum;
    counters_.byte_total = list.total;
    if (list.tknum == 0) {
        result = answer;
        return Step::kOk;
    }
    result.clear();

    // The device and the cloud take turns: while one item's post is on its
    // way, the next item is read from the device, so neither peer waits for
    // the other. The posts leave one at a time and in list order, and each
    // answer is judged before the next post leaves, so the cloud sees
    // exactly what a strictly alternating sync sends. Reads have no effect
    // on the device; when a post is refused, the one item read ahead is
    // dropped.
    std::unique_ptr<new_mem> posted_body;  // kept until its post is answered
    std::future<std::string> reply;
    boost::asio::thread_pool poster(1);  // declared last: joined before the body goes

    // Waits for the post in flight, if any, and judges its answer.
    auto settle = [&]() -> bool {
        if (!reply.valid()) return true;
        result = reply.get();
        return CheckAnswer(result);
    };

    for (const SyncItem& item : list.spi) {
        counters_.items_done = SaturatingAdd(counters_.items_done, 1);
        ShowCounters();
        const size_t cb_send = static_cast<size_t>(item.cb_send);
        auto buffer = std::make_unique<new_mem>(cb_send);
        Step step = buffer->ok(cb_send) ? ReadFlashList(item.flash, buffer->data(), cb_send) : Step::kFailed;
        if (step == Step::kOk && Cancelled()) step = Step::kCancelled;
        if (step == Step::kCancelled) {
            // The post handed over finishes; a stopping pool would drop it unsent.
            if (reply.valid()) reply.wait();
            return step;
        }
        // The earlier item's answer counts first: a refusal there is what
        // the user hears about, not a read that followed it.
        if (!settle()) return Step::kFailed;
        if (step == Step::kFailed) {
            Fail("USB_ERROR");
            return Step::kFailed;
        }
        sink_.set_status("UPLOAING_LOG");
        const uint8_t* body = buffer->data();
        std::packaged_task<std::string()> post(
            [this, body, cb_send, path = UrlDeviceCommand(item.command, identity_.model, item.cb_send, firmware_number_)] {
                return cloud_.request("POST", path, body, static_cast<uint32_t>(cb_send), identity_.auth_header);
            });
        reply = post.get_future();
        posted_body = std::move(buffer);
        boost::asio::post(poster, std::move(post));
    }
    return settle() ? Step::kOk : Step::kFailed;
}

Step SyncEngine::ReadFlashList(const std::vector<FlashRange>& ranges, uint8_t* buffer, size_t capacity) {
    sink_.set_status("READING_LOG");
    size_t offset = 0;
    for (const FlashRange& r : ranges) {
        if (Cancelled()) return Step::kCancelled;
        // The device always sends whole blocks; only the kept bytes go into
        // the buffer, and never past its end.
        if (r.size < 0 || r.size > static_cast<int64_t>(kBlockSize) ||
            static_cast<size_t>(r.size) > capacity - offset)
            return Step::kFailed;
        const uint32_t size = static_cast<uint32_t>(r.size);
        counters_.bytes_done = SaturatingAdd(counters_.bytes_done, size);
        ShowCounters();
        if (!device_.ReadBlock(r.addr, buffer + offset, size)) return Step::kFailed;
        offset += size;
    }
    return Step::kOk;
}

void SyncEngine::ShowCounters() { ::ShowCounters(sink_, counters_); }

}  // namespace vorta_sync

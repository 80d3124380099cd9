#include "sync/sync_engine.h"

#include <chrono>
#include <limits>
#include <thread>

#include "app/json_safe.h"
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

void SyncEngine::Fail(const std::string& key) {
    failure_key_ = key;
    sink_.show_message(key);
}

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
            return CheckAnswer(out, true) ? Step::kOk : Step::kFailed;
        };

        if (Cancelled()) {
            result = SyncResult::kCancelled;
        } else {
            sink_.set_status("PREPARING_UPLOAD");
            std::string a = cloud_.request("GET", UrlHeaderInfo(identity_.model, firmware_number_), nullptr, 0,
                                           identity_.auth_header);
            std::string b, c;
            Step step = CheckAnswer(a, true) ? Step::kOk : Step::kFailed;
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

bool SyncEngine::CheckAnswer(const std::string& text, bool ok) {
    if (!ok) {
        Fail("USB_ERROR");
        return false;
    }
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
    for (const SyncItem& item : list.spi) {
        counters_.items_done = SaturatingAdd(counters_.items_done, 1);
        ShowCounters();
        result.clear();
        Step step = RunItem(item, result);
        if (step == Step::kCancelled) return step;
        if (!CheckAnswer(result, step == Step::kOk)) return Step::kFailed;
    }
    return Step::kOk;
}

Step SyncEngine::RunItem(const SyncItem& item, std::string& answer) {
    const size_t cb_send = static_cast<size_t>(item.cb_send);
    new_mem buffer(cb_send);
    if (!buffer.ok(cb_send)) return Step::kFailed;
    Step step = ReadFlashList(item.flash, buffer.data(), cb_send);
    if (step != Step::kOk) return step;
    if (Cancelled()) return Step::kCancelled;
    sink_.set_status("UPLOAING_LOG");
    answer = cloud_.request("POST", UrlDeviceCommand(item.command, identity_.model, item.cb_send, firmware_number_),
                            buffer.data(), static_cast<uint32_t>(cb_send), identity_.auth_header);
    return Step::kOk;
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

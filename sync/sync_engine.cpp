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

int32_t SaturatingAdd(int32_t a, int64_t b) {
    int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(sum);
}

}  // namespace

SyncEngine::SyncEngine(DeviceLink& device, HttpPost& cloud, ProgressSink& sink, SyncIdentity identity,
                       SyncTiming timing)
    : device_(device),
      cloud_(cloud),
      sink_(sink),
      identity_(std::move(identity)),
      timing_(timing),
      firmware_number_(FirmwareVersionNumber(identity_.firmware_version_text)) {}

bool SyncEngine::Cancelled() {
    return sink_.cancel_requested();
}

Outcome SyncEngine::Run() {
    EndLinkOnExit end_link(device_);
    Outcome outcome = Outcome::Failed(std::string());
    try {
        outcome = Work();
        if (outcome.failed() && !outcome.key.empty()) sink_.show_message(outcome.key);
    } catch (...) {
        outcome = Outcome::Failed(std::string());
    }
    // The dialog goes before the link is ended, so that the user is not kept
    // waiting on a device that is slow to take it.
    try {
        sink_.end(0);
    } catch (...) {}
    return outcome;
}

Outcome SyncEngine::Work() {
    auto list_step = [&](const char* status, const std::string& in, std::string& out) -> Outcome {
        if (Cancelled()) return Outcome::Cancelled();
        sink_.set_status(status);
        Outcome step = RunInstructions(in, out);
        if (!step.ok()) return step;
        return CheckAnswer(out);
    };

    if (Cancelled()) return Outcome::Cancelled();
    sink_.set_status("PREPARING_UPLOAD");
    const std::string path = UrlHeaderInfo(identity_.model, firmware_number_);
    std::string a = cloud_.request(nullptr, 0, 0, "GET", path, identity_.auth_header);
    std::string b, c;
    Outcome step = CheckAnswer(a);
    if (step.ok()) step = list_step("ANALYZING_UPLOAD", a, b);
    if (step.ok()) step = list_step("READ_UPLOAD", b, c);
    if (!step.ok()) return step;

    sink_.set_status("COMPLETE_UPLOAD");
    // The completion line stays up for a while; a Cancel only shortens the
    // pause.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing_.complete_pause_ms);
    while (std::chrono::steady_clock::now() < until && !Cancelled())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return Outcome::Ok();
}

Outcome SyncEngine::CheckAnswer(const std::string& text) {
    if (text.empty()) return Outcome::Failed("HOST_NOT_CONN");
    Json::Value root;
    if (!json_safe::Parse(text, root)) return Outcome::Failed("HOST_ERROR");
    switch (CheckCode(root)) {
        case CodeCheck::kZero: return Outcome::Ok();
        case CodeCheck::kNonZero: return Outcome::Failed("NOT_SUPPOR_DEVICE");
        case CodeCheck::kWrongType: break;
    }
    return Outcome::Failed("HOST_ERROR");
}

Outcome SyncEngine::RunInstructions(const std::string& answer, std::string& result) {
    InstructionList list;
    if (!ParseInstructions(answer, list)) {
        // Values of the wrong type: the whole list is refused before any
        // device memory is read.
        return Outcome::Failed("HOST_ERROR");
    }
    counters_ = ProgressCounters();
    counters_.item_total = list.tknum;
    counters_.byte_total = list.total;
    if (list.tknum == 0) {
        result = answer;
        return Outcome::Ok();
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
    auto settle = [&]() -> Outcome {
        if (!reply.valid()) return Outcome::Ok();
        result = reply.get();
        return CheckAnswer(result);
    };

    for (const SyncItem& item : list.spi) {
        counters_.items_done = SaturatingAdd(counters_.items_done, 1);
        ShowCounters();
        const size_t cb_send = static_cast<size_t>(item.cb_send);
        auto buffer = std::make_unique<new_mem>(cb_send);
        Outcome step =
            buffer->ok(cb_send) ? ReadFlashList(item.flash, buffer->data(), cb_send) : Outcome::Failed("USB_ERROR");
        if (step.ok() && Cancelled()) step = Outcome::Cancelled();
        if (step.cancelled()) {
            // The post handed over finishes; a stopping pool would drop it unsent.
            if (reply.valid()) reply.wait();
            return step;
        }
        // The earlier item's answer counts first: a refusal there is what
        // the user hears about, not a read that followed it.
        Outcome earlier = settle();
        if (!earlier.ok()) return earlier;
        if (!step.ok()) return step;
        sink_.set_status("UPLOAING_LOG");
        const uint8_t* body = buffer->data();
        std::packaged_task<std::string()> post(
            [this, body, cb_send,
             path = UrlDeviceCommand(item.command, identity_.model, item.cb_send, firmware_number_)] {
                return cloud_.request(body, static_cast<uint32_t>(cb_send), 0, "POST", path, identity_.auth_header);
            });
        reply = post.get_future();
        posted_body = std::move(buffer);
        boost::asio::post(poster, std::move(post));
    }
    return settle();
}

Outcome SyncEngine::ReadFlashList(const std::vector<FlashRange>& ranges, uint8_t* buffer, size_t capacity) {
    sink_.set_status("READING_LOG");
    size_t offset = 0;
    for (const FlashRange& r : ranges) {
        if (Cancelled()) return Outcome::Cancelled();
        // The device always sends whole blocks; only the kept bytes go into
        // the buffer, and never past its end.
        if (r.size < 0 || r.size > static_cast<int64_t>(kBlockSize) || static_cast<size_t>(r.size) > capacity - offset)
            return Outcome::Failed("USB_ERROR");
        const uint32_t size = static_cast<uint32_t>(r.size);
        counters_.bytes_done = SaturatingAdd(counters_.bytes_done, size);
        ShowCounters();
        if (!device_.ReadBlock(r.addr, buffer + offset, size)) return Outcome::Failed("USB_ERROR");
        offset += size;
    }
    return Outcome::Ok();
}

void SyncEngine::ShowCounters() {
    ::ShowCounters(sink_, counters_);
}

}  // namespace vorta_sync

#include "browser/web_event.h"

#include <charconv>
#include <cmath>

#include "base/window_messages.h"
#include "browser/map_script.h"

namespace vorta_browser {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::optional<double> Finite(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}
}  // namespace

std::optional<double> ArgAsDouble(const Json::Value& arg) {
    if (arg.isBool()) return std::nullopt;
    if (arg.isNumeric()) return Finite(arg.asDouble());
    if (!arg.isString()) return std::nullopt;
    // Page values that went through a text form: one number and nothing
    // else, read the same whatever the process's locale is.
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!arg.getString(&begin, &end) || begin == nullptr) return std::nullopt;
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    if (begin < end && *begin == '+') ++begin;
    double value = 0.0;
    auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec != std::errc() || stop != end || begin == end) return std::nullopt;
    return Finite(value);
}

}  // namespace vorta_browser

WebEvent::WebEvent(MapEventStateRecord& state, vorta_browser::MessagePoster poster)
    : state_(state), poster_(std::move(poster)) {
    // Registration order fixes the identifiers 100000 to 100003.
    Register("on_mus_move_event", &state_,
             [this](void* user, const Args& args) { StoreAndPost(user, args, kMsgMapMousePosition); });
    Register("on_poi_move_event", &state_,
             [this](void* user, const Args& args) { StoreAndPost(user, args, kMsgMapMarkerDragged); });
    Register("on_get_map_center", &state_,
             [this](void* user, const Args& args) { StoreAndPost(user, args, kMsgMapCenter); });
    Register("on_load_map_event", &state_, [this](void*, const Args&) { Post(kMsgMapLoaded); });
}

uint32_t WebEvent::Register(const std::string& name, void* user_data, Callback callback) {
    if (table_.count(name)) return 0;
    uint32_t id = kFirstId + static_cast<uint32_t>(table_.size());
    table_.emplace(name, Entry{user_data, id, std::move(callback)});
    return id;
}

WebEvent::Result WebEvent::GetIDsOfNames(const std::vector<std::string>& names, uint32_t& id) const {
    if (names.empty()) return Result::kUnknownName;
    auto it = table_.find(names.front());
    if (it == table_.end()) return Result::kUnknownName;
    id = it->second.id;
    return Result::kOk;
}

WebEvent::Result WebEvent::Invoke(uint32_t id, const Args& args) const {
    if (id < kFirstId) return Result::kNotImplemented;
    for (const auto& [name, entry] : table_) {
        if (entry.id != id) continue;
        if (entry.callback) entry.callback(entry.user_data, args);
        break;
    }
    return Result::kOk;
}

WebEvent::Result WebEvent::InvokeByName(const std::string& name, const Args& args) const {
    uint32_t id = 0;
    Result found = GetIDsOfNames({name}, id);
    if (found != Result::kOk) return found;
    return Invoke(id, args);
}

void WebEvent::Post(uint32_t msg) const {
    if (poster_) poster_(state_.target, msg);
}

void WebEvent::StoreAndPost(void* user_data, const Args& args, uint32_t msg) const {
    auto* record = static_cast<MapEventStateRecord*>(user_data);
    if (record == nullptr || args.size() < 2) return;
    std::optional<double> lat = vorta_browser::ArgAsDouble(args[0]);
    std::optional<double> lng = vorta_browser::ArgAsDouble(args[1]);
    // Off the globe is as unusable as no number: a broken or hostile page
    // must not show, add or move a site there.
    if (!lat || !lng || !vorta_browser::IsOnGlobe(*lat, *lng)) return;
    record->lat = *lat;
    record->lng = *lng;
    Post(msg);
}

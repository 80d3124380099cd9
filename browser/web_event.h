// The map page's external object: the methods the page script calls as
// window.external.<name>(...), found by name and run by identifier.
//
// The name table maps a method name to {user data, identifier, callback};
// identifiers start at 100000 and count up in registration order, which keeps
// them apart from the browser's own event numbers (below 100000, declined).
// The four page events are registered by the constructor:
//
//   "on_mus_move_event"  100000  store (lat, lng), post kMsgMapMousePosition
//   "on_poi_move_event"  100001  store (lat, lng), post kMsgMapMarkerDragged
//   "on_get_map_center"  100002  store (lat, lng), post kMsgMapCenter
//   "on_load_map_event"  100003  post kMsgMapLoaded, nothing stored
//
// Messages go to the record's `target` at the moment of the call, through an
// injected poster, so no window is needed here.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "browser/map_event_state.h"

namespace vorta_browser {

// Posts the private message `msg` (wParam and lParam 0) to window `target`.
using MessagePoster = std::function<void(uint64_t target, uint32_t msg)>;

// A page argument as a coordinate. Numbers (integers of any width or
// doubles) and text holding exactly one decimal number (surrounding blanks
// allowed, e.g. "25.033964") convert; anything else - null, booleans,
// objects, arrays, other text, values that are not finite - gives nothing.
std::optional<double> ArgAsDouble(const Json::Value& arg);

}  // namespace vorta_browser

class WebEvent {
public:
    // The arguments of one call in script order: args[0] is the first
    // argument the page passed.
    using Args = std::vector<Json::Value>;
    using Callback = std::function<void(void* user_data, const Args& args)>;

    struct Entry {
        void* user_data = nullptr;
        uint32_t id = 0;
        Callback callback;
    };

    enum class Result {
        kOk,
        kNotImplemented,  // an identifier below kFirstId
        kUnknownName,     // GetIDsOfNames found no such method
    };

    static constexpr uint32_t kFirstId = 100000;

    // Registers the four page events, each with `state` as its user data.
    WebEvent(MapEventStateRecord& state, vorta_browser::MessagePoster poster);
    WebEvent(const WebEvent&) = delete;
    WebEvent& operator=(const WebEvent&) = delete;

    // Adds a method. Its identifier is kFirstId plus the table size before
    // it. A name already in the table is refused (returns 0): identifiers
    // must stay unique.
    uint32_t Register(const std::string& name, void* user_data, Callback callback);

    // Looks up only the first name, exactly and case-sensitively.
    Result GetIDsOfNames(const std::vector<std::string>& names, uint32_t& id) const;

    // Identifiers below kFirstId: kNotImplemented. Otherwise runs the
    // callback of the entry with that identifier, if there is one, and
    // returns kOk either way.
    Result Invoke(uint32_t id, const Args& args) const;

    // GetIDsOfNames of `name`, then Invoke: what the host does for one page
    // call.
    Result InvokeByName(const std::string& name, const Args& args) const;

    const std::map<std::string, Entry>& table() const { return table_; }

private:
    void Post(uint32_t msg) const;
    // Coordinate events: both arguments must convert (ArgAsDouble) and lie
    // on the globe (latitude -90..90, longitude -180..180); a call with a
    // missing, unusable or out-of-range coordinate is dropped - nothing
    // stored, nothing posted - so a broken page call cannot move a site to
    // (0, 0) or off the map.
    void StoreAndPost(void* user_data, const Args& args, uint32_t msg) const;

    std::map<std::string, Entry> table_;
    MapEventStateRecord& state_;
    vorta_browser::MessagePoster poster_;
};

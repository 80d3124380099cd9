// The map page's external object: which names it knows, what each call
// stores and posts, and what a call it cannot use leaves alone.
#include <gtest/gtest.h>

#include <utility>

#include "base/window_messages.h"
#include "browser/web_event.h"

namespace {

using Args = WebEvent::Args;
using Post = std::pair<uint64_t, uint32_t>;

struct MapEvents : ::testing::Test {
    MapEventStateRecord state{-1.0, -2.0, 77};
    std::vector<Post> posts;
    WebEvent events{state, [this](uint64_t target, uint32_t msg) { posts.emplace_back(target, msg); }};
};

Json::Value Str(const char* s) {
    return Json::Value(s);
}

}  // namespace

TEST_F(MapEvents, NamesAreLookedUpExactlyAndNumberedInRegistrationOrder) {
    struct Case {
        std::vector<std::string> names;
        WebEvent::Result result;
        uint32_t id;
    } cases[] = {
        {{"on_mus_move_event"}, WebEvent::Result::kOk, 100000},
        {{"on_poi_move_event"}, WebEvent::Result::kOk, 100001},
        {{"on_get_map_center"}, WebEvent::Result::kOk, 100002},
        {{"on_load_map_event"}, WebEvent::Result::kOk, 100003},
        {{"on_load_map_event", "no_such_name"}, WebEvent::Result::kOk, 100003},  // only the first counts
        {{"no_such_name", "on_load_map_event"}, WebEvent::Result::kUnknownName, 0},
        {{"On_load_map_event"}, WebEvent::Result::kUnknownName, 0},
        {{}, WebEvent::Result::kUnknownName, 0},
    };
    for (const auto& c : cases) {
        uint32_t id = 0;
        EXPECT_EQ(events.GetIDsOfNames(c.names, id), c.result) << ::testing::PrintToString(c.names);
        EXPECT_EQ(id, c.id) << ::testing::PrintToString(c.names);
    }
    // A new method continues the numbering; a name already there is refused
    // so that no two entries share an identifier.
    EXPECT_EQ(events.Register("on_extra", nullptr, nullptr), 100004u);
    EXPECT_EQ(events.Register("on_mus_move_event", nullptr, nullptr), 0u);
    EXPECT_EQ(events.InvokeByName("on_extra", {}), WebEvent::Result::kOk);  // no callback: nothing runs
}

TEST_F(MapEvents, EachCallStoresItsCoordinatesAndPostsItsMessage) {
    struct Case {
        const char* what;
        uint32_t id;
        Args args;
        WebEvent::Result result;
        std::vector<Post> posts;
        double lat, lng;  // the record afterwards
    } cases[] = {
        {"mouse move",
         100000,
         {25.033964, 121.564468},
         WebEvent::Result::kOk,
         {{77, kMsgMapMousePosition}},
         25.033964,
         121.564468},
        {"marker dragged, integers",
         100001,
         {Json::Value(25), Json::Value(Json::Int64(-121))},
         WebEvent::Result::kOk,
         {{77, kMsgMapMarkerDragged}},
         25.0,
         -121.0},
        {"centre as text",
         100002,
         {Str(" 25.033964"), Str("-121.5\n")},
         WebEvent::Result::kOk,
         {{77, kMsgMapCenter}},
         25.033964,
         -121.5},
        {"extra arguments ignored",
         100000,
         {1.5, 2.5, Str("x")},
         WebEvent::Result::kOk,
         {{77, kMsgMapMousePosition}},
         1.5,
         2.5},
        {"map loaded", 100003, {}, WebEvent::Result::kOk, {{77, kMsgMapLoaded}}, -1.0, -2.0},
        // Identifiers of the browser's own events are declined.
        {"identifier 5", 5, {1.0, 2.0}, WebEvent::Result::kNotImplemented, {}, -1.0, -2.0},
        {"no such entry", 100004, {1.0, 2.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        // Calls the page got wrong are dropped whole: no half-stored pair, no
        // message that would act on stale or zero coordinates.
        {"one argument", 100002, {1.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"null", 100002, {1.0, Json::Value()}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"boolean", 100002, {Json::Value(true), 1.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"object", 100000, {Json::Value(Json::objectValue), 1.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"text with a tail", 100000, {Str("25.1abc"), 1.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"comma decimal", 100000, {Str("25,5"), 1.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"not finite", 100000, {Str("nan"), Str("inf")}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"overflowing text", 100000, {Str("1e999"), 1.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        // Positions off the globe are refused like unusable numbers; its
        // edges are on it.
        {"edges", 100002, {-90.0, Str("180")}, WebEvent::Result::kOk, {{77, kMsgMapCenter}}, -90.0, 180.0},
        {"huge centre", 100002, {1e308, -1e308}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"latitude past a pole", 100000, {Str("90.000001"), 0.0}, WebEvent::Result::kOk, {}, -1.0, -2.0},
        {"longitude past the date line", 100001, {0.0, -180.5}, WebEvent::Result::kOk, {}, -1.0, -2.0},
    };
    for (const auto& c : cases) {
        state = MapEventStateRecord{-1.0, -2.0, 77};
        posts.clear();
        EXPECT_EQ(events.Invoke(c.id, c.args), c.result) << c.what;
        EXPECT_EQ(posts, c.posts) << c.what;
        EXPECT_DOUBLE_EQ(state.lat, c.lat) << c.what;
        EXPECT_DOUBLE_EQ(state.lng, c.lng) << c.what;
    }
}

TEST_F(MapEvents, MessagesGoToTheTargetOfTheMomentAndNewerPairsWin) {
    EXPECT_EQ(events.InvokeByName("on_mus_move_event", {1.0, 2.0}), WebEvent::Result::kOk);
    state.target = 4242;  // an edit dialog takes over the map's messages
    EXPECT_EQ(events.InvokeByName("on_poi_move_event", {3.0, 4.0}), WebEvent::Result::kOk);
    state.target = 77;
    EXPECT_EQ(events.InvokeByName("on_load_map_event", {}), WebEvent::Result::kOk);
    EXPECT_EQ(events.InvokeByName("on_unknown", {5.0, 6.0}), WebEvent::Result::kUnknownName);
    EXPECT_EQ(posts,
              (std::vector<Post>{{77, kMsgMapMousePosition}, {4242, kMsgMapMarkerDragged}, {77, kMsgMapLoaded}}));
    EXPECT_EQ(state.lat, 3.0);
    EXPECT_EQ(state.lng, 4.0);
}

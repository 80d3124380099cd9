// The map host on real web views: the program's main page (from the runtime
// folder) with the map page and the dive-detail page shown in its frames'
// "ie" elements, calls into them, their events back to the window, and the
// offline basemap as drawn.
#include <gtest/gtest.h>

#include <cairo.h>
#include <json/json.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/config.h"
#include "base/json_safe.h"
#include "base/window_messages.h"
#include "browser/map_event_state.h"
#include "browser/map_host.h"
#include "browser/map_script.h"
#include "ui_engine/element.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"
#include "tests/support/x_pointer.h"

namespace {

const std::string kBin = VORTA_BIN_DIR;

struct Message {
    uint32_t msg;
    double lat, lng;
};

class MapHostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // No online tiles, whatever the machine's configuration says: the
        // maps must work from the offline basemap alone.
        static char config_home[] = "/tmp/vorta-maphost-XXXXXX";
        if (mkdtemp(config_home)) setenv("XDG_CONFIG_HOME", config_home, 1);
        unsetenv("VORTA_MAP_TILE_URL");
        ReloadConfig();
        ui::InitEngine(kBin);
        // Away from the windows: the pointer would raise mouse events of its
        // own over the maps (the display is shared by every window test).
        vorta_test::MovePointerOutOfTheWay();
    }

    void SetUp() override {
        ASSERT_TRUE(ui::EngineReady()) << "the engine did not start: no display?";
        AppState.page_dir = kBin + "/ENG/";
        ui::WindowOptions o;
        o.title = "map host";
        o.width = 980;
        o.height = 700;
        win = std::make_unique<ui::HostWindow>(o);
        win->SetMessageHandler([this](uint32_t msg, intptr_t, intptr_t) {
            messages.push_back({msg, MapEventState.lat, MapEventState.lng});
        });
        ASSERT_TRUE(win->LoadPage(kBin + "/ENG/main.htm"));
        win->Show();
        MapEventState = MapEventStateRecord{};
        MapEventState.target = win->id();
    }

    void TearDown() override {
        hosts.clear();
        win.reset();
    }

    MapHost& NewHost() {
        hosts.push_back(std::make_unique<MapHost>());
        return *hosts.back();
    }

    // Shows the dive-site tab's frame (it starts hidden), as the tab switch does.
    void ShowSitesTab() {
        ui::FindById(*win, "framepage1").SetAttribute("hidden", "");
        ui::FindById(*win, "framepage2").RemoveAttribute("hidden");
    }

    // A script expression evaluated in the script page of frame `frame`'s
    // "ie" element, as text.
    std::string InPage(const std::string& frame, const std::string& expr) {
        return win->Evaluate("(function(){try{var w=document.getElementById('" + frame +
                             "').contentDocument.getElementById('ie_page').contentWindow;"
                             "return String((function(window){return " +
                             expr + ";}).call(w,w));}catch(e){return 'error: '+e;}})()");
    }
    std::string InPageWindow(const std::string& frame, const std::string& expr) {
        return InPage(frame, "window.eval(" + Json::valueToQuotedString(expr.c_str()) + ")");
    }

    Json::Value Received(const std::string& frame) {
        Json::Value v;
        json_safe::Parse(InPage(frame, "JSON.stringify(window.__received)"), v);
        return v;
    }

    bool WaitReady(const MapHost& host) {
        return ui::RunLoopUntil([&] { return host.ready(); }, 10000);
    }
    bool WaitMessage(uint32_t msg, size_t count = 1) {
        return ui::RunLoopUntil(
            [&] {
                size_t n = 0;
                for (const Message& m : messages) n += m.msg == msg;
                return n >= count;
            },
            10000);
    }
    const Message* Last(uint32_t msg) const {
        for (auto it = messages.rbegin(); it != messages.rend(); ++it)
            if (it->msg == msg) return &*it;
        return nullptr;
    }

    std::unique_ptr<ui::HostWindow> win;
    std::vector<std::unique_ptr<MapHost>> hosts;
    std::vector<Message> messages;
};

void Settle(int ms) {
    bool never = false;
    ui::RunLoopUntil([&] { return never; }, ms);
}

TEST_F(MapHostTest, CallsReachTheReadyPageInOrderAndNothingElse) {
    MapHost& host = NewHost();
    EXPECT_FALSE(host.Attach(win->id(), "no_such_frame", "web_html/maps.htm"));
    EXPECT_FALSE(host.Attach(0, "", "web_html/maps.htm"));
    ASSERT_TRUE(host.Attach(win->id(), "framepage2", "web_html/maps.htm"));
    // Before the page is ready: skipped, never delivered later.
    host.Call(vorta_browser::SetCenter(1.0, 2.0));
    EXPECT_FALSE(host.ready());
    ASSERT_TRUE(WaitReady(host));
    host.InvokeScript("noSuchFunction", {"1"});
    host.Call(vorta_browser::SetCenterWithZoom(25.033964, 121.565));
    host.Call(vorta_browser::SetCMarker(25.04, 121.56));
    host.Call(vorta_browser::SetCenter(-33.5, 151.25));
    Json::Value got = Received("framepage2");
    ASSERT_TRUE(got.isArray()) << InPage("framepage2", "JSON.stringify(window.__received)");
    ASSERT_EQ(got.size(), 3u) << got.toStyledString();
    EXPECT_EQ(got[0]["f"].asString(), "setCenterWithZoom");
    Json::Value args(Json::arrayValue);
    for (const char* a : {"25.033964", "121.565000", "14"}) args.append(a);
    EXPECT_EQ(got[0]["a"], args);
    EXPECT_EQ(got[1]["f"].asString(), "setCMarker");
    EXPECT_EQ(got[2]["f"].asString(), "setCenter");
    // The calls acted: the map is where the last one put it, at the zoom given.
    EXPECT_EQ(InPageWindow("framepage2", "map.getZoom()"), "14");
    EXPECT_EQ(InPageWindow("framepage2", "map.getCenter().lat.toFixed(6) + ',' + map.getCenter().lng.toFixed(6)"),
              "-33.500000,151.250000");
    EXPECT_EQ(InPageWindow("framepage2", "markers.getLayers().length"), "1");
}

TEST_F(MapHostTest, PageEventsReachTheTargetWindowWithTheirCoordinates) {
    ShowSitesTab();
    MapHost& host = NewHost();
    ASSERT_TRUE(host.Attach(win->id(), "framepage2", "web_html/maps.htm"));
    ASSERT_TRUE(WaitMessage(kMsgMapLoaded));
    ASSERT_TRUE(host.ready());  // readiness comes before the map's own report

    // The mouse over the map: its position, as the map computes it.
    std::string expected =
        InPageWindow("framepage2",
                     "var c = map.getContainer(), r = c.getBoundingClientRect();"
                     "var ll = map.containerPointToLatLng([100, 80]).wrap();"
                     "c.dispatchEvent(new MouseEvent('mousemove', {bubbles: true, clientX: r.left + 100,"
                     " clientY: r.top + 80})); ll.lat + ',' + ll.lng");
    ASSERT_TRUE(WaitMessage(kMsgMapMousePosition)) << expected;
    const Message* move = Last(kMsgMapMousePosition);
    size_t comma = expected.find(',');
    ASSERT_NE(comma, std::string::npos) << expected;
    EXPECT_DOUBLE_EQ(move->lat, std::stod(expected.substr(0, comma)));
    EXPECT_DOUBLE_EQ(move->lng, std::stod(expected.substr(comma + 1)));

    // The centre when asked for it (to the map's pixel: 1e-4 degrees at zoom 14).
    host.Call(vorta_browser::SetCenterWithZoom(25.033964, 121.565));
    host.Call(vorta_browser::GetCenter());
    ASSERT_TRUE(WaitMessage(kMsgMapCenter));
    EXPECT_NEAR(Last(kMsgMapCenter)->lat, 25.033964, 1e-4);
    EXPECT_NEAR(Last(kMsgMapCenter)->lng, 121.565, 1e-4);

    // The dive-site marker dropped somewhere else (as Leaflet reports a drag).
    host.Call(vorta_browser::SetCMarker(25.0, 121.0));
    InPageWindow("framepage2", "markers.eachLayer(function (m) { m.setLatLng([24.5, -200.25]); m.fire('dragend'); })");
    ASSERT_TRUE(WaitMessage(kMsgMapMarkerDragged));
    EXPECT_DOUBLE_EQ(Last(kMsgMapMarkerDragged)->lat, 24.5);
    EXPECT_DOUBLE_EQ(Last(kMsgMapMarkerDragged)->lng, 159.75);  // wrapped into -180..180

    // While another window is the target (an edit dialog), events go there.
    ui::WindowOptions o;
    o.kind = ui::WindowKind::Dialog;
    ui::HostWindow other(o);
    std::vector<uint32_t> other_got;
    other.SetMessageHandler([&](uint32_t msg, intptr_t, intptr_t) { other_got.push_back(msg); });
    MapEventState.target = other.id();
    size_t before = messages.size();
    host.Call(vorta_browser::GetCenter());
    ASSERT_TRUE(ui::RunLoopUntil([&] { return !other_got.empty(); }, 10000));
    EXPECT_EQ(other_got, std::vector<uint32_t>{kMsgMapCenter});
    EXPECT_EQ(messages.size(), before);
}

TEST_F(MapHostTest, OnlyScriptPagesHaveWindowExternal) {
    MapHost& detail = NewHost();
    MapHost& sites = NewHost();
    ASSERT_TRUE(detail.Attach(win->id(), "framepage1", "web_html/main.htm"));
    ASSERT_TRUE(sites.Attach(win->id(), "framepage2", "web_html/maps.htm"));
    ASSERT_TRUE(WaitReady(detail));
    ASSERT_TRUE(WaitReady(sites));
    EXPECT_EQ(win->Evaluate("typeof window.external"), "undefined");
    EXPECT_EQ(win->Evaluate("typeof document.getElementById('framepage1').contentWindow.external"), "undefined");
    EXPECT_EQ(win->Evaluate("typeof document.getElementById('framepage2').contentWindow.external"), "undefined");
    // The script pages have the four methods and nothing else.
    for (const char* frame : {"framepage1", "framepage2"}) {
        EXPECT_EQ(InPage(frame, "Object.keys(window.external).sort().join(' ')"),
                  "on_get_map_center on_load_map_event on_mus_move_event on_poi_move_event")
            << frame;
        EXPECT_EQ(
            InPage(frame, "(function(){try{window.external.on_other(1,2);return 'called'}catch(e){return 'threw'}})()"),
            "threw");
    }
    // Two hosts in one window keep their pages apart.
    detail.Call(vorta_browser::SetPMarker(1.5, 2.5));
    sites.Call(vorta_browser::SetEMarker(3.5, 4.5));
    EXPECT_EQ(Received("framepage1")[0]["f"].asString(), "setPMarker");
    EXPECT_EQ(Received("framepage2")[0]["f"].asString(), "setEMarker");
    EXPECT_EQ(Received("framepage1").size(), 1u);
    EXPECT_EQ(Received("framepage2").size(), 1u);
}

TEST_F(MapHostTest, NavigateReloadsAndDetachRemovesThePage) {
    MapHost& host = NewHost();
    ASSERT_TRUE(host.Attach(win->id(), "framepage1", "web_html/main.htm"));
    ASSERT_TRUE(WaitReady(host));
    host.Call(vorta_browser::ClrMarker());
    EXPECT_EQ(Received("framepage1").size(), 1u);
    host.Navigate("web_html/main.htm");
    EXPECT_FALSE(host.ready());
    host.Call(vorta_browser::ClrMarker());  // skipped: the new page is not ready
    ASSERT_TRUE(WaitReady(host));
    Settle(100);
    EXPECT_EQ(Received("framepage1").size(), 0u);  // a fresh page, and the skipped call never came
    // Attaching again after the owner's page was rebuilt finds the new element.
    ASSERT_TRUE(win->LoadPage(kBin + "/ENG/main.htm"));
    ASSERT_TRUE(host.Attach(win->id(), "framepage1", "web_html/main.htm"));
    ASSERT_TRUE(WaitReady(host));
    host.Detach();
    EXPECT_FALSE(host.ready());
    host.Call(vorta_browser::ClrMarker());
    Settle(100);
    EXPECT_EQ(win->Evaluate("String(document.getElementById('framepage1').contentDocument"
                            ".getElementById('ie').children.length)"),
              "0");
    // A host may outlive its window.
    ASSERT_TRUE(host.Attach(win->id(), "framepage2", "web_html/maps.htm"));
    win.reset();
    host.Call(vorta_browser::ClrMarker());
    host.Navigate("web_html/maps.htm");
    host.Detach();
    EXPECT_FALSE(host.ready());
}

// The detail page shows what it is given as text, and draws the profile:
// depth samples, symbols, and the line's colour by ascent rate.
TEST_F(MapHostTest, DetailPageShowsValuesAsTextAndColoursTheProfile) {
    MapHost& host = NewHost();
    ASSERT_TRUE(host.Attach(win->id(), "framepage1", "web_html/main.htm"));
    ASSERT_TRUE(WaitReady(host));
    const std::string hostile = "<img src=x onerror=\"window.__hit=1\">";
    Json::Value doc;
    doc["value"]["log_date"] = "2024-03-05 09:00";
    doc["value"]["log_type"] = hostile;
    doc["value"]["log_water_temp"] = "25.0";
    doc["value"]["log_water_temp_unit"] = "c";
    doc["value"]["log_max_depth"] = 30;  // not text: shown empty
    host.Call(vorta_browser::SetDiveValue(Json::FastWriter().write(doc)));
    host.Call(vorta_browser::SetDiveValue("not json"));  // ignored: the panel keeps the dive
    EXPECT_EQ(InPage("framepage1", "window.document.getElementById('log_type').textContent"), hostile);
    EXPECT_EQ(InPage("framepage1", "window.document.getElementById('log_water_temp_unit').textContent"), "\u00B0C");
    EXPECT_EQ(InPage("framepage1", "window.document.getElementById('log_max_depth').textContent"), "");  // not text
    EXPECT_EQ(InPage("framepage1", "window.document.getElementById('log_date').textContent"), "2024-03-05 09:00");
    EXPECT_EQ(InPage("framepage1", "window.document.querySelectorAll('img').length"), "0");
    EXPECT_EQ(InPage("framepage1", "typeof window.__hit"), "undefined");

    // Ascent rates against the limits (9 and 18 per minute in metres; the
    // same speeds in feet), one segment per case; samples 60 s apart.
    struct Case {
        const char* unit;
        double from, to;  // depth in the page's unit
        int colour;       // 0 green, 1 amber, 2 red
    } cases[] = {
        {"0", 30, 40, 0}, {"0", 30, 21, 0}, {"0", 30, 20, 1}, {"0", 30, 12, 1}, {"0", 30, 11, 2},
        {"1", 98, 69, 0}, {"1", 98, 68, 1}, {"1", 98, 40, 1}, {"1", 98, 38, 2}, {"1", 98, 60, 1},
    };
    for (const Case& c : cases) {
        std::string chart = "[[0," + std::to_string(c.from) + "],[60," + std::to_string(c.to) + "]]";
        host.Call(vorta_browser::SetDiveChart(std::atoi(c.unit), chart));
        EXPECT_EQ(InPageWindow("framepage1", "chart.state.classes[1]"), std::to_string(c.colour))
            << c.unit << " " << c.from << " -> " << c.to;
    }

    // A profile with a symbol, a broken sample and a foreign picture: the
    // symbol is drawn from the program's images, the rest is left out.
    host.Call(vorta_browser::SetDiveChart(
        0,
        "[[0,0],[10,3.5,{\"enabled\":true,\"symbol\":\"url(../../images/scuba_in.png)\"}],[\"x\",1],"
        "[20,6.0,{\"enabled\":true,\"symbol\":\"url(http://example.invalid/x.png)\"}],[20,7],[30,5.5]]"));
    EXPECT_EQ(InPageWindow("framepage1", "JSON.stringify([chart.state.t, chart.state.d, chart.state.marks])"),
              "[[0,10,20,30],[0,3.5,6,5.5],[{\"i\":1,\"name\":\"scuba_in\"}]]");
    // The readout follows the arrow keys sample by sample.
    auto key = [&](const char* k) {
        InPageWindow("framepage1", std::string("document.getElementById('chart').dispatchEvent(new KeyboardEvent("
                                               "'keydown', {key: '") +
                                       k + "', bubbles: true}))");
        return InPage("framepage1",
                      "['time','depth','rate'].map(function (n) { return "
                      "window.document.getElementById('readout_' + n).textContent; }).join(' | ')");
    };
    EXPECT_EQ(key("ArrowRight"), "0:00 | 0.0 m | 0.0 m/min");
    EXPECT_EQ(key("ArrowRight"), "0:10 | 3.5 m | \u2193 21.0 m/min");
    EXPECT_EQ(key("End"), "0:30 | 5.5 m | \u2191 3.0 m/min");
    EXPECT_EQ(key("ArrowLeft"), "0:20 | 6.0 m | \u2193 15.0 m/min");
    EXPECT_EQ(Received("framepage1").size(), 13u);
}

// The chart library loads with stand-ins for the Intl formatters (it would
// otherwise load the locale data of both): once the page is up, its own Intl
// is back and formats as the standard says, and the library drew its chart.
TEST_F(MapHostTest, DetailPageHasItsOwnIntlBackAfterTheChartLibraryLoads) {
    MapHost& host = NewHost();
    ASSERT_TRUE(host.Attach(win->id(), "framepage1", "web_html/main.htm"));
    ASSERT_TRUE(WaitReady(host));
    EXPECT_EQ(InPageWindow("framepage1", "new Intl.NumberFormat('en-US').format(1234.5)"), "1,234.5");
    EXPECT_EQ(InPageWindow("framepage1", "new Intl.DateTimeFormat('en-US', {timeZone: 'UTC'}).format(0)"), "1/1/1970");
    EXPECT_EQ(InPageWindow("framepage1", "typeof window.__pageIntl"), "undefined");
    EXPECT_EQ(InPageWindow("framepage1", "document.querySelectorAll('#chart canvas').length"), "1");
}

// Dive after dive the detail page is the same page with one map and one
// chart: each dive's calls move the markers and redraw in place, nothing is
// made anew (a new map or chart per dive would pile up in the web process).
TEST_F(MapHostTest, DiveAfterDiveTheDetailKeepsOneMapAndOneChart) {
    MapHost& host = NewHost();
    ASSERT_TRUE(host.Attach(win->id(), "framepage1", "web_html/main.htm"));
    ASSERT_TRUE(WaitReady(host));
    InPageWindow("framepage1", "window.__samePage = 1");
    for (int dive = 0; dive < 6; ++dive) {
        const double lat = 10 + dive, lng = 120 - dive;
        host.Call(vorta_browser::ClrMarker());
        host.Call(vorta_browser::SetSMarker(lat, lng));
        host.Call(vorta_browser::SetEMarker(lat + 0.01, lng));
        host.Call(vorta_browser::SetPMarker(lat, lng + 0.01));
        host.Call(vorta_browser::SetCenter(lat, lng));
        host.Call(vorta_browser::SetDiveChart(
            0, "[[0,0],[60," + std::to_string(5 + dive) + "],[120," + std::to_string(10 + dive) + "],[180,0]]"));
    }
    EXPECT_EQ(InPageWindow("framepage1", "String(window.__samePage)"), "1");
    EXPECT_EQ(InPageWindow("framepage1", "document.querySelectorAll('.leaflet-container').length"), "1");
    EXPECT_EQ(InPageWindow("framepage1", "document.querySelectorAll('.uplot').length"), "1");
    // The chart's canvas and the basemap's: two in all.
    EXPECT_EQ(InPageWindow("framepage1", "document.querySelectorAll('canvas').length"), "2");
    EXPECT_EQ(InPageWindow("framepage1", "document.querySelectorAll('.leaflet-marker-icon').length"), "3");
    EXPECT_EQ(InPageWindow("framepage1", "chart.state.d[2]"), "15");  // the last dive's profile
}

// The export range's two fields are month fields from the moment they are
// needed (the range chosen, or either field used), both at once, keeping a
// month already typed; before that they are text fields the program reads
// the same way.
TEST_F(MapHostTest, ExportRangeFieldsBecomeMonthFieldsWhenNeeded) {
    struct Case {
        const char* what;
        const char* action;  // run in the dive-log frame, with `d` its document
    } cases[] = {
        {"range chosen",
         "var s=d.getElementById('export_scope');s.value='range';"
         "s.dispatchEvent(new Event('change',{bubbles:true}))"},
        {"a field focused", "d.getElementById('export_to').focus()"},
        {"a field clicked", "d.getElementById('export_to').dispatchEvent(new MouseEvent('mousedown',{bubbles:true}))"},
    };
    const std::string frame = "var d=document.getElementById('framepage1').contentDocument;";
    auto types = [&] {
        return win->Evaluate("(function(){" + frame +
                             "return d.getElementById('export_from').type+' '+d.getElementById('export_to').type})()");
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(win->LoadPage(kBin + "/ENG/main.htm")) << c.what;
        EXPECT_EQ(types(), "text text") << c.what;
        win->Evaluate("(function(){" + frame + "d.getElementById('export_from').value='2024-03';return ''})()");
        // Another scope leaves them as they are.
        win->Evaluate("(function(){" + frame +
                      "var s=d.getElementById('export_scope');s.value='all';"
                      "s.dispatchEvent(new Event('change',{bubbles:true}));return ''})()");
        EXPECT_EQ(types(), "text text") << c.what;
        win->Evaluate("(function(){" + frame + c.action + ";return ''})()");
        EXPECT_EQ(types(), "month month") << c.what;
        EXPECT_EQ(win->Evaluate("(function(){" + frame + "return d.getElementById('export_from').value})()"), "2024-03")
            << c.what;
    }
}

// Offline, the map still shows land and sea: pixels of the land colour over a
// continent, of the sea colour over an ocean.
TEST_F(MapHostTest, OfflineBasemapDrawsLandAndSea) {
    ShowSitesTab();
    MapHost& host = NewHost();
    ASSERT_TRUE(host.Attach(win->id(), "framepage2", "web_html/maps.htm"));
    ASSERT_TRUE(WaitMessage(kMsgMapLoaded));
    struct Place {
        double lat, lng;
        uint32_t rgb;  // the page's land or sea colour
    } places[] = {{-25.0, 134.0, 0xe9e3cf}, {-30.0, -140.0, 0xb7d7e8}, {48.0, 2.5, 0xe9e3cf}};
    const std::string png = std::string(::testing::TempDir()) + "/vorta-basemap.png";
    for (const Place& p : places) {
        host.Call(vorta_browser::SetCenterWithZoom(p.lat, p.lng));
        // The centre of the map, in the window's pixels.
        std::string at = win->Evaluate(
            "(function(){var f1=document.getElementById('framepage2'), d1=f1.contentDocument,"
            "f2=d1.getElementById('ie_page'), a=f1.getBoundingClientRect(), b=f2.getBoundingClientRect();"
            "return Math.round(a.left+b.left+b.width/2)+','+Math.round(a.top+b.top+b.height/2)})()");
        Settle(150);
        ASSERT_TRUE(win->SnapshotPng(png));
        cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
        ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
        int x = std::stoi(at.substr(0, at.find(','))) + 30;  // clear of the centre
        int y = std::stoi(at.substr(at.find(',') + 1)) + 30;
        ASSERT_LT(x, cairo_image_surface_get_width(s));
        ASSERT_LT(y, cairo_image_surface_get_height(s));
        const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
        uint32_t px = reinterpret_cast<const uint32_t*>(row)[x] & 0xffffff;
        cairo_surface_destroy(s);
        auto near = [](uint32_t a, uint32_t b) {
            for (int shift : {0, 8, 16})
                if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > 6) return false;
            return true;
        };
        EXPECT_TRUE(near(px, p.rgb)) << p.lat << "," << p.lng << ": pixel " << std::hex << px << " wanted " << p.rgb;
    }
}

// Redraw after redraw the basemap projects and cuts the land into the same
// kept arrays: once they have grown to the largest view, moving between
// views makes no new ones (new arrays per redraw, some 30,000 points at
// world zoom, piled up in the web process over a session).
TEST_F(MapHostTest, BasemapRedrawsReuseTheirArrays) {
    ShowSitesTab();
    MapHost& host = NewHost();
    ASSERT_TRUE(host.Attach(win->id(), "framepage2", "web_html/maps.htm"));
    ASSERT_TRUE(WaitMessage(kMsgMapLoaded));
    const std::string renderer = "Object.values(map._layers).filter(function(l){return l._land;})[0]";
    const char* const views[] = {"[20,0],2", "[-25,134],3", "[48,2.5],5", "[0,-160],1"};
    auto visit_all = [&] {
        for (const char* view : views) {
            InPageWindow("framepage2", std::string("map.setView(") + view + ",{animate:false})");
            Settle(150);
        }
    };
    visit_all();
    ASSERT_EQ(InPageWindow("framepage2", "typeof " + renderer + "._land"), "object");
    InPageWindow("framepage2", "var s=" + renderer +
                                   "._land; window.__kept=[s, s.fill.v, s.fillRuns.v, s.coast.v, s.coastRuns.v,"
                                   " s.ring.v, s.seams.v, s.cutA.v, s.cutB.v]");
    visit_all();
    visit_all();
    EXPECT_EQ(InPageWindow("framepage2",
                           "var s=" + renderer +
                               "._land; [s, s.fill.v, s.fillRuns.v, s.coast.v, s.coastRuns.v, s.ring.v, s.seams.v,"
                               " s.cutA.v, s.cutB.v].map(function(a,i){return a===window.__kept[i]?1:0;}).join('')"),
              "111111111");
}

// Online tiles are configured, or not: the page draws what it is given,
// over the basemap, and takes only http and https addresses.
TEST_F(MapHostTest, MapTilesComeFromTheConfiguration) {
    struct Case {
        const char* configured;
        const char* page_sees;  // "null": no tile layer
    } cases[] = {
        {"", "null"},
        {"http://127.0.0.1:9/{z}/{x}/{y}.png?k=a&b", "http://127.0.0.1:9/{z}/{x}/{y}.png?k=a&b"},
        {"javascript:alert(1)//{z}", "null"},
        {"file:///etc/{z}.png", "null"},
    };
    for (const Case& c : cases) {
        setenv("VORTA_MAP_TILE_URL", c.configured, 1);
        ReloadConfig();
        MapHost host;
        ASSERT_TRUE(host.Attach(win->id(), "framepage2", "web_html/maps.htm"));
        ASSERT_TRUE(WaitReady(host)) << c.configured;
        EXPECT_EQ(InPageWindow("framepage2", "String(ScriptMap.tileUrl())"), c.page_sees);
        EXPECT_EQ(
            InPageWindow("framepage2", "var n = 0; map.eachLayer(function (l) { n += l instanceof L.TileLayer; }); n"),
            std::string(c.page_sees) == "null" ? "0" : "1")
            << c.configured;
    }
    unsetenv("VORTA_MAP_TILE_URL");
    ReloadConfig();
}

}  // namespace

// The dive-log editor without a window: the record from a document, the
// dialog's page and map over a recording surface, what a save writes back
// into the document, and the PATCH judged by its envelope.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "base/json_safe.h"
#include "divelog/dive_log_edit.h"
#include "divelog/divelog_cloud.h"
#include "divelog/log_edit_form.h"
#include "tests/browser/map_script_fake.h"
#include "tests/support/fake_peers.h"

using namespace vorta_divelog;
using vorta_browser::MapScriptCall;

namespace {

Json::Value Parsed(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(json_safe::Parse(text, v)) << text;
    return v;
}

// A dialog page that keeps element values and attributes in maps.
class FakeSurface : public LogEditSurface {
public:
    std::map<std::string, std::string> values;
    std::set<std::string> hidden;
    std::map<std::string, std::string> content;
    std::string message_line = "(untouched)";
    std::vector<std::string> dialogs;
    std::vector<std::string> searched;
    vorta_divesite::SearchOutcome outcome;
    std::string row_file;
    int closed = -1;

    std::string GetValue(const std::string& id) override { return values[id]; }
    void SetValue(const std::string& id, const std::string& v) override { values[id] = v; }
    void SetHidden(const std::string& id, bool h) override {
        if (h) hidden.insert(id);
        else hidden.erase(id);
    }
    void SetContent(const std::string& id, const std::string& html) override { content[id] = html; }
    void UpdatePage() override {}
    std::string PagePath(const std::string&) override { return row_file; }
    void ShowMessageLine(const std::string& key) override { message_line = key; }
    void ShowMessage(const std::string& key) override { dialogs.push_back(key); }
    vorta_divesite::SearchOutcome SearchSites(const std::string& text) override {
        searched.push_back(text);
        return outcome;
    }
    void Close(int result) override { closed = result; }
};

const char* const kScuba = R"({
  "divelog_id": "100002", "dive_type": "scuba",
  "air_in_text": "200", "air_out_text": "50.0", "cylinder_size_text": "12",
  "weather_type": 2, "wave_type": 1, "current_type": 3, "visibility_type": 2,
  "suit_thickness": "6.5", "weight": "6.0", "max_depth": "18.20",
  "entry_position": {"latitude": 25.0339649, "longitude": 121.5644681},
  "exit_position": {"latitude": 0, "longitude": 0},
  "poi": {"poi_id": "P7", "poi_name": "Reef", "gps_location": {"latitude": 25.1, "longitude": 121.6}}
})";

// Opens the dialog on `doc`, lets `edit` act on the filled page, saves, and
// writes the record back into the document.
Json::Value SaveEdited(const Json::Value& doc, int32_t unit, const std::function<void(FakeSurface&)>& edit = nullptr) {
    DiveLogEdit record = FillDiveLogEdit(doc);
    FakeSurface page;
    browser_test::RecordingMapScript map;
    LogEditForm form(record, unit, page, map);
    form.SetUp();
    if (edit) edit(page);
    form.OnClick("save", {});
    EXPECT_EQ(page.closed, 1);
    Json::Value out = doc;
    WriteDiveLogEdit(record, unit, out);
    return out;
}

}  // namespace

TEST(DiveLogEditFill, FromTheDocument) {
    DiveLogEdit e = FillDiveLogEdit(Parsed(kScuba));
    EXPECT_EQ(e.dive_mode, 0);
    EXPECT_EQ(e.start_pressure, 200.0);
    EXPECT_EQ(e.end_pressure, 50.0);
    EXPECT_EQ(e.cylinder_volume, 12);
    EXPECT_EQ((std::vector<int>{e.weather, e.wave, e.current, e.visibility}), (std::vector<int>{2, 1, 3, 2}));
    EXPECT_EQ(e.suit_thickness, 6.5);
    EXPECT_EQ(e.weight, 6.0);
    EXPECT_EQ(e.poi_id, "P7");
    EXPECT_EQ(e.poi_lat, 25.1);
    EXPECT_EQ(e.entry_lat, 25.0339649);

    // Missing members, texts that are not numbers, a volume with a fraction,
    // a site whose id is null: zeros and empty text.
    e = FillDiveLogEdit(Parsed(R"({"dive_type": "free", "air_in_text": "n/a", "cylinder_size_text": "11.9 L",
                                   "weather_type": "3", "weight": 5,
                                   "poi": {"poi_id": null, "gps_location": {"latitude": 25.1, "longitude": 121.6}}})"));
    EXPECT_EQ(e.dive_mode, 2);
    EXPECT_EQ(e.start_pressure, 0.0);
    EXPECT_EQ(e.cylinder_volume, 11);
    EXPECT_EQ(e.weather, 0);
    EXPECT_EQ(e.weight, 0.0);
    EXPECT_EQ(e.poi_id, "");
    EXPECT_EQ(e.poi_lat, 0.0);
    EXPECT_EQ(e.poi_lng, 0.0);
    EXPECT_EQ(FillDiveLogEdit(Json::Value("not an object")).dive_mode, 0);
}

TEST(DiveLogEditForm, PageShowsTheUsersUnits) {
    const struct {
        int32_t unit;
        const char *s_bar, *e_bar, *bar_unit, *volume_unit, *weight, *weight_unit;
    } cases[] = {
        {0, "200", "50", "bar", "L", "6.0", "kg"},
        {1, "2901", "725", "psi", "cuft", "13.2", "lbs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit);
        DiveLogEdit record = FillDiveLogEdit(Parsed(kScuba));
        FakeSurface page;
        browser_test::RecordingMapScript map;
        LogEditForm(record, c.unit, page, map).SetUp();
        EXPECT_EQ(page.values["s_bar"], c.s_bar);
        EXPECT_EQ(page.values["e_bar"], c.e_bar);
        EXPECT_EQ(page.values["s_bar_unit"], c.bar_unit);
        EXPECT_EQ(page.values["volume"], "12");
        EXPECT_EQ(page.values["volume_unit"], c.volume_unit);
        EXPECT_EQ(page.values["weight"], c.weight);
        EXPECT_EQ(page.values["weight_unit"], c.weight_unit);
        EXPECT_EQ(page.values["weather"], "2");
        EXPECT_EQ(page.values["suit_thickness"], "6");
        // An entry position: the site is not chosen here.
        EXPECT_EQ(page.hidden, (std::set<std::string>{"edit_ds"}));
    }
}

TEST(DiveLogEditSave, UnchangedFieldsKeepTheirLoadedMembersExactly) {
    const Json::Value doc = Parsed(kScuba);
    for (int32_t unit : {0, 1}) {
        SCOPED_TRACE(unit);
        // 2901 psi read back would be 200.016909 bar; nothing is rewritten.
        EXPECT_EQ(SaveEdited(doc, unit), doc);
    }
    // A freedive's tank values are not on the page and stay as loaded.
    Json::Value free = doc;
    free["dive_type"] = "free";
    Json::Value saved = SaveEdited(free, 1, [](FakeSurface& page) {
        EXPECT_EQ(page.hidden.count("scuba_option_value"), 1u);
        EXPECT_EQ(page.values.count("s_bar"), 0u);
        page.values["s_bar"] = "3000";  // not read
        page.values["weather"] = "5";
    });
    EXPECT_EQ(saved["air_in_text"], "200");
    EXPECT_EQ(saved["cylinder_size_text"], "12");
    EXPECT_EQ(saved["weather_type"], 5);
    // A code the page has no option for reads "" and is kept.
    Json::Value odd = doc;
    odd["wave_type"] = 9;
    EXPECT_EQ(SaveEdited(odd, 0, [](FakeSurface& page) { page.values["wave"] = ""; })["wave_type"], 9);
}

TEST(DiveLogEditSave, EditedFieldsAreConvertedOnce) {
    const Json::Value doc = Parsed(kScuba);
    const struct {
        int32_t unit;
        const char *id, *typed, *member;
        Json::Value stored;
    } cases[] = {
        {0, "s_bar", "210", "air_in_text", "210.000000"},
        {1, "s_bar", "3000", "air_in_text", "206.842719"},  // 3000 psi
        {1, "e_bar", "abc", "air_out_text", "0.000000"},    // not a number
        {0, "volume", "15.7", "cylinder_size_text", "15"},  // never converted
        {1, "volume", "80", "cylinder_size_text", "80"},
        {0, "weight", "4.5", "weight", "4.500000"},  // decimals kept
        {1, "weight", "10", "weight", "4.535924"},   // 10 lbs
        {1, "suit_thickness", "7", "suit_thickness", "7"},
        {0, "visibility", "3", "visibility_type", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " " + c.typed + " unit " + std::to_string(c.unit));
        Json::Value saved = SaveEdited(doc, c.unit, [&](FakeSurface& page) { page.values[c.id] = c.typed; });
        EXPECT_EQ(saved[c.member], c.stored);
        // Everything else as loaded.
        Json::Value rest = saved;
        rest[c.member] = doc[c.member];
        EXPECT_EQ(rest, doc);
    }
}

TEST(DiveLogEditMap, MarkersAtMicroDegreeResolution) {
    auto calls = [](const char* doc) { return EditMarkerCalls(FillDiveLogEdit(Parsed(doc))); };
    using namespace vorta_browser;
    // Entry only, truncated to millionths; the exit at (0, 0) is not shown.
    EXPECT_EQ(calls(kScuba),
              (std::vector<MapScriptCall>{SetSMarker(25.033964, 121.564468), SetCenter(25.033964, 121.564468)}));
    // Entry and exit, centred on their mean; the site is not shown.
    EXPECT_EQ(calls(R"({"entry_position": {"latitude": 25.1, "longitude": 121.5},
                        "exit_position": {"latitude": 25.3, "longitude": 121.7},
                        "poi": {"poi_id": "P", "gps_location": {"latitude": 1, "longitude": 2}}})"),
              (std::vector<MapScriptCall>{SetSMarker(25.1, 121.5), SetEMarker(25.3, 121.7), SetCenter(25.2, 121.6)}));
    // The site only, at its full position; below a millionth counts as none.
    EXPECT_EQ(calls(R"({"entry_position": {"latitude": 0.0000009, "longitude": 0},
                        "poi": {"poi_id": "P", "gps_location": {"latitude": 25.12345678, "longitude": -80.5}}})"),
              (std::vector<MapScriptCall>{SetSMarker(25.12345678, -80.5), SetCenter(25.12345678, -80.5)}));
    // Nothing: the map keeps its view.
    EXPECT_TRUE(calls(R"({"poi": null})").empty());
}

TEST(DiveLogEditSearch, FindAndTakeASite) {
    const std::string row_file = ::testing::TempDir() + "/log_edit_row.htm";
    std::ofstream(row_file) << R"(<div id="dive_site_poi" class="btnctrl" poi_id=""><b id="poi_name"></b>)"
                               R"(<i id="poi_region"></i></div>)";
    Json::Value doc = Parsed(kScuba);
    doc.removeMember("entry_position");
    doc.removeMember("poi");
    DiveLogEdit record = FillDiveLogEdit(doc);
    FakeSurface page;
    page.row_file = row_file;
    browser_test::RecordingMapScript map;
    LogEditForm form(record, 0, page, map);
    form.SetUp();
    EXPECT_EQ(page.hidden.count("edit_ds"), 0u);
    form.OnClick("edit_ds", {});
    EXPECT_EQ(page.hidden, (std::set<std::string>{"ie"}));

    // Too short: nothing sent. A failed answer: its key in the page, no rows.
    page.values["ds_name"] = "a";
    form.OnClick("search", {});
    EXPECT_TRUE(page.searched.empty());
    page.values["ds_name"] = "reef & <wall>";
    page.outcome.connected = true;
    page.outcome.failure_key = "DATA_ERROR";
    form.OnClick("search", {});
    EXPECT_EQ(page.message_line, "DATA_ERROR");
    EXPECT_EQ(page.content.count("cell_tbody"), 0u);
    // Not connected: the message dialog.
    page.outcome.connected = false;
    form.OnClick("search", {});
    EXPECT_EQ(page.dialogs, (std::vector<std::string>{"HOST_NOT_CONN"}));

    page.outcome = {true, "", {{"S1", "Blue <Hole>", "Dahab", 28.57, 34.54}, {"S2", "Canyon", "Dahab", 28.55, 34.52}}};
    form.OnClick("search", {});
    EXPECT_EQ(page.searched.back(), "reef & <wall>");
    EXPECT_EQ(page.message_line, "");
    EXPECT_EQ(page.content["cell_tbody"],
              R"(<div id="dive_site_poi" class="btnctrl" poi_id="S1"><b id="poi_name">Blue &lt;Hole&gt;</b>)"
              R"(<i id="poi_region">Dahab</i></div>)"
              R"(<div id="dive_site_poi" class="btnctrl" poi_id="S2"><b id="poi_name">Canyon</b>)"
              R"(<i id="poi_region">Dahab</i></div>)");

    // A row that matches no result changes nothing but goes back to the map.
    form.OnClick("dive_site_poi", {{"poi_id", "S9"}});
    EXPECT_TRUE(map.calls.empty());
    EXPECT_EQ(page.hidden, (std::set<std::string>{"ds"}));
    form.OnClick("edit_ds", {});
    form.OnClick("dive_site_poi", {{"poi_id", "S2"}});
    EXPECT_EQ(page.hidden, (std::set<std::string>{"ds"}));
    using namespace vorta_browser;
    EXPECT_EQ(map.calls, (std::vector<MapScriptCall>{SetSMarker(28.55, 34.52), SetCenter(28.55, 34.52)}));

    form.OnClick("save", {});
    WriteDiveLogEdit(record, 0, doc);
    EXPECT_EQ(doc["poi"], Parsed(R"({"poi_id": "S2", "gps_location": {"latitude": 28.55, "longitude": 34.52}})"));
    std::remove(row_file.c_str());
}

TEST(DiveLogEditCloud, PatchIsJudgedByTheEnvelope) {
    const struct {
        const char* answer;
        CloudAnswer::Status status;
        const char* key;
    } cases[] = {
        {"", CloudAnswer::Status::kFailed, "HOST_NOT_CONN"},  // never arrived
        {"{}", CloudAnswer::Status::kFailed, "HOST_ERROR"},
        {R"({"code": "0000001"})", CloudAnswer::Status::kFailed, "DATA_ERROR"},
        {R"({"code": "0000000", "response": {}})", CloudAnswer::Status::kOk, ""},
    };
    const Json::Value doc = Parsed(kScuba);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        vorta_test::FakeCloud cloud;
        cloud.answers = {c.answer};
        const CloudAnswer a = SaveDiveLog(cloud, doc, "other");
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.message_key, c.key);
        ASSERT_EQ(cloud.requests.size(), 1u);
        EXPECT_EQ(cloud.requests[0].verb, "PATCH");
        EXPECT_EQ(cloud.requests[0].path, "api/v1/divelogs/100002");
        EXPECT_EQ(cloud.requests[0].is_json, 1);
        EXPECT_EQ(Parsed(cloud.requests[0].body), doc);
        EXPECT_NE(cloud.requests[0].body.find("\n   \"air_in_text\" : \"200\""), std::string::npos);  // styled
    }
    // No session: nothing sent. No id in the document: the id it was loaded with.
    vorta_test::FakeCloud cloud;
    cloud.connect_result = false;
    EXPECT_EQ(SaveDiveLog(cloud, doc, "x").status, CloudAnswer::Status::kNoSession);
    EXPECT_TRUE(cloud.requests.empty());
    cloud.connect_result = true;
    Json::Value no_id = doc;
    no_id.removeMember("divelog_id");
    SaveDiveLog(cloud, no_id, "100003");
    EXPECT_EQ(cloud.requests.at(0).path, "api/v1/divelogs/100003");
}

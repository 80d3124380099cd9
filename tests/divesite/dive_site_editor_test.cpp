// The dive-site page's logic against a recording page and map, a recording
// device in front of an in-memory one, and a scripted cloud: what the page
// shows, what the map is told, what the device hears and what the user is
// asked and told, on every road of the list, the transfer, the files and the
// search.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "device/device_session.h"
#include "divesite/dive_site_editor.h"
#include "divesite/dive_site_file.h"
#include "tests/browser/map_script_fake.h"
#include "tests/support/fake_peers.h"

using namespace vorta_divesite;
using vorta_browser::MapScriptCall;
using vorta_test::FakeCloud;
using vorta_test::FakeDevice;

namespace {

const std::string kTemplates = VORTA_TEMPLATES;

// A dive computer's memory: whole 4096-byte blocks by address, 0xFF where
// nothing was written.
class MemoryDevice : public DeviceLink {
public:
    std::map<uint32_t, std::vector<uint8_t>> blocks;

    bool GetInfo(std::string&, uint32_t&, std::string&) override { return true; }
    bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) override {
        auto it = blocks.find(addr);
        for (uint32_t i = 0; i < len; ++i) out[i] = it == blocks.end() ? 0xFF : it->second[i];
        return true;
    }
    bool WriteBlock(uint32_t addr, const uint8_t* data) override {
        blocks[addr].assign(data, data + kBlockSize);
        return true;
    }
    size_t EndLink() override { return 40; }
    void FinishFirmwareUpdate() override {}
};

class Surface : public DiveSiteSurface {
public:
    // --- script ---
    std::string template_dir = kTemplates;
    bool yes = true;
    std::string chosen_file;
    DevicePortStatus port = DevicePortStatus::kFound;
    MemoryDevice memory;
    FakeDevice device;
    FakeCloud cloud;  // every client NewCloud makes goes through this one

    // --- record ---
    std::map<std::string, std::string> values;
    std::map<std::string, bool> disabled;
    std::map<std::string, std::string> content;
    std::vector<std::string> said;  // "msg:K1|K2", "ask:K", "line:K", "file:open|save", "popup:show|hide"
    int blocking_calls = 0;

    Surface() { device.through = &memory; }

    std::string GetValue(const std::string& id) override { return values[id]; }
    void SetValue(const std::string& id, const std::string& value) override { values[id] = value; }
    void SetDisabled(const std::string& id, bool d) override { disabled[id] = d; }
    void SetContent(const std::string& id, const std::string& html) override { content[id] = html; }
    void ShowPopup(const std::string& id, const std::string& anchor) override {
        said.push_back("popup:show " + id + "@" + anchor);
    }
    void HidePopup(const std::string& id) override { said.push_back("popup:hide " + id); }
    void UpdatePage() override {}
    std::string PagePath(const std::string& file) override { return template_dir + "/" + file; }
    void ShowMessageLine(const std::string& key) override { said.push_back("line:" + key); }
    void ShowMessage(const std::string& k1, const std::string& k2) override { said.push_back("msg:" + k1 + "|" + k2); }
    bool AskYesNo(const std::string& key) override {
        said.push_back("ask:" + key);
        return yes;
    }
    std::string ChooseSiteFile(bool save) override {
        said.push_back(save ? "file:save" : "file:open");
        return chosen_file;
    }
    std::unique_ptr<DeviceSession> OpenDevice() override {
        auto session = std::make_unique<DeviceSession>(
            [this](const std::string&) {
                return DevicePortResult{port, "/dev/ttyFAKE"};
            },
            [this](const std::string&) { return device.Borrow(); });
        session->Open("");
        return session;
    }
    std::unique_ptr<HttpPost> NewCloud() override {
        auto client = std::make_unique<FakeCloud>();
        client->through = &cloud;
        return client;
    }
    void RunBlocking(const std::function<void()>& call) override {
        ++blocking_calls;
        call();
    }

    // Number of cells in the site table.
    size_t Cells() const {
        size_t n = 0;
        const std::string& html = content.count("cell_tbody") ? content.at("cell_tbody") : std::string();
        for (size_t p = html.find("id=\"dive_site_cell\""); p != std::string::npos;
             p = html.find("id=\"dive_site_cell\"", p + 1))
            ++n;
        return n;
    }
    bool EditorDisabled() const {
        for (const char* id : {"dive_site_edit_name", "dive_site_edit_lat", "dive_site_edit_lng", "dive_site_set",
                               "dive_site_del", "dive_site_save"})
            if (!disabled.count(id) || !disabled.at(id)) return false;
        return true;
    }
    std::string Said() const {
        std::string s;
        for (const auto& x : said) s += (s.empty() ? "" : ", ") + x;
        return s;
    }
};

class DiveSitePage : public ::testing::Test {
protected:
    void SetUp() override { editor.SetUp(); }

    void Add(double lat, double lng) {
        editor.NewSite();
        editor.AddAtCenter(lat, lng);
    }
    std::vector<std::string> Names(int list) const {
        std::vector<std::string> out;
        for (const DiveSite& s : editor.lists().list(list)) out.push_back(s.Name());
        return out;
    }

    Surface page;
    browser_test::RecordingMapScript map;
    DiveSiteEditor editor{page, map};
};

using Calls = std::vector<MapScriptCall>;

std::string Cell(const std::string& name, const std::string& lat, const std::string& lng, int index) {
    return "<div class=\"site_row\"><div id=\"dive_site_cell\" class=\"btnctrl site_cell\" objid=\"" +
           std::to_string(index) + "\"><div id=\"dive_site_name\" class=\"site_name\">" + name +
           "</div><div class=\"site_pos\"><span id=\"dive_site_lat\">Lat:" + lat +
           "</span><span id=\"dive_site_lng\">Lng:" + lng + "</span></div></div></div>";
}

std::string Poi(const std::string& id, const std::string& name, double lat, double lng) {
    return "{\"poi_id\":\"" + id + "\",\"poi_name\":\"" + name +
           "\",\"poi_region\":\"R\",\"gps_location\":{\"latitude\":" + std::to_string(lat) +
           ",\"longitude\":" + std::to_string(lng) + "}}";
}

std::string Answer(const std::vector<std::string>& pois) {
    std::string list;
    for (const auto& p : pois) list += (list.empty() ? "" : ",") + p;
    return "{\"code\":\"0000000\",\"response\":{\"pois\":[" + list + "]}}";
}

}  // namespace

TEST_F(DiveSitePage, AddSelectDragSaveDelete) {
    EXPECT_TRUE(page.EditorDisabled());
    Add(-33.8688, 151.2093);
    Add(25.033964, 121.564468);
    EXPECT_EQ(map.calls.back(), vorta_browser::SetCMarker(25.033964, 121.564468));
    EXPECT_EQ(page.content["cell_tbody"],
              Cell("unnamed", "-33.868800", "151.209300", 0) + Cell("unnamed", "25.033964", "121.564468", 1));
    EXPECT_EQ(page.values["dive_site_edit_lat"], "25.033964");
    EXPECT_EQ(editor.lists().list(0)[0].lat_e6, -33868800);

    // A click on cell 0 (the page sends the cell's "objid").
    map.calls.clear();
    EXPECT_TRUE(editor.OnClick("dive_site_cell", {{"objid", "0"}, {"class", "btnctrl site_cell"}}));
    EXPECT_EQ(map.calls, (Calls{vorta_browser::SetCenter(-33.8688, 151.2093), vorta_browser::ClrMarker(),
                                vorta_browser::SetCMarker(-33.8688, 151.2093)}));
    EXPECT_EQ(page.values["dive_site_edit_name"], "unnamed");
    EXPECT_EQ(page.values["dive_site_edit_lng"], "151.209300");
    EXPECT_FALSE(page.EditorDisabled());

    // Dragging the marker fills only the position; the site changes on Save.
    page.values["dive_site_edit_name"] = "typed";
    editor.OnMarkerDragged(1.5, -2.25);
    EXPECT_EQ(page.values["dive_site_edit_name"], "typed");
    EXPECT_EQ(page.values["dive_site_edit_lat"], "1.500000");
    EXPECT_EQ(editor.lists().list(0)[0].lat_e6, -33868800);

    // Save: the name cut at a character boundary, positions truncated.
    page.values["dive_site_edit_name"] = std::string(52, 'n') + "\xe2\x82\xac";
    page.values["dive_site_edit_lat"] = "12.3456789";
    page.values["dive_site_edit_lng"] = "east";
    editor.OnClick("dive_site_save", {});
    const DiveSite& saved = editor.lists().list(0)[0];
    EXPECT_EQ(saved.Name(), std::string(52, 'n'));
    EXPECT_EQ(saved.lat_e6, 12345678);
    EXPECT_EQ(saved.lng_e6, 0);
    EXPECT_EQ(page.values["dive_site_type"], "1");
    EXPECT_EQ(page.content["cell_tbody"].find(Cell(std::string(52, 'n'), "12.345678", "0.000000", 0)), 0u);

    // Cells that name no site select nothing.
    for (const char* objid : {"2", "-1", "x", ""}) editor.Select(objid);
    EXPECT_EQ(editor.selected()->pos, 0u);

    // Delete asks; "no" keeps the site, "yes" removes it and keeps the order.
    page.yes = false;
    editor.OnClick("dive_site_del", {});
    EXPECT_EQ(editor.lists().list(0).size(), 2u);
    page.yes = true;
    map.calls.clear();
    editor.OnClick("dive_site_del", {});
    EXPECT_EQ(Names(0), std::vector<std::string>{"unnamed"});
    EXPECT_EQ(editor.lists().list(0)[0].lat_e6, 25033964);
    EXPECT_EQ(map.calls, Calls{vorta_browser::ClrMarker()});
    EXPECT_FALSE(editor.selected());
    EXPECT_TRUE(page.EditorDisabled());
    EXPECT_EQ(page.Cells(), 1u);
    EXPECT_EQ(page.Said(), "ask:TO_DEL_DIVE_SIZE, ask:TO_DEL_DIVE_SIZE");

    editor.OnMouseMove(-0.0000004, 179.9999996);
    EXPECT_EQ(page.values["mouse_move_lat"], "-0.000000");
    EXPECT_EQ(page.values["mouse_move_lng"], "180.000000");
    EXPECT_FALSE(editor.OnClick("some_other_button", {}));
}

TEST_F(DiveSitePage, AFullListRefusesThe65thSiteAndTheOthersStillTakeSites) {
    for (int i = 0; i < 64; ++i) Add(i, i);
    page.said.clear();
    Add(65, 65);
    EXPECT_EQ(page.Said(), "msg:DIVE_SITE_MAX|");
    EXPECT_EQ(editor.lists().list(0).size(), 64u);
    EXPECT_EQ(page.Cells(), 64u);

    editor.SwitchType("3");
    EXPECT_EQ(page.Cells(), 0u);
    Add(1, 2);
    ASSERT_EQ(editor.lists().list(2).size(), 1u);
    EXPECT_EQ(editor.lists().list(2)[0].type, kTypeGauge);
}

TEST_F(DiveSitePage, SaveAndDeleteWithNothingSelectedChangeNothing) {
    // A full list read from the device: nothing is selected. "New" enables
    // the editor, the full list refuses the site, and Save has nowhere to
    // store.
    page.memory.blocks[0x109000] = EncodeSiteBlock(std::vector<DiveSite>(64, MakeDiveSite(1, "dev", 0, 0)), 1);
    editor.ReadFromDevice();
    editor.NewSite();
    editor.AddAtCenter(1, 1);
    EXPECT_FALSE(page.EditorDisabled());
    page.values["dive_site_edit_name"] = "lost";
    editor.Save();
    editor.Delete();
    ASSERT_EQ(editor.lists().list(0).size(), 64u);
    for (const DiveSite& s : editor.lists().list(0)) ASSERT_EQ(s.Name(), "dev");
}

TEST_F(DiveSitePage, SavingASiteOfAnotherTypeShowsItsList) {
    Add(1, 1);  // scuba, selected
    editor.SwitchType("2");
    EXPECT_EQ(editor.list_index(), 1);
    page.values["dive_site_edit_name"] = "scuba site";
    editor.Save();
    EXPECT_EQ(Names(0), std::vector<std::string>{"scuba site"});
    EXPECT_EQ(editor.list_index(), 0);
    EXPECT_EQ(page.values["dive_site_type"], "1");
    EXPECT_EQ(page.Cells(), 1u);
}

TEST_F(DiveSitePage, TheCellTemplateIsReadOnce) {
    char dir[] = "/tmp/ds_editor_test_XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    page.template_dir = dir;
    const std::string path = std::string(dir) + "/dive_site_cell.htm";
    std::ofstream(path) << "<p id=\"dive_site_cell\" objid=\"\"><b id=\"dive_site_name\"></b></p>";
    Add(1, 2);
    Add(3, 4);
    std::ofstream(path) << "changed";
    editor.ShowList(0);
    EXPECT_EQ(page.content["cell_tbody"],
              "<p id=\"dive_site_cell\" objid=\"0\"><b id=\"dive_site_name\">unnamed</b></p>"
              "<p id=\"dive_site_cell\" objid=\"1\"><b id=\"dive_site_name\">unnamed</b></p>");
    std::system(("rm -rf " + std::string(dir)).c_str());
}

TEST_F(DiveSitePage, WriteToTheDevice) {
    struct Case {
        const char* what;
        bool scuba, gauge;
        bool yes;
        DevicePortStatus port;
        bool identify_fails;
        int fail_write_at;
        std::vector<std::string> trace;
        std::string said;
    } cases[] = {
        {"nothing to write",
         false,
         false,
         true,
         DevicePortStatus::kFound,
         false,
         -1,
         {},
         "msg:UNABLE_TO_WRITE|NO_DIVE_SITE"},
        {"the user says no", true, false, false, DevicePortStatus::kFound, false, -1, {}, "ask:SURE_SEND_DS"},
        {"no device",
         true,
         false,
         true,
         DevicePortStatus::kNotFound,
         false,
         -1,
         {},
         "ask:SURE_SEND_DS, msg:USB_NOT_CONN|"},
        {"no access",
         true,
         false,
         true,
         DevicePortStatus::kAccessDenied,
         false,
         -1,
         {},
         "ask:SURE_SEND_DS, msg:USB_NOT_CONN|USB_ACCESS_DENIED"},
        {"not a dive computer",
         true,
         false,
         true,
         DevicePortStatus::kFound,
         true,
         -1,
         {"IDENTIFY"},
         "ask:SURE_SEND_DS, msg:NOT_SUPPOR_DEVICE|"},
        {"scuba and gauge; the empty freedive list is skipped",
         true,
         true,
         true,
         DevicePortStatus::kFound,
         false,
         -1,
         {"IDENTIFY", "WRITE 1085440", "WRITE 1093632", "END"},
         "ask:SURE_SEND_DS, msg:DIVE_SITE_WRITED|"},
        {"the first block is refused",
         true,
         true,
         true,
         DevicePortStatus::kFound,
         false,
         0,
         {"IDENTIFY", "WRITE 1085440", "END"},
         "ask:SURE_SEND_DS, msg:USB_ERROR|"},
    };
    for (const auto& c : cases) {
        Surface page;
        browser_test::RecordingMapScript map;
        DiveSiteEditor editor(page, map);
        if (c.scuba) {
            editor.AddAtCenter(25.033964, 121.564468);
            editor.AddAtCenter(-1, -2);
            editor.AddAtCenter(3, 4);
        }
        if (c.gauge) {
            editor.SwitchType("3");
            editor.AddAtCenter(5, 6);
        }
        page.yes = c.yes;
        page.port = c.port;
        page.device.fail_info = c.identify_fails;
        if (c.identify_fails) page.device.through = nullptr;
        page.device.fail_write_at = c.fail_write_at;
        if (c.fail_write_at >= 0) page.device.through = nullptr;
        page.said.clear();
        editor.OnClick("dive_site_send", {});
        EXPECT_EQ(page.device.trace, c.trace) << c.what;
        EXPECT_EQ(page.Said(), c.said) << c.what;
        EXPECT_EQ(page.device.end_links, c.trace.empty() || c.trace.back() != "END" ? 0 : 1) << c.what;
        EXPECT_EQ(page.device.closes, c.trace.empty() ? 0 : 1) << c.what;
    }

    // The block written: three records with type 1, then 0xFF to the end.
    Surface page;
    browser_test::RecordingMapScript map;
    DiveSiteEditor editor(page, map);
    for (int i = 0; i < 3; ++i) editor.AddAtCenter(i, -i);
    editor.WriteToDevice();
    ASSERT_EQ(page.device.writes.size(), 1u);
    const std::string& block = page.device.writes[0].data;
    for (int i = 0; i < 3; ++i) {
        auto record = EncodeDiveSite(MakeDiveSite(1, "unnamed", i, -i));
        EXPECT_EQ(block.substr(static_cast<size_t>(i) * 64, 64), std::string(record.begin(), record.end())) << i;
    }
    EXPECT_EQ(block.substr(192), std::string(4096 - 192, '\xff'));
    EXPECT_EQ(page.blocking_calls, 1);
}

TEST_F(DiveSitePage, ReadFromTheDevice) {
    // Freedive block: slots 0 and 2 used, slot 1 empty, slot 2 of type 7.
    std::vector<uint8_t> freedive(kBlockSize, 0xFF);
    auto put = [&](size_t slot, const DiveSite& s) {
        auto bytes = EncodeDiveSite(s);
        std::copy(bytes.begin(), bytes.end(), freedive.begin() + static_cast<std::ptrdiff_t>(slot * 64));
    };
    put(0, MakeDiveSite(2, "first", 1, 2));
    put(2, MakeDiveSite(7, "odd type", 3, 4));
    page.memory.blocks[0x10A000] = freedive;

    Add(9, 9);  // the scuba list before: replaced by the (empty) scuba block
    editor.SwitchType("2");
    map.calls.clear();
    page.said.clear();
    editor.OnClick("dive_site_read", {});
    EXPECT_EQ(page.device.trace, (std::vector<std::string>{"IDENTIFY", "READ 1085440 4096", "READ 1089536 4096",
                                                           "READ 1093632 4096", "END"}));
    EXPECT_EQ(page.Said(), "ask:SURE_READ_DS, msg:DIVE_SITE_READED|");
    EXPECT_TRUE(Names(0).empty());
    EXPECT_EQ(Names(1), (std::vector<std::string>{"first", "odd type"}));
    EXPECT_EQ(editor.lists().list(1)[1].type, kTypeFreedive);
    // The scuba list is shown whatever was shown before; nothing is selected.
    EXPECT_EQ(editor.list_index(), 0);
    EXPECT_EQ(page.values["dive_site_type"], "1");
    EXPECT_FALSE(editor.selected());
    EXPECT_TRUE(page.EditorDisabled());
    EXPECT_EQ(map.calls, Calls{vorta_browser::ClrMarker()});

    // A failed read leaves the lists as they were.
    page.device.through = nullptr;
    page.device.fail_read_at = static_cast<int>(page.device.reads.size()) + 1;  // the second read
    page.device.trace.clear();
    page.device.end_links = 0;  // a new connection
    page.said.clear();
    editor.ReadFromDevice();
    EXPECT_EQ(page.device.trace,
              (std::vector<std::string>{"IDENTIFY", "READ 1085440 4096", "READ 1089536 4096", "END"}));
    EXPECT_EQ(page.Said(), "ask:SURE_READ_DS, msg:USB_ERROR|");
    EXPECT_EQ(Names(1), (std::vector<std::string>{"first", "odd type"}));
}

TEST_F(DiveSitePage, WritingThenReadingKeepsAnUntouchedBlock) {
    page.memory.blocks[0x10A000] = EncodeSiteBlock({MakeDiveSite(2, "on the device", 1, 1)}, 2);
    Add(1, 2);
    editor.WriteToDevice();
    page.device.end_links = 0;  // a new connection
    editor.ReadFromDevice();
    EXPECT_EQ(Names(0), std::vector<std::string>{"unnamed"});
    EXPECT_EQ(Names(1), std::vector<std::string>{"on the device"});
}

TEST_F(DiveSitePage, ImportAndExport) {
    char dir[] = "/tmp/ds_editor_test_XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string bad = std::string(dir) + "/bad.ds", good = std::string(dir) + "/good.ds";
    std::ofstream(bad) << "<vorta_dive_site><scuba><waypoint name=\"cut";
    std::ofstream(good) << "<other><gauge><waypoint name=\"g\" lat=\"1\" lng=\"2\"/></gauge></other>";
    Add(1, 2);
    editor.SwitchType("2");

    page.chosen_file = "";  // cancelled
    editor.OnClick("dive_site_import", {});
    page.chosen_file = bad;  // the user's unsaved site is kept
    editor.OnClick("dive_site_import", {});
    page.chosen_file = std::string(dir) + "/none.ds";
    editor.OnClick("dive_site_import", {});
    EXPECT_EQ(page.Said(),
              "file:open, file:open, msg:DIVE_SITE_FILE_UNREADABLE|, file:open, msg:DIVE_SITE_FILE_UNREADABLE|");
    EXPECT_EQ(Names(0), std::vector<std::string>{"unnamed"});
    EXPECT_TRUE(editor.selected());

    page.said.clear();
    page.chosen_file = good;
    editor.OnClick("dive_site_import", {});
    EXPECT_EQ(page.Said(), "file:open");
    EXPECT_TRUE(Names(0).empty());
    EXPECT_EQ(Names(2), std::vector<std::string>{"g"});
    EXPECT_EQ(editor.list_index(), 0);
    EXPECT_EQ(page.values["dive_site_type"], "1");
    EXPECT_FALSE(editor.selected());

    page.said.clear();
    page.chosen_file = std::string(dir) + "/out.ds";
    editor.OnClick("dive_site_export", {});
    page.chosen_file = std::string(dir) + "/missing/out.ds";
    editor.OnClick("dive_site_export", {});
    EXPECT_EQ(page.Said(), "file:save, file:save, msg:DIVE_SITE_FILE_NOT_SAVED|");
    DiveSiteLists back;
    ASSERT_TRUE(ImportSiteFile(std::string(dir) + "/out.ds", back));
    EXPECT_EQ(back.list(2), editor.lists().list(2));
    std::system(("rm -rf " + std::string(dir)).c_str());
}

TEST_F(DiveSitePage, SearchSendsTheTextEncodedAndShowsWhatCameBack) {
    struct Case {
        const char* what;
        std::string text;
        std::string answer;
        std::string body;  // "" when nothing is sent
        std::string said;
        size_t rows;
    } cases[] = {
        {"one letter", "a", "", "", "", 0},
        {"one non-ASCII letter", "\xc3\xa9", "", "", "", 0},
        {"two letters", "ab", Answer({}), "query=ab&limit=20", "", 0},
        {"a text that looks like form fields", "fish&limit=1+x%", Answer({}), "query=fish%26limit%3D1%2Bx%25&limit=20",
         "", 0},
        {"results off the globe are left out", "ab",
         Answer({Poi("1", "North", 91, 0), Poi("2", "Reef", 1.5, -2.5), Poi("3", "West", 0, -180.5)}),
         "query=ab&limit=20", "", 1},
        {"one result fills the editor", "reef", Answer({Poi("7", "Reef", 1.5, -2.5)}), "query=reef&limit=20", "", 1},
        {"several results open the pop-up", "blue",
         Answer({Poi("1", "Blue Hole", 1, 2), Poi("2", "Blue Corner", 3, 4), Poi("3", "Blue <b>", 5, 6)}),
         "query=blue&limit=20", "popup:show pop_table@right_wnd", 3},
        {"not JSON", "xy", "<html>", "query=xy&limit=20", "line:HOST_NOT_CONN", 3},
        {"no code", "xy", "{}", "query=xy&limit=20", "line:HOST_ERROR", 3},
        {"a failure code", "xy", "{\"code\":\"0000001\"}", "query=xy&limit=20", "line:DATA_ERROR", 3},
        {"no pois", "xy", "{\"code\":\"0000000\",\"response\":{\"pois\":7}}", "query=xy&limit=20", "", 0},
    };
    for (const auto& c : cases) {
        page.cloud.requests.clear();
        page.cloud.answers = {c.answer};
        page.said.clear();
        map.calls.clear();
        page.values["dive_site_find_name"] = c.text;
        editor.OnClick("dive_site_find", {});
        if (c.body.empty()) {
            EXPECT_TRUE(page.cloud.requests.empty()) << c.what;
        } else {
            ASSERT_EQ(page.cloud.requests.size(), 1u) << c.what;
            EXPECT_EQ(page.cloud.requests[0].body, c.body) << c.what;
            EXPECT_EQ(page.cloud.requests[0].path, "api/v1/searches/divesites") << c.what;
            EXPECT_EQ(page.cloud.requests[0].verb, "POST") << c.what;
            EXPECT_EQ(page.cloud.requests[0].is_json, 0) << c.what;
        }
        EXPECT_EQ(page.Said(), c.said) << c.what;
        EXPECT_EQ(editor.search_results().size(), c.rows) << c.what;
        if (c.rows == 1) {
            EXPECT_EQ(page.values["dive_site_edit_name"], "Reef");
            EXPECT_EQ(page.values["dive_site_edit_lat"], "1.500000");
            EXPECT_EQ(map.calls, Calls{vorta_browser::SetCenterWithZoom(1.5, -2.5)});
        }
    }
    // The failures kept the three rows of the last good search.
    page.values["dive_site_find_name"] = "blue";
    page.cloud.answers = {Answer({Poi("1", "Blue Hole", 1, 2), Poi("2", "Blue Corner", 3, 4), Poi("2", "Twin", 7, 8)})};
    page.cloud.requests.clear();
    editor.Search();
    const std::string& rows = page.content["poi_cell_tbody"];
    EXPECT_NE(rows.find("poi_id=\"2\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("<div id=\"poi_name\" class=\"poi_name\">Blue Corner</div>"), std::string::npos) << rows;

    // Taking a result: the last match wins; an unknown id only closes the pop-up.
    map.calls.clear();
    page.said.clear();
    editor.OnClick("dive_site_poi", {{"poi_id", "2"}});
    EXPECT_EQ(page.values["dive_site_edit_name"], "Twin");
    EXPECT_EQ(page.values["dive_site_edit_lng"], "8.000000");
    editor.OnClick("dive_site_poi", {{"poi_id", "99"}});
    EXPECT_EQ(page.values["dive_site_edit_name"], "Twin");
    EXPECT_EQ(map.calls, Calls{vorta_browser::SetCenterWithZoom(7, 8)});
    EXPECT_EQ(page.Said(), "popup:hide pop_table, popup:hide pop_table");
    EXPECT_TRUE(editor.lists().AllEmpty()) << "a search stores no site";

    // No cloud at all.
    page.cloud.connect_result = false;
    page.said.clear();
    editor.Search();
    EXPECT_EQ(page.Said(), "msg:HOST_NOT_CONN|");
    EXPECT_EQ(editor.search_results().size(), 3u);
}

TEST_F(DiveSitePage, TypedPositionsOffTheGlobeAreRefusedAndTheUserIsTold) {
    Add(1, 2);
    struct Case {
        const char* lat;
        const char* lng;
        bool taken;
        int32_t lat_e6, lng_e6;  // the stored site afterwards
    } cases[] = {
        {"90", "-180", true, 90000000, -180000000},       {"-90.000000", "180", true, -90000000, 180000000},
        {"90.000001", "0", false, -90000000, 180000000},  {"0", "-180.5", false, -90000000, 180000000},
        {"1e308", "-1e308", false, -90000000, 180000000}, {"12.5", "33.25", true, 12500000, 33250000},
    };
    for (const auto& c : cases) {
        page.said.clear();
        map.calls.clear();
        page.values["dive_site_edit_name"] = "Reef";
        page.values["dive_site_edit_lat"] = c.lat;
        page.values["dive_site_edit_lng"] = c.lng;
        editor.Set();
        editor.Save();
        const std::string told = c.taken ? "" : "msg:DIVE_SITE_BAD_POSITION|, msg:DIVE_SITE_BAD_POSITION|";
        EXPECT_EQ(page.Said(), told) << c.lat << "," << c.lng;
        EXPECT_EQ(map.calls.empty(), !c.taken) << c.lat << "," << c.lng;
        const DiveSite& site = editor.lists().list(0).at(0);
        EXPECT_EQ(site.lat_e6, c.lat_e6) << c.lat;
        EXPECT_EQ(site.lng_e6, c.lng_e6) << c.lng;
        EXPECT_EQ(page.values["dive_site_edit_lat"], c.lat) << "the texts stay for the user to correct";
    }
}

TEST_F(DiveSitePage, NewWaitsForTheMapPageToBeReady) {
    editor.SetMapReady(false);
    editor.NewSite();
    editor.NewSite();
    EXPECT_TRUE(map.calls.empty());
    EXPECT_TRUE(page.EditorDisabled());
    editor.SetMapReady(true);
    EXPECT_EQ(map.calls, Calls{vorta_browser::GetCenter()});
    EXPECT_FALSE(page.EditorDisabled());
    // Asked once: a page loaded again later asks nothing more.
    editor.SetMapReady(false);
    editor.SetMapReady(true);
    EXPECT_EQ(map.calls.size(), 1u);
    editor.AddAtCenter(10, 20);
    EXPECT_EQ(Names(0), std::vector<std::string>{"unnamed"});
}

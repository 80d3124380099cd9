// The dive-site page of the real program: sites added on the map, written to
// the simulated dive computer and read back, ".ds" files through the
// desktop's file dialog, the cloud emulator's directory search, and the
// 64-site limit.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using vorta_test::CloudEmuProcess;

namespace {

constexpr uint16_t kIdentify = 0x0030, kReadBlock = 0x0001, kWriteCommit = 0x0003, kData = 0x0005, kEndLink = 0x9997;
constexpr uint32_t kScubaBlock = 0x109000;

uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The simulator's trace as "IDENTIFY", "READ addr", "WRITE addr", "END"
// (the data packets of a write left out).
std::vector<std::string> Commands(const DevSimProcess& sim, size_t from) {
    std::vector<std::string> out;
    const auto trace = sim.Trace();
    for (size_t i = from; i < trace.size(); ++i) {
        const auto& p = trace[i];
        const uint16_t code = static_cast<uint16_t>(p[2] | (p[3] << 8));
        if (code == kIdentify) out.push_back("IDENTIFY");
        else if (code == kReadBlock) out.push_back("READ " + std::to_string(U32(&p[8])));
        else if (code == kWriteCommit) out.push_back("WRITE " + std::to_string(U32(&p[8])));
        else if (code == kEndLink) out.push_back("END");
        else if (code != kData) out.push_back("OTHER " + std::to_string(code));
    }
    return out;
}

// The commands once the link has ended: EndLink has no answer, so the
// simulator may record it just after the program has shown its message.
std::vector<std::string> SettledCommands(const DevSimProcess& sim, size_t from) {
    std::vector<std::string> out;
    E2eApp::WaitFor(
        [&] {
            out = Commands(sim, from);
            return !out.empty() && out.back() == "END";
        },
        5000);
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int32_t I32(const std::string& s, size_t at) {
    return static_cast<int32_t>(U32(reinterpret_cast<const uint8_t*>(&s[at])));
}

class DiveSiteE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(emu.Start());
        ASSERT_TRUE(sim.Start({"--dives", "2"})) << sim.error();
        app.UseTestbed(emu, sim.pty_path());
        app.env["GSETTINGS_BACKEND"] = "memory";  // the file dialog keeps its settings in memory
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.SignInDemo());
        ASSERT_TRUE(app.ClickOn("main.htm", "page2"));
        app.ui().SetTargetPage("main.htm");
        emu.Reset();
    }

    AutomationClient& ui() { return app.ui(); }
    bool Click(const std::string& id) { return ui().Click(id, kFrame); }
    std::string Value(const std::string& id) { return ui().GetValue(id, kFrame).value_or("?"); }
    std::string Text(const std::string& id) { return ui().GetText(id, kFrame).value_or("?"); }
    std::string Attr(const std::string& id, const std::string& name) {
        return ui().GetAttr(id, name, kFrame).value_or("?");
    }
    // Cells in the site table.
    size_t Cells() {
        const std::string text = Text("cell_tbody");
        size_t n = 0;
        for (size_t p = text.find("Lat:"); p != std::string::npos; p = text.find("Lat:", p + 1)) ++n;
        return n;
    }
    bool PopupShown() { return Attr("pop_table", "style").find("display: block") != std::string::npos; }

    // Answers the yes/no question and returns its text.
    std::string Answer(bool yes) {
        if (!ui().WaitWindow("yes_no.htm", 10000)) return "";
        std::string text = app.Text("yes_no.htm", "MsgText");
        app.ClickOn("yes_no.htm", yes ? "ok" : "cancel");
        E2eApp::WaitFor([this] { return !app.Visible("yes_no.htm"); }, 5000);
        return text;
    }

    // How often the dive-site map page has been asked for its centre.
    int CentreRequests() {
        Json::Value r;
        r["cmd"] = "get_received";
        r["page"] = "main.htm";
        r["frame"] = kFrame;
        r["element"] = "ie_page";
        const Json::Value calls = ui().Request(r)["value"];
        if (!calls.isArray()) return 0;
        int n = 0;
        for (const Json::Value& call : calls) n += call.isObject() && call["f"] == "getCenter";
        return n;
    }

    // "New" on the page; the map page answers with its centre. A map page
    // that was not loaded yet never got the question (the program drops
    // calls to a page that is not ready): the test then raises the answer
    // itself, at (lat, lng). One that got it answers, however late.
    void NewAt(const std::string& lat, const std::string& lng) {
        const size_t before = Cells();
        const int asked = CentreRequests();
        ASSERT_TRUE(Click("dive_site_new"));
        auto answered = [&] { return Cells() != before || app.Visible("msg.htm"); };
        if (E2eApp::WaitFor([&] { return answered() || CentreRequests() > asked; }, 3000)) {
            if (CentreRequests() > asked) {
                ASSERT_TRUE(E2eApp::WaitFor(answered, 10000)) << "the map did not answer";
            }
            return;
        }
        ASSERT_TRUE(ui().MapEvent("on_get_map_center", {lat, lng})) << ui().last_error();
    }

    // A new site, dragged to (lat, lng), named and saved.
    void AddSite(const std::string& name, const std::string& lat, const std::string& lng) {
        const size_t before = Cells();
        NewAt(lat, lng);
        ASSERT_TRUE(E2eApp::WaitFor([&] { return Cells() == before + 1; }, 5000)) << "no new cell";
        ASSERT_TRUE(ui().MapEvent("on_poi_move_event", {lat, lng}));
        ASSERT_TRUE(E2eApp::WaitFor([&] { return Value("dive_site_edit_lng") == lng; }, 5000))
            << Value("dive_site_edit_lng");
        ASSERT_TRUE(ui().SetValue("dive_site_edit_name", name, kFrame));
        ASSERT_TRUE(Click("dive_site_save"));
        ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("cell_tbody").find(name) != std::string::npos; }, 5000));
    }

    std::string TempDir() {
        std::string dir = app.home() + "/sites";
        mkdir(dir.c_str(), 0700);
        return dir;
    }

    static constexpr const char* kFrame = "framepage2";
    CloudEmuProcess emu;
    DevSimProcess sim;
    E2eApp app;
};

}  // namespace

TEST_F(DiveSiteE2e, SitesAddedOnTheMapGoToTheDiveComputerAndComeBack) {
    AddSite("Green Island 綠島", "22.676100", "121.490300");
    AddSite("Reef", "-33.868800", "151.209300");
    AddSite("Wall", "12.345678", "-0.500000");
    EXPECT_EQ(Cells(), 3u);

    const size_t before = sim.Trace().size();
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_send"));
    EXPECT_EQ(Answer(true), E2eApp::Lang("SURE_SEND_DS"));
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("DIVE_SITE_WRITED"));
    // Only the scuba list holds sites: one block, then the link ends.
    EXPECT_EQ(SettledCommands(sim, before),
              (std::vector<std::string>{"IDENTIFY", "WRITE " + std::to_string(kScubaBlock), "END"}));
    const std::string image = ReadFile(sim.image_path());
    ASSERT_GE(image.size(), kScubaBlock + 4096u);
    const std::string block = image.substr(kScubaBlock, 4096);
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block.substr(1, 20), std::string("Green Island 綠島") + std::string(1, '\0'));
    EXPECT_EQ(I32(block, 64 + 56), -33868800);
    EXPECT_EQ(I32(block, 128 + 56), 12345678);
    EXPECT_EQ(I32(block, 128 + 60), -500000);
    EXPECT_EQ(block.substr(192), std::string(4096 - 192, '\xff'));

    // Delete one here, then read the device's three back.
    ASSERT_TRUE(Click("dive_site_cell"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Value("dive_site_edit_name") == "Green Island 綠島"; }, 5000));
    ASSERT_TRUE(Click("dive_site_del"));
    EXPECT_EQ(Answer(true), E2eApp::Lang("TO_DEL_DIVE_SIZE"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Cells() == 2; }, 5000));

    const size_t before_read = sim.Trace().size();
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_read"));
    EXPECT_EQ(Answer(true), E2eApp::Lang("SURE_READ_DS"));
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("DIVE_SITE_READED"));
    EXPECT_EQ(SettledCommands(sim, before_read),
              (std::vector<std::string>{"IDENTIFY", "READ 1085440", "READ 1089536", "READ 1093632", "END"}));
    EXPECT_EQ(Cells(), 3u);
    const std::string table = Text("cell_tbody");
    EXPECT_LT(table.find("Green Island 綠島"), table.find("Reef"));
    EXPECT_NE(table.find("Lat:12.345678Lng:-0.500000"), std::string::npos) << table;
    EXPECT_EQ(Value("dive_site_type"), "1");
}

TEST_F(DiveSiteE2e, FilesGoThroughTheFileDialogAndAFullListRefusesASite) {
    AddSite("Reef & <Wall>", "25.033964", "121.564468");
    const std::string dir = TempDir();

    // Export: a name without extension becomes ".ds".
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_export"));
    Json::Value dialog;
    ASSERT_TRUE(ui().AnswerFileDialog(dir + "/mine", &dialog)) << ui().last_error();
    EXPECT_TRUE(dialog["save"].asBool());
    EXPECT_EQ(dialog["filters"][0].asString(), "Dive Site Files (*.ds)");
    EXPECT_EQ(dialog["filters"][1].asString(), "All Files (*.*)");
    EXPECT_EQ(dialog["filter"].asString(), "Dive Site Files (*.ds)");
    EXPECT_EQ(dialog["extension"].asString(), "ds");
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<vorta_dive_site>\n    <scuba>\n"
        "        <waypoint name=\"Reef &amp; &lt;Wall&gt;\" lat=\"25.033964\" lng=\"121.564468\" />\n"
        "    </scuba>\n    <freedive />\n    <gauge />\n</vorta_dive_site>\n";
    ASSERT_TRUE(E2eApp::WaitFor([&] { return ReadFile(dir + "/mine.ds") == expected; }, 5000))
        << ReadFile(dir + "/mine.ds");

    // Exporting onto it again asks first; "no" keeps the dialog, which is
    // then cancelled: the file stays.
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_export"));
    ASSERT_TRUE(ui().AnswerFileDialog(dir + "/mine")) << ui().last_error();
    ASSERT_TRUE(ui().AnswerReplaceQuestion(false)) << ui().last_error();
    ASSERT_TRUE(ui().CancelFileDialog());
    EXPECT_EQ(ReadFile(dir + "/mine.ds"), expected);

    // A file that is no dive-site file: the sites stay, the user is told.
    std::ofstream(dir + "/broken.ds") << "<vorta_dive_site><scuba><waypoint name=\"x\"";
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_import"));
    ASSERT_TRUE(ui().AnswerFileDialog(dir + "/broken.ds", &dialog));
    EXPECT_FALSE(dialog["save"].asBool());
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("DIVE_SITE_FILE_UNREADABLE"));
    EXPECT_EQ(Cells(), 1u);

    // Another program's file: other root, 64 scuba sites and a gauge site.
    std::string other =
        "<?xml version=\"1.0\"?>\n<sites><gauge><waypoint name=\"g\" lat=\"1\" lng=\"2\"/></gauge><scuba>";
    for (int i = 0; i < 64; ++i)
        other += "<waypoint name=\"s" + std::to_string(i) + "\" lat=\"" + std::to_string(i) + "\" lng=\"0\"/>";
    other += "</scuba></sites>";
    std::ofstream(dir + "/other.ds") << other;
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_import"));
    ASSERT_TRUE(ui().AnswerFileDialog(dir + "/other.ds"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Cells() == 64; }, 5000)) << Cells();
    EXPECT_EQ(Value("dive_site_type"), "1");

    // The 65th scuba site is refused.
    NewAt("1.000000", "2.000000");
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("DIVE_SITE_MAX"));
    EXPECT_EQ(Cells(), 64u);

    // Cancelling the open dialog changes nothing.
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_import"));
    ASSERT_TRUE(ui().CancelFileDialog());
    EXPECT_EQ(Cells(), 64u);
}

TEST_F(DiveSiteE2e, SearchTheCloudsDirectory) {
    auto search = [&](const std::string& text) {
        EXPECT_TRUE(ui().SetValue("dive_site_find_name", text, kFrame));
        EXPECT_TRUE(Click("dive_site_find"));
    };
    auto bodies = [&] {
        std::vector<std::string> out;
        for (const auto& r : emu.Log())
            if (r.path == "/api/v1/searches/divesites") out.push_back(r.body);
        return out;
    };

    // Several results: the pop-up with one row each.
    search("blue hole");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return PopupShown(); }, 10000));
    EXPECT_NE(Text("poi_cell_tbody").find("Great Blue Hole"), std::string::npos);
    EXPECT_EQ(Attr("dive_site_poi", "poi_id"), "P0010");
    ASSERT_TRUE(Click("dive_site_poi"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !PopupShown(); }, 5000));
    EXPECT_EQ(Value("dive_site_edit_name"), "Blue Hole");
    EXPECT_EQ(Value("dive_site_edit_lat"), "28.572200");

    // One result fills the editor without the pop-up.
    search("thistlegorm");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Value("dive_site_edit_name") == "SS Thistlegorm"; }, 10000));
    EXPECT_EQ(Value("dive_site_edit_lng"), "33.920600");
    EXPECT_FALSE(PopupShown());

    // Text that looks like form fields is searched as it is: nothing found,
    // the rows are cleared.
    search("blue&limit=1");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return bodies().size() == 3; }, 10000));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("poi_cell_tbody").empty(); }, 5000)) << Text("poi_cell_tbody");
    EXPECT_EQ(bodies(), (std::vector<std::string>{"query=blue%20hole&limit=20", "query=thistlegorm&limit=20",
                                                  "query=blue%26limit%3D1&limit=20"}));

    // A cloud failure goes to the main page's message line.
    vorta_test::CloudFault fault;
    fault.kind = "code";
    fault.path = "/api/v1/searches/divesites";
    ASSERT_TRUE(emu.SetFault(fault));
    search("palau");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return app.Text("main.htm", "message") == E2eApp::Lang("DATA_ERROR"); }, 10000))
        << app.Text("main.htm", "message");
}

// A mouse move over the dive-site map goes through the map page's own handler
// and window.external to the page as message 2025: the position shows below
// the map, further east when the pointer is further right.
TEST_F(DiveSiteE2e, AMouseMoveOverTheMapShowsItsPosition) {
    auto move = [&](double x, double y) {
        Json::Value r;
        r["cmd"] = "mouse_move";
        r["page"] = "main.htm";
        r["frames"].append(kFrame);
        r["frames"].append("ie_page");
        r["element"] = "map";
        r["x"] = x;
        r["y"] = y;
        return ui().Request(r)["ok"].asBool();
    };
    auto num = [&](const char* id) {
        const std::string v = Value(id);
        char* end = nullptr;
        const double d = std::strtod(v.c_str(), &end);
        return !v.empty() && *end == '\0' ? d : std::nan("");
    };
    // The map page loads after the tab is shown (moves before it is there
    // find no map) and may still move its view while it settles: a round
    // left, right, left again counts only when both visits to the left point
    // gave the same position, so the view stood still during the round.
    auto at = [&](double x) {
        if (!move(x, 150)) return std::make_pair(std::nan(""), std::nan(""));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the page reports once a frame
        return std::make_pair(num("mouse_move_lat"), num("mouse_move_lng"));
    };
    std::pair<double, double> left, right;
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] {
            left = at(200);
            right = at(300);
            const auto again = at(200);
            return !std::isnan(left.first) && left == again && right.second != left.second;
        },
        20000))
        << ui().last_error() << " " << left.first << "," << left.second;
    EXPECT_TRUE(left.first >= -90 && left.first <= 90 && left.second >= -180 && left.second <= 180)
        << left.first << "," << left.second;
    EXPECT_GT(right.second, left.second);
    EXPECT_DOUBLE_EQ(right.first, left.first);
}

// Files made to cost the parser time or memory are refused as unreadable,
// the sites kept; a flat file of thousands of sites is read, its first 64 of
// each type kept.
TEST_F(DiveSiteE2e, LargeAndCraftedFilesAreBoundedAndAFlatFileIsRead) {
    AddSite("Mine", "1.000000", "2.000000");
    const std::string dir = TempDir();
    std::string attributes = "<x><scuba><waypoint";
    for (int i = 0; i < 50000; ++i) attributes += " a" + std::to_string(i) + "=\"\"";
    attributes += "/></scuba></x>";
    std::string comments = "<x>";
    while (comments.size() < (3u << 20)) comments += "<!x><?x?><!---->";
    comments += "</x>";
    for (const auto& [name, text] : {std::make_pair("attributes.ds", attributes), {"comments.ds", comments}}) {
        std::ofstream(dir + "/" + name) << text;
        ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_import"));
        ASSERT_TRUE(ui().AnswerFileDialog(dir + "/" + name));
        EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("DIVE_SITE_FILE_UNREADABLE")) << name;
        EXPECT_NE(Text("cell_tbody").find("Mine"), std::string::npos) << name;
    }

    std::string flat = "<sites><scuba>";
    for (int i = 0; i < 6000; ++i)
        flat += "<waypoint name=\"s" + std::to_string(i) + "\" lat=\"1.5\" lng=\"" + std::to_string(i % 180) + "\"/>";
    flat += "</scuba><freedive>";
    for (int i = 0; i < 6000; ++i) flat += "<waypoint name=\"f" + std::to_string(i) + "\" lat=\"-1\" lng=\"-2\"/>";
    flat += "</freedive></sites>";
    std::ofstream(dir + "/flat.ds") << flat;
    ASSERT_TRUE(app.ClickOn("main.htm", "dive_site_import"));
    ASSERT_TRUE(ui().AnswerFileDialog(dir + "/flat.ds"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Cells() == 64; }, 10000)) << Cells();
    const std::string table = Text("cell_tbody");
    EXPECT_NE(table.find("s63"), std::string::npos);
    EXPECT_EQ(table.find("s64"), std::string::npos);
    EXPECT_EQ(table.find("Mine"), std::string::npos);
}

// Positions off the globe from the map page and from the editor are refused
// where they enter; the user is told about a typed one.
TEST_F(DiveSiteE2e, PositionsOffTheGlobeAreRefused) {
    ASSERT_TRUE(ui().MapEvent("on_get_map_center", {"1e308", "-1e308"})) << ui().last_error();
    ASSERT_TRUE(ui().MapEvent("on_mus_move_event", {"95", "10"}));
    ASSERT_TRUE(ui().MapEvent("on_get_map_center", {"-90", "180"}));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Cells() >= 1; }, 5000));
    EXPECT_EQ(Cells(), 1u);
    EXPECT_NE(Text("cell_tbody").find("Lat:-90.000000Lng:180.000000"), std::string::npos) << Text("cell_tbody");
    EXPECT_NE(Value("mouse_move_lat"), "95.000000");

    ASSERT_TRUE(Click("dive_site_cell"));  // selected: the editor is enabled
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Value("dive_site_edit_name") == "unnamed"; }, 5000));
    ASSERT_TRUE(ui().SetValue("dive_site_edit_lat", "91", kFrame));
    ASSERT_TRUE(Click("dive_site_save"));
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("DIVE_SITE_BAD_POSITION"));
    EXPECT_NE(Text("cell_tbody").find("Lat:-90.000000Lng:180.000000"), std::string::npos) << Text("cell_tbody");
}

// "New" pressed as soon as the tab shows, before its map page has loaded, is
// asked of the map once it is ready, and the site is added at its centre.
TEST_F(DiveSiteE2e, NewBeforeTheMapIsReadyStillAddsASite) {
    ASSERT_TRUE(Click("dive_site_new"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return CentreRequests() == 1; }, 20000));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Cells() == 1; }, 10000));
    EXPECT_EQ(Value("dive_site_edit_name"), "unnamed");
}

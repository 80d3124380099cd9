// The generated page folders and "string.json" as the program loads them
// from its run-time folder, and the program's use of them.
#include "app/html_dlg.h"
#include "app/login_dlg.h"
#include "app/progress_dlg.h"
#include "app/setting_dlg.h"
#include "base/dpi.h"
#include "base/json_safe.h"
#include "base/paths.h"
#include "pages/page_manifest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kBin = VORTA_BIN_DIR;
const char* const kLanguages[] = {"ENG", "CHT"};

// Every key the program looks up.
const char* const kKeys[] = {
    "SCUBA",
    "GAUGE",
    "FREEDIVE",
    "SUNNY",
    "CLOUDY",
    "RAIN",
    "SNOW",
    "OVERCAST",
    "WAVE_NO",
    "WAVE_SMALL",
    "WAVE_MEDIUM",
    "WAVE_HIGH",
    "CURRENT_NO",
    "CURRENT_SMALL",
    "CURRENT_MEDIUM",
    "CURRENT_STRONG",
    "VISIBILITY_CLEAR",
    "VISIBILITY_SOSO",
    "VISIBILITY_BAD",
    "HOST_NOT_CONN",
    "HOST_ERROR",
    "DATA_ERROR",
    "NO_INTERNET",
    "ENTER_EMAIL",
    "ENTER_PASSWORD",
    "EMAIL_PWD_ERROR",
    "USB_NOT_CONN",
    "USB_ERROR",
    "NOT_SUPPOR_DEVICE",
    "TO_DEL_DIVE_SIZE",
    "NO_DIVE_SITE",
    "UNABLE_TO_WRITE",
    "SURE_SEND_DS",
    "SURE_READ_DS",
    "DIVE_SITE_WRITED",
    "DIVE_SITE_READED",
    "DIVE_SITE_MAX",
    "GET_UPDATE_FILE",
    "NO_UPDATE_INFO",
    "SURE_UPDATE_DS",
    "FILE_ERROR",
    "UPDATING",
    "UNABLE_GET_FILE",
    "UPDATE_COMPLETE",
    "FIRMWARE_INFO",
    "PREPARING_UPLOAD",
    "ANALYZING_UPLOAD",
    "READ_UPLOAD",
    "COMPLETE_UPLOAD",
    "UPLOAING_LOG",
    "READING_LOG",
    "USB_ACCESS_DENIED",
    "FB_NOT_CONFIGURED",
    "DIVE_SITE_FILE_UNREADABLE",
    "DIVE_SITE_FILE_NOT_SAVED",
    "DIVE_SITE_BAD_POSITION",
    "DIVE_SITE_IMPORT_TITLE",
    "DIVE_SITE_EXPORT_TITLE",
    "LOG_EDIT_NOT_SAVED",
    // CSV export headers
    "CSV_DATE",
    "CSV_TYPE",
    "CSV_MAX_DEPTH",
    "CSV_AVG_DEPTH",
    "CSV_DURATION",
    "CSV_START_PRESSURE",
    "CSV_END_PRESSURE",
    "CSV_VOLUME",
    "CSV_SAC",
    "CSV_WATER_TEMP",
    "CSV_AIR_TEMP",
    "CSV_WEATHER",
    "CSV_WAVES",
    "CSV_CURRENT",
    "CSV_VISIBILITY",
    "CSV_SUIT",
    "CSV_WEIGHT",
    "CSV_SITE",
    "CSV_ENTRY_LAT",
    "CSV_ENTRY_LNG",
    "CSV_EXIT_LAT",
    "CSV_EXIT_LNG",
    "EXPORT_TITLE",
    "EXPORT_NO_DIVE",
    "EXPORT_NOT_SAVED",
    "PRINT_FAILED",
    "LOGBOOK_OFFLINE",
    "LOGBOOK_SET_ASIDE",
    "NEEDS_CONNECTION",
    "OFFLINE_SAVE_MONTHS",
    "OFFLINE_SAVE_DIVES",
    "OFFLINE_SAVE_DONE",
    "EXPORT_MONTHS",
    "EXPORT_DIVES",
    "EXPORT_WRITING",
    "EXPORT_DONE",
    "EXPORT_NO_DIVES",
    "EXPORT_BAD_RANGE",
};

bool HasNonAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

// The "%" conversions of a text, in order ("%%" excluded).
std::vector<std::string> Conversions(const std::string& s) {
    std::vector<std::string> out;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != '%') continue;
        if (s[i + 1] == '%') {
            ++i;
            continue;
        }
        out.push_back(s.substr(i, 2));
    }
    return out;
}

TEST(StringTable, EveryKeyHasBothLanguages) {
    Json::Value table;
    ASSERT_TRUE(json_safe::Parse(ReadWholeFile(kBin + "/string.json"), table)) << kBin;
    ASSERT_TRUE(table.isObject());
    EXPECT_EQ(table.size(), sizeof kKeys / sizeof kKeys[0]) << "keys nobody looks up, or missing ones";
    for (const char* key : kKeys) {
        const Json::Value& entry = json_safe::Member(table, key);
        std::string eng = json_safe::String(entry, "ENG");
        std::string cht = json_safe::String(entry, "CHT");
        EXPECT_FALSE(eng.empty()) << key;
        EXPECT_FALSE(cht.empty()) << key;
        EXPECT_TRUE(HasNonAscii(cht)) << key << ": CHT text is not translated";
        // Texts are shown as they are, except FIRMWARE_INFO, a format for two
        // texts, and LOGBOOK_OFFLINE, one for the time of the last refresh: a
        // stray conversion would read arguments that are not there.
        std::vector<std::string> expected;
        if (std::string(key) == "FIRMWARE_INFO") expected = {"%s", "%s"};
        if (std::string(key) == "LOGBOOK_OFFLINE") expected = {"%s"};
        EXPECT_EQ(Conversions(eng), expected) << key;
        EXPECT_EQ(Conversions(cht), expected) << key;
    }
}

// The pages, their ids and the dialog sizes come from the generated manifest
// (pages/page_manifest.h), the one list the program names them by.
TEST(Pages, EveryPageHoldsItsManifestIdsOnceInBothLanguages) {
    const std::regex id_re("\\sid=\"([^\"]*)\"");
    ASSERT_GE(std::size(pages::kPages), 13u);
    for (const char* lang : kLanguages) {
        for (const pages::PageInfo& page : pages::kPages) {
            std::string where = std::string(lang) + "/" + page.file;
            std::string html = ReadWholeFile(kBin + "/" + where);
            ASSERT_FALSE(html.empty()) << where;
            EXPECT_EQ(html.find("{{"), std::string::npos) << where << ": placeholder left";
            std::map<std::string, int> count;
            for (std::sregex_iterator it(html.begin(), html.end(), id_re), end; it != end; ++it)
                ++count[(*it)[1].str()];
            size_t listed = 0;
            for (const char* const* id = page.ids; *id; ++id, ++listed)
                EXPECT_EQ(count[*id], 1) << where << " id " << *id;
            EXPECT_EQ(count.size(), listed) << where << ": ids the manifest does not list";
        }
    }
}

// Each dialog opens its page at the page's own size and drag band.
TEST(Pages, DialogsTakeTheirPageAndSizeFromTheManifest) {
    SetDpiScale(96, 96);
    struct Case {
        std::unique_ptr<DialogWnd> dlg;
        const pages::PageInfo* page;
    };
    auto find = [](const char* file) -> const pages::PageInfo* {
        for (const pages::PageInfo& p : pages::kPages)
            if (std::string(p.file) == file) return &p;
        return nullptr;
    };
    Case cases[] = {
        {std::make_unique<MsgDlg>("a", "b"), find("msg.htm")}, {std::make_unique<YesNoDlg>("q"), find("yes_no.htm")},
        {std::make_unique<AboutDlg>(), find("about.htm")},     {std::make_unique<SettingDlg>(), find("setting.htm")},
        {std::make_unique<LoginDlg>(), find("login.htm")},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.page, nullptr);
        EXPECT_EQ(c.dlg->page_file(), c.page->file);
        EXPECT_EQ(c.dlg->width(), c.page->width) << c.page->file;
        EXPECT_EQ(c.dlg->height(), c.page->height) << c.page->file;
        EXPECT_EQ(c.dlg->drag_band(), c.page->drag_band) << c.page->file;
    }
    EXPECT_EQ(ProgressDlg::width(), pages::progress::kWidth);
    EXPECT_EQ(ProgressDlg::height(), pages::progress::kHeight);
}

// Every element id the program's code names as a literal exists in a page.
// (Code that names them through the manifest is checked by the compiler.)
TEST(Pages, LiteralIdsInTheCodeExistInAPage) {
    std::set<std::string> known;
    for (const pages::PageInfo& page : pages::kPages)
        for (const char* const* id = page.ids; *id; ++id) known.insert(*id);
    const std::regex call_re("\\b(FindById|FindInFrame|IsEvent)\\s*\\(|\\btarget_id\\s*==\\s*(\"[^\"]*\")");
    const std::regex literal_re("\"([^\"\\\\]*)\"");
    size_t seen = 0;
    for (const char* area : {"account", "app", "browser", "divelog", "divesite", "sync", "update"}) {
        const std::filesystem::path dir = std::filesystem::path(VORTA_SOURCE_DIR) / area;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            if (entry.path().extension() != ".cpp") continue;
            const std::string code = ReadWholeFile(entry.path().string());
            for (std::sregex_iterator it(code.begin(), code.end(), call_re), end; it != end; ++it) {
                // The call's arguments, up to its closing parenthesis.
                std::string args = (*it)[2].str();
                if (args.empty()) {
                    size_t i = it->position() + it->length();
                    for (int depth = 1; i < code.size() && depth > 0; ++i) {
                        if (code[i] == '"') i = code.find('"', i + 1);
                        else if (code[i] == '(') ++depth;
                        else if (code[i] == ')') --depth;
                        if (i == std::string::npos) break;
                    }
                    args = code.substr(it->position(), i - it->position());
                }
                for (std::sregex_iterator l(args.begin(), args.end(), literal_re), lend; l != lend; ++l, ++seen)
                    EXPECT_TRUE(known.count((*l)[1].str())) << entry.path() << ": no page has id \"" << (*l)[1] << "\"";
            }
        }
    }
    EXPECT_GT(seen, 0u) << "found no literal id at all: is the pattern still right?";
}

TEST(Pages, FragmentsAreOneElementAndPagesCarryTheirLanguage) {
    for (const char* file : {"dive_log_cell.htm", "dive_site_cell.htm", "dive_site_list.htm"}) {
        for (const char* lang : kLanguages) {
            std::string html = ReadWholeFile(kBin + "/" + lang + "/" + file);
            ASSERT_FALSE(html.empty());
            // Appended as the last child, then taken as child i: no text around it.
            EXPECT_EQ(html.front(), '<') << file;
            EXPECT_EQ(html.back(), '>') << file;
        }
    }
    EXPECT_NE(ReadWholeFile(kBin + "/ENG/main.htm").find("<html lang=\"en\">"), std::string::npos);
    EXPECT_NE(ReadWholeFile(kBin + "/CHT/main.htm").find("<html lang=\"zh-Hant\">"), std::string::npos);
    // The About page shows the version the project is built as.
    for (const char* lang : kLanguages)
        EXPECT_NE(ReadWholeFile(kBin + "/" + lang + "/about.htm").find(" " VORTA_VERSION "</div>"), std::string::npos);
    // The tab that starts hidden, and the controls the tab switch rewrites.
    std::string main = ReadWholeFile(kBin + "/ENG/main.htm");
    EXPECT_NE(main.find("id=\"page1\" class=\"page_func btnctrl back_gold\""), std::string::npos);
    EXPECT_NE(main.find("id=\"page2\" class=\"page_func btnctrl back_white\""), std::string::npos);
    EXPECT_NE(main.find("id=\"framepage2\" src=\"dive_site_page.htm\" title=\"Dive Sites\" hidden=\"\""),
              std::string::npos);
    // Pictures the day list names, and the chart's symbols and the pages'
    // pictures, rendered from their SVG sources, which are not shipped.
    for (const char* img :
         {"images/scuba", "images/gauge", "images/freedive", "images/scuba_in", "images/scuba_out", "images/gauge_in",
          "images/gauge_out", "images/freedive_in", "images/freedive_out", "images/need_deco", "images/depth_alarm",
          "images/ascent_alarm", "common/logo", "common/avatar", "common/map_empty", "common/icons/gear"})
        EXPECT_EQ(ReadWholeFile(kBin + "/" + img + ".png").substr(0, 4), "\x89PNG") << img;
    for (const char* img : {"images/scuba_in", "common/logo", "common/icons/gear"})
        EXPECT_EQ(ReadWholeFile(kBin + "/" + img + ".svg"), "") << img;
}

}  // namespace

// The generated page folders and "string.json" as the program loads them
// from its run-time folder.
#include "base/json_safe.h"
#include "base/paths.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kBin = VORTA_BIN_DIR;
const char* const kLanguages[] = {"ENG", "CHT"};

// Every key the program looks up.
const char* const kKeys[] = {
    "SCUBA", "GAUGE", "FREEDIVE", "SUNNY", "CLOUDY", "RAIN", "SNOW", "OVERCAST", "WAVE_NO",
    "WAVE_SMALL", "WAVE_MEDIUM", "WAVE_HIGH", "CURRENT_NO", "CURRENT_SMALL", "CURRENT_MEDIUM",
    "CURRENT_STRONG", "VISIBILITY_CLEAR", "VISIBILITY_SOSO", "VISIBILITY_BAD", "HOST_NOT_CONN",
    "HOST_ERROR", "DATA_ERROR", "NO_INTERNET", "ENTER_EMAIL", "ENTER_PASSWORD", "EMAIL_PWD_ERROR",
    "USB_NOT_CONN", "USB_ERROR", "NOT_SUPPOR_DEVICE", "TO_DEL_DIVE_SIZE", "NO_DIVE_SITE",
    "UNABLE_TO_WRITE", "SURE_SEND_DS", "SURE_READ_DS", "DIVE_SITE_WRITED", "DIVE_SITE_READED",
    "DIVE_SITE_MAX", "GET_UPDATE_FILE", "NO_UPDATE_INFO", "SURE_UPDATE_DS", "FILE_ERROR", "UPDATING",
    "UNABLE_GET_FILE", "UPDATE_COMPLETE", "FIRMWARE_INFO", "PREPARING_UPLOAD", "ANALYZING_UPLOAD",
    "READ_UPLOAD", "COMPLETE_UPLOAD", "UPLOAING_LOG", "READING_LOG", "USB_ACCESS_DENIED",
    "DIVE_SITE_FILE_UNREADABLE", "DIVE_SITE_FILE_NOT_SAVED", "DIVE_SITE_IMPORT_TITLE", "DIVE_SITE_EXPORT_TITLE",
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
        if (s[i + 1] == '%') { ++i; continue; }
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
        // Texts are shown as they are, except FIRMWARE_INFO, which is a format
        // for two texts: a stray conversion would read arguments that are not there.
        std::vector<std::string> expected;
        if (std::string(key) == "FIRMWARE_INFO") expected = {"%s", "%s"};
        EXPECT_EQ(Conversions(eng), expected) << key;
        EXPECT_EQ(Conversions(cht), expected) << key;
    }
}

struct PageIds {
    const char* file;
    std::vector<std::string> ids;
};

const std::vector<PageIds>& Pages() {
    static const std::vector<PageIds> pages = {
        {"main.htm", {"page1", "page2", "page1_func", "page2_func", "setting", "about", "framepage1",
                      "framepage2", "upload", "update_fw", "update_ds", "dive_site_send", "dive_site_read",
                      "dive_site_import", "dive_site_export", "message"}},
        {"dive_log_page.htm", {"calendar", "calendardate", "lastmon", "nextmon", "synclog", "cell_tbody",
                               "message", "ie", "thumbnails", "display", "email", "odo_type",
                               "scuba_total_dive", "scuba_total_time", "scuba_max_depth",
                               "scuba_max_depth_unit", "free_total_dive", "free_total_time",
                               "free_max_depth", "free_max_depth_unit", "date_cell_00", "date_cell_41"}},
        {"dive_site_page.htm", {"ie", "cell_tbody", "dive_site_type", "dive_site_edit_name",
                                "dive_site_edit_lat", "dive_site_edit_lng", "dive_site_set", "dive_site_save",
                                "dive_site_del", "dive_site_new", "mouse_move_lat", "mouse_move_lng",
                                "dive_site_find_name", "dive_site_find", "poi_cell_tbody", "pop_table",
                                "right_wnd"}},
        {"dive_log_cell.htm", {"edit", "view", "date_title", "dive_type", "image", "depth", "depth_unit",
                               "time", "cell_depth_text"}},
        {"dive_site_cell.htm", {"dive_site_name", "dive_site_lat", "dive_site_lng", "dive_site_cell"}},
        {"dive_site_list.htm", {"dive_site_poi", "poi_name", "poi_region"}},
        {"login.htm", {"email", "pword", "login", "facebook", "exit", "message", "update_fw", "update_ds"}},
        {"msg.htm", {"MsgText1", "MsgText2", "ok"}},
        {"yes_no.htm", {"MsgText", "ok", "cancel"}},
        {"about.htm", {"ok"}},
        {"setting.htm", {"langauge", "unit_m", "unit_i", "save", "exit"}},
        {"progress.htm", {"MsgText1", "MsgText2", "progress", "cancel"}},
        {"log_edit.htm", {"ie", "ds", "scuba_option_title", "scuba_option_value", "s_bar", "e_bar",
                          "s_bar_unit", "e_bar_unit", "volume", "volume_unit", "weather", "wave", "current",
                          "visibility", "suit_thickness", "weight", "weight_unit", "edit_ds", "rtn_map",
                          "ds_name", "search", "cell_tbody", "message", "save", "exit"}},
    };
    return pages;
}

TEST(Pages, EveryPageHoldsItsIdsOnceInBothLanguages) {
    const std::regex id_re("\\sid=\"([^\"]*)\"");
    for (const char* lang : kLanguages) {
        for (const PageIds& page : Pages()) {
            std::string where = std::string(lang) + "/" + page.file;
            std::string html = ReadWholeFile(kBin + "/" + where);
            ASSERT_FALSE(html.empty()) << where;
            EXPECT_EQ(html.find("{{"), std::string::npos) << where << ": placeholder left";
            std::map<std::string, int> count;
            for (std::sregex_iterator it(html.begin(), html.end(), id_re), end; it != end; ++it)
                ++count[(*it)[1].str()];
            for (const std::string& id : page.ids) EXPECT_EQ(count[id], 1) << where << " id " << id;
            for (const auto& [id, n] : count) EXPECT_EQ(n, 1) << where << ": id " << id << " repeated";
        }
    }
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
    // The tab that starts hidden, and the controls the tab switch rewrites.
    std::string main = ReadWholeFile(kBin + "/ENG/main.htm");
    EXPECT_NE(main.find("id=\"page1\" class=\"page_func btnctrl back_gold\""), std::string::npos);
    EXPECT_NE(main.find("id=\"page2\" class=\"page_func btnctrl back_white\""), std::string::npos);
    EXPECT_NE(main.find("id=\"framepage2\" src=\"dive_site_page.htm\" title=\"Dive Sites\" hidden=\"\""),
              std::string::npos);
    // Pictures the day list and the dive chart name.
    for (const char* img : {"scuba", "gauge", "freedive", "scuba_in", "scuba_out", "gauge_in", "gauge_out",
                            "freedive_in", "freedive_out", "need_deco", "depth_alarm", "ascent_alarm"})
        EXPECT_EQ(ReadWholeFile(kBin + "/images/" + img + ".png").substr(1, 3), "PNG") << img;
}

}  // namespace

// The export writers: UDDF and CSV text of small dives against literal
// expected text, the UDDF documents validated against the format's schema,
// and CSV quoting.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "base/file_write.h"
#include "base/json_safe.h"
#include "divelog/export_csv.h"
#include "divelog/export_file.h"
#include "divelog/export_text.h"
#include "divelog/export_uddf.h"
#include "tests/support/skip_or_fail.h"

using namespace vorta_divelog;

namespace {

Json::Value Parsed(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(json_safe::Parse(text, v)) << text;
    return v;
}

std::string Lang(const std::string& key) {
    return "<" + key + ">";
}

// One scuba dive with every value, at UTC+8.
const char kScuba[] = R"({"dive_datetime": 1700000000, "timezone": -480, "dive_type": "scuba",
  "max_depth": "18.5", "average_depth": "9.3", "dive_duration": 2400, "air_in_text": "200.0",
  "air_out_text": "50.0", "cylinder_size_text": "12", "min_temperature": "24.5", "air_temperature": "30",
  "altitude": "1000", "water_type": 0, "weather_type": 1, "wave_type": 2, "current_type": 3,
  "visibility_type": 1, "suit_thickness": "5", "weight": "4.0",
  "entry_position": {"latitude": 28.5, "longitude": -80.25}, "exit_position": {"latitude": 0, "longitude": 0},
  "poi": {"poi_id": "p7", "poi_name": "Blue Hole & Reef", "poi_region": "Dahab",
          "gps_location": {"latitude": 28.5, "longitude": -80.25}},
  "dive_profiles": [{"profile_time": 0, "pressure": "1000"}, {"profile_time": 10, "pressure": "2000"},
                    {"profile_time": 20, "pressure": "2850"}, {"profile_time": 30, "pressure": "1200"}],
  "events": [{"event_time": 10, "event_code": 1, "event_value": 0},
             {"event_time": 20, "event_code": 18, "event_value": 0},
             {"event_time": 30, "event_code": 3, "event_value": 0}]})";

// A freedive: no tank data, no average depth or temperatures, at UTC.
const char kFreedive[] = R"({"dive_datetime": 1700003600, "timezone": 0, "dive_type": "free",
  "max_depth": "12.0", "dive_duration": 95, "air_in_text": "0.0", "air_out_text": "0.0",
  "cylinder_size_text": "0", "air_temperature": "",
  "dive_profiles": [{"profile_time": 0, "pressure": "1013"}, {"profile_time": 1, "pressure": "2213"}]})";

// A gauge dive without samples or zone.
const char kNoSamples[] = R"({"dive_datetime": 0, "dive_type": "gauge", "max_depth": "7.5",
  "dive_duration": 600, "air_in_text": "190"})";

const UddfGenerator kGenerator{"VORTA PC TOOL", "1.0.0"};
const UddfOwner kOwner{"Demo Diver", "demo@vorta.example"};

// The "<dive ...>...</dive>" line of a one-dive document.
std::string DiveLine(const std::string& doc) {
    const size_t begin = doc.find("<dive id=");
    const size_t end = doc.find("</dive>");
    if (begin == std::string::npos || end == std::string::npos) return "";
    return doc.substr(begin, end + 7 - begin);
}

std::string SchemaPath() {
    return std::string(VORTA_SOURCE_DIR) + "/../shared/uddf/uddf_3.2.3.xsd";
}

bool HaveValidator(std::string& why) {
    if (!std::ifstream(SchemaPath())) {
        why = "UDDF schema not found at " + SchemaPath();
        return false;
    }
    if (std::system("xmllint --version >/dev/null 2>&1") != 0) {
        why = "xmllint (libxml2-utils) not installed";
        return false;
    }
    return true;
}

// xmllint's verdict on `doc`; its messages in `log`.
bool Validates(const std::string& doc, std::string& log) {
    char path[] = "/tmp/vorta-uddf-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return false;
    const bool written = write(fd, doc.data(), doc.size()) == static_cast<ssize_t>(doc.size());
    close(fd);
    const std::string command = "xmllint --noout --schema '" + SchemaPath() + "' " + path + " 2>&1";
    FILE* p = written ? popen(command.c_str(), "r") : nullptr;
    int status = -1;
    if (p) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) log += buf;
        status = pclose(p);
    }
    unlink(path);
    return status == 0;
}

}  // namespace

TEST(UddfExport, WholeDocumentOfOneScubaDive) {
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<uddf xmlns=\"http://www.streit.cc/uddf/3.2/\" version=\"3.2.3\">\n"
        "<generator><name>VORTA PC TOOL</name><type>logbook</type><version>1.0.0</version></generator>\n"
        "<diver><owner id=\"owner\"><personal><firstname>Demo</firstname><lastname>Diver</lastname></personal>"
        "<contact><email>demo@vorta.example</email></contact></owner></diver>\n"
        "<divesite><site id=\"site1\"><name>Blue Hole &amp; Reef</name><geography><location>Dahab</location>"
        "<latitude>28.5</latitude><longitude>-80.25</longitude></geography></site></divesite>\n"
        "<profiledata><repetitiongroup id=\"group1\">\n"
        "<dive id=\"dive1\"><informationbeforedive><link ref=\"site1\"/><divenumber>1</divenumber>"
        "<datetime>2023-11-15T06:13:20+08:00</datetime><airtemperature>303.15</airtemperature>"
        "<apparatus>open-scuba</apparatus></informationbeforedive>"
        "<tankdata><tankvolume>0.012</tankvolume><tankpressurebegin>20000000</tankpressurebegin>"
        "<tankpressureend>5000000</tankpressureend></tankdata>"
        "<samples><waypoint><depth>0</depth><divetime>0</divetime><divemode type=\"opencircuit\"/></waypoint>"
        "<waypoint><alarm>deco</alarm><depth>10</depth><divetime>10</divetime></waypoint>"
        "<waypoint><depth>18.5</depth><divetime>20</divetime><setmarker>depth alarm</setmarker></waypoint>"
        "<waypoint><alarm>ascent</alarm><depth>2</depth><divetime>30</divetime></waypoint></samples>"
        "<informationafterdive><greatestdepth>18.5</greatestdepth><averagedepth>9.3</averagedepth>"
        "<diveduration>2400</diveduration><lowesttemperature>297.65</lowesttemperature></informationafterdive>"
        "</dive>\n"
        "</repetitiongroup></profiledata>\n"
        "</uddf>\n";
    EXPECT_EQ(UddfDocument({Parsed(kScuba)}, kGenerator, kOwner), expected);
}

TEST(UddfExport, DivesWithoutSomeValuesLeaveThemOut) {
    struct Case {
        const char* name;
        std::string log;
        std::string dive;
    } cases[] = {
        {"freedive", kFreedive,
         "<dive id=\"dive1\"><informationbeforedive><divenumber>1</divenumber>"
         "<datetime>2023-11-14T23:13:20+00:00</datetime></informationbeforedive>"
         "<samples><waypoint><depth>0</depth><divetime>0</divetime><divemode type=\"apnea\"/></waypoint>"
         "<waypoint><depth>12</depth><divetime>1</divetime></waypoint></samples>"
         "<informationafterdive><greatestdepth>12</greatestdepth><diveduration>95</diveduration>"
         "</informationafterdive></dive>"},
        {"no samples", kNoSamples,
         "<dive id=\"dive1\"><informationbeforedive><divenumber>1</divenumber>"
         "<datetime>1970-01-01T00:00:00</datetime><apparatus>open-scuba</apparatus></informationbeforedive>"
         "<informationafterdive><greatestdepth>7.5</greatestdepth><diveduration>600</diveduration>"
         "</informationafterdive></dive>"},
        // Without greatest depth and duration, the deepest sample and the
        // last sample's time stand in (the format requires both).
        {"depth and duration from samples",
         R"({"dive_type": "scuba", "dive_profiles": [{"profile_time": 0, "pressure": "1013"},
            {"profile_time": 20, "pressure": "1513"}, {"profile_time": 40, "pressure": "1313"}]})",
         "<dive id=\"dive1\"><informationbeforedive><divenumber>1</divenumber>"
         "<datetime>1970-01-01T00:00:00</datetime><apparatus>open-scuba</apparatus></informationbeforedive>"
         "<samples><waypoint><depth>0</depth><divetime>0</divetime><divemode type=\"opencircuit\"/></waypoint>"
         "<waypoint><depth>5</depth><divetime>20</divetime></waypoint>"
         "<waypoint><depth>3</depth><divetime>40</divetime></waypoint></samples>"
         "<informationafterdive><greatestdepth>5</greatestdepth><diveduration>40</diveduration>"
         "</informationafterdive></dive>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DiveLine(UddfDocument({Parsed(c.log)}, kGenerator, kOwner)), c.dive) << c.name;
}

TEST(UddfExport, SitesOnceEachAndDivesNumberedInOrder) {
    const std::string doc = UddfDocument({Parsed(kScuba), Parsed(kFreedive), Parsed(kScuba)}, kGenerator, {"Solo", ""});
    EXPECT_EQ(doc.find("<site id=\"site2\""), std::string::npos);
    EXPECT_NE(doc.find("<dive id=\"dive3\"><informationbeforedive><link ref=\"site1\"/><divenumber>3</divenumber>"),
              std::string::npos);
    EXPECT_NE(doc.find("<firstname>Solo</firstname><lastname></lastname></personal></owner>"), std::string::npos);
}

// Dives' parts made ahead (as an export makes them while it fetches) give
// the same bytes as the document made in one go, whichever dives have one:
// the number and the site's link still follow each dive's place.
TEST(UddfExport, PartsMadeAheadGiveTheSameDocument) {
    const std::vector<Json::Value> dives{Parsed(kFreedive), Parsed(kScuba), Parsed(kNoSamples), Parsed(kScuba)};
    const std::string whole = UddfDocument(dives, kGenerator, kOwner);
    const std::vector<std::vector<bool>> ahead{{true, true, true, true}, {false, true, false, true}, {}};
    for (const std::vector<bool>& which : ahead) {
        std::vector<std::string> bodies;
        for (size_t i = 0; i < which.size(); ++i) bodies.push_back(which[i] ? UddfDiveBody(dives[i]) : "");
        EXPECT_EQ(UddfDocument(dives, kGenerator, kOwner, bodies), whole) << bodies.size();
    }
    EXPECT_NE(whole.find("<dive id=\"dive4\"><informationbeforedive><link ref=\"site1\"/><divenumber>4</divenumber>"),
              std::string::npos);
}

TEST(UddfExport, DocumentsValidateAgainstTheSchema) {
    std::string why;
    if (!HaveValidator(why)) VORTA_SKIP_OR_FAIL(why);
    const std::vector<std::vector<std::string>> documents = {
        {kScuba},
        {kFreedive},
        {kNoSamples},
        {kScuba, kFreedive, kNoSamples, "{}"},
        {},
        // Text XML cannot hold, positions off the globe, numbers past any
        // measurement, values of the wrong type.
        {R"({"poi": {"poi_id": 9, "poi_name": "a\u0001<b>\"&'\uFFFF", "gps_location": {"latitude": 1e300}},
             "timezone": 100000, "dive_datetime": 9e18, "max_depth": "1e300", "air_in_text": "1e300",
             "dive_profiles": [{"profile_time": -5, "pressure": "1e300"}, 7, null],
             "events": [{"event_time": -5, "event_code": 3}], "dive_duration": "long"})"},
    };
    for (const auto& logs : documents) {
        std::vector<Json::Value> dives;
        for (const std::string& log : logs) dives.push_back(Parsed(log));
        const std::string doc = UddfDocument(dives, {"a & b", "<1>"}, {"\x01Odd \xff Name", "x@y"});
        std::string log;
        EXPECT_TRUE(Validates(doc, log)) << log << doc;
    }
    // The check itself: a dive without its greatest depth does not validate.
    std::string doc = UddfDocument({Parsed(kNoSamples)}, kGenerator, kOwner);
    doc.erase(doc.find("<greatestdepth>"), std::string("<greatestdepth>7.5</greatestdepth>").size());
    std::string log;
    EXPECT_FALSE(Validates(doc, log)) << doc;
}

TEST(ExportText, XmlTextAndUtf8) {
    const std::pair<std::string, std::string> xml[] = {
        {"a<b>&\"c\"'", "a&lt;b&gt;&amp;&quot;c&quot;&apos;"},
        {"tab\tline\ncr\r", "tab\tline\ncr\r"},
        {std::string("nul\0bell\x07", 9), "nulbell"},
        {"\xEF\xBF\xBE\xEF\xBF\xBF|\xE6\xBD\x9B", "|\xE6\xBD\x9B"},  // U+FFFE, U+FFFF dropped; 潛 kept
        {"\xff\xc0\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},    // stray and overlong bytes
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},    // a surrogate
        {"\xF0\x9F\x90\xA0 \xE6", "\xF0\x9F\x90\xA0 \xEF\xBF\xBD"},  // cut short at the end
    };
    for (const auto& [in, out] : xml) EXPECT_EQ(XmlText(in), out) << in;

    const std::pair<double, std::string> numbers[] = {
        {12.5, "12.5"}, {300.0, "300"}, {0.012, "0.012"}, {-0.001, "0"}, {-3.25, "-3.25"}};
    for (const auto& [value, text] : numbers) EXPECT_EQ(Decimal(value, 2 + (value == 0.012)), text) << value;
}

TEST(CsvExport, HeaderAndRowOfOneScubaDive) {
    const std::string expected =
        "<CSV_DATE>,<CSV_TYPE>,<CSV_MAX_DEPTH> (m),<CSV_AVG_DEPTH> (m),<CSV_DURATION>,<CSV_START_PRESSURE> (bar),"
        "<CSV_END_PRESSURE> (bar),<CSV_VOLUME> (L),<CSV_SAC> (L/min),<CSV_WATER_TEMP> (c),<CSV_AIR_TEMP> (c),"
        "<CSV_WEATHER>,<CSV_WAVES>,<CSV_CURRENT>,<CSV_VISIBILITY>,<CSV_SUIT> (mm),<CSV_WEIGHT> (kg),<CSV_SITE>,"
        "<CSV_ENTRY_LAT> (°),<CSV_ENTRY_LNG> (°),<CSV_EXIT_LAT> (°),<CSV_EXIT_LNG> (°)\r\n"
        // SAC: (200 - 50) bar * 12 L / (9.3 m / 10 + 1) / 40 min = 23.3 L/min
        "2023-11-15 06:13,<SCUBA>,18.5,9.3,40'00,200,50,12,23.3,24.5,30.0,<SUNNY>,<WAVE_SMALL>,<CURRENT_MEDIUM>,"
        "<VISIBILITY_CLEAR>,5,4.0,Blue Hole & Reef,28.5,-80.25,,\r\n";
    EXPECT_EQ(CsvDocument({Parsed(kScuba)}, 0, Lang), expected);
}

TEST(CsvExport, ImperialFreediveRow) {
    const std::string doc = CsvDocument({Parsed(kFreedive)}, 1, Lang);
    const std::string row = doc.substr(doc.find("\r\n") + 2);
    // 12 m = 39.4 ft; no tank values for a freedive; values the log does not
    // hold (average depth, temperatures, suit, weight) empty, not 0 or 32 F;
    // no site, no positions.
    EXPECT_EQ(row, "2023-11-14 23:13,<FREEDIVE>,39.4,,01'35,N/A,N/A,N/A,N/A,,,N/A,N/A,N/A,N/A,,,,,,,\r\n");
    EXPECT_NE(doc.find("<CSV_MAX_DEPTH> (ft),"), std::string::npos);
    EXPECT_NE(doc.find("<CSV_START_PRESSURE> (psi),"), std::string::npos);
}

TEST(CsvExport, QuotingOfLabelsAndSiteNames) {
    const std::pair<std::string, std::string> fields[] = {
        {"plain", "plain"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rlf", "\"cr\rlf\""},
        {"\xff", "\xEF\xBF\xBD"},
        {"", ""},
    };
    for (const auto& [in, out] : fields) EXPECT_EQ(CsvField(in), out) << in;

    // Through the whole document: a label with a comma, site names with a
    // quote and line break, and one that would start a formula.
    auto lang = [](const std::string& key) { return key == "CSV_SITE" ? std::string("Site, name") : key; };
    const std::string with_quote = R"({"poi": {"poi_id": "1", "poi_name": "Joe's \"Reef\"\nNorth"}})";
    const std::string formula = R"j({"poi": {"poi_id": "2", "poi_name": "=HYPERLINK(1)"}})j";
    const std::string doc = CsvDocument({Parsed(with_quote), Parsed(formula)}, 0, lang);
    EXPECT_NE(doc.find(",\"Site, name\",CSV_ENTRY_LAT (°),"), std::string::npos) << doc;
    EXPECT_NE(doc.find(",\"Joe's \"\"Reef\"\"\nNorth\",,,,\r\n"), std::string::npos) << doc;
    EXPECT_NE(doc.find(",'=HYPERLINK(1),,,,\r\n"), std::string::npos) << doc;
}

TEST(ExportFile, FormatByTheChosenName) {
    const std::pair<const char*, ExportFormat> names[] = {
        {"/x/log.csv", ExportFormat::kCsv},   {"/x/LOG.CSV", ExportFormat::kCsv},
        {"/x/log.uddf", ExportFormat::kUddf}, {"/x/log", ExportFormat::kUddf},
        {"/x.csv/log", ExportFormat::kUddf},  {"/x/log.csv.txt", ExportFormat::kUddf},
    };
    for (const auto& [name, format] : names) EXPECT_EQ(ExportFormatOf(name), format) << name;
}

TEST(ExportFile, ReplacesWholeKeepsModeAndFollowsLinks) {
    char dir[] = "/tmp/vorta-export-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string base = dir;
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // A new file, then the same file replaced: its mode stays.
    ASSERT_TRUE(WriteWholeFile(base + "/a.uddf", "first"));
    ASSERT_EQ(chmod((base + "/a.uddf").c_str(), 0640), 0);
    ASSERT_TRUE(WriteWholeFile(base + "/a.uddf", "second"));
    struct stat st;
    ASSERT_EQ(stat((base + "/a.uddf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(read(base + "/a.uddf"), "second");
    // Through a link: the target is replaced, the link stays a link.
    ASSERT_EQ(symlink((base + "/a.uddf").c_str(), (base + "/link.uddf").c_str()), 0);
    ASSERT_TRUE(WriteWholeFile(base + "/link.uddf", "third"));
    EXPECT_EQ(read(base + "/a.uddf"), "third");
    ASSERT_EQ(lstat((base + "/link.uddf").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    // A folder is not replaced; a folder that does not exist fails cleanly.
    ASSERT_EQ(mkdir((base + "/sub").c_str(), 0700), 0);
    EXPECT_FALSE(WriteWholeFile(base + "/sub", "x"));
    EXPECT_FALSE(WriteWholeFile(base + "/missing/b.csv", "x"));
    EXPECT_FALSE(WriteWholeFile("", "x"));
    // Nothing else was left in the folder.
    EXPECT_EQ(std::system(("test $(ls -A '" + base + "' | wc -l) -eq 3").c_str()), 0);
    std::system(("rm -rf '" + base + "'").c_str());
}

// ".ds" files: the exact printed form, what reading takes from any file, and
// that a failed write or read changes nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <tuple>

#include "divesite/dive_site_file.h"

using namespace vorta_divesite;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/ds_file_test_XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A record as its type, whole name field and position in millionths.
using Fields = std::tuple<int, std::string, int32_t, int32_t>;
Fields FieldsOf(const DiveSite& site) {
    return {site.type, std::string(site.name.begin(), site.name.end()), site.lat_e6, site.lng_e6};
}
// A name field holding `name`, zero-filled.
std::string NameField(std::string name) {
    name.resize(DiveSite::kNameField, '\0');
    return name;
}

DiveSiteLists Lists(std::initializer_list<std::pair<int, DiveSite>> sites) {
    DiveSiteLists lists;
    for (const auto& [list, site] : sites) lists.Append(list, site);
    return lists;
}

std::vector<std::string> Names(const DiveSiteLists& lists, int list) {
    std::vector<std::string> out;
    for (const DiveSite& s : lists.list(list)) out.push_back(s.Name());
    return out;
}

const char kOneScubaSite[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<vorta_dive_site>\n"
    "    <scuba>\n"
    "        <waypoint name=\"Reef\" lat=\"25.033964\" lng=\"121.564468\" />\n"
    "    </scuba>\n"
    "    <freedive />\n"
    "    <gauge />\n"
    "</vorta_dive_site>\n";

}  // namespace

TEST(DiveSiteFile, PrintsTheLibrarysFormByteForByte) {
    EXPECT_EQ(PrintSiteFile(Lists({{0, MakeDiveSite(1, "Reef", 25.033964, 121.564468)}})), kOneScubaSite);
    EXPECT_EQ(PrintSiteFile(DiveSiteLists()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<vorta_dive_site>\n    <scuba />\n"
              "    <freedive />\n    <gauge />\n</vorta_dive_site>\n");
    // Truncated millionths print with six decimals; markup in a name is
    // escaped by the library.
    const std::string text = PrintSiteFile(Lists({{2, MakeDiveSite(3, "A&B <x>", 12.3456789, -0.5)}}));
    EXPECT_NE(text.find("<waypoint name=\"A&amp;B &lt;x&gt;\" lat=\"12.345678\" lng=\"-0.500000\" />"),
              std::string::npos)
        << text;
}

TEST(DiveSiteFile, ReadsWhatAnyFileOffers) {
    struct Case {
        const char* what;
        std::string xml;
        std::vector<std::string> scuba, freedive, gauge;
    } cases[] = {
        {"the printed form", kOneScubaSite, {"Reef"}, {}, {}},
        {"another root name, types in another order",
         "<sites><gauge><waypoint name=\"g\" lat=\"1\" lng=\"2\"/></gauge>"
         "<scuba><waypoint name=\"s\" lat=\"3\" lng=\"4\"/></scuba><freedive/></sites>",
         {"s"},
         {},
         {"g"}},
        {"only gauge", "<x><gauge><waypoint name=\"g1\"/><waypoint name=\"g2\"/></gauge></x>", {}, {}, {"g1", "g2"}},
        {"other elements and text ignored, first type element counts",
         "<x><scuba>text<note/><waypoint name=\"a\"/><point name=\"no\"/><waypoint name=\"b\"/></scuba>"
         "<scuba><waypoint name=\"second scuba\"/></scuba></x>",
         {"a", "b"},
         {},
         {}},
        {"a name of 60 ASCII characters",
         "<x><freedive><waypoint name=\"" + std::string(60, 'n') + "\"/></freedive></x>",
         {},
         {std::string(54, 'n')},
         {}},
        {"CR LF line ends", "<x>\r\n<scuba>\r\n<waypoint name=\"crlf\"/>\r\n</scuba>\r\n</x>\r\n", {"crlf"}, {}, {}},
    };
    for (const auto& c : cases) {
        DiveSiteLists lists = Lists({{1, MakeDiveSite(2, "old", 0, 0)}});
        ASSERT_TRUE(ParseSiteFile(c.xml, lists)) << c.what;
        EXPECT_EQ(Names(lists, 0), c.scuba) << c.what;
        EXPECT_EQ(Names(lists, 1), c.freedive) << c.what;
        EXPECT_EQ(Names(lists, 2), c.gauge) << c.what;
    }

    // Positions: truncated millionths; a missing or broken attribute is 0.
    DiveSiteLists lists;
    ASSERT_TRUE(
        ParseSiteFile("<x><scuba><waypoint name=\"p\" lat=\"12.3456789\" lng=\"-33.8688\"/>"
                      "<waypoint lat=\"north\"/></scuba></x>",
                      lists));
    ASSERT_EQ(lists.list(0).size(), 2u);
    EXPECT_EQ(lists.list(0)[0].lat_e6, 12345678);
    EXPECT_EQ(lists.list(0)[0].lng_e6, -33868800);
    EXPECT_EQ(lists.list(0)[0].type, kTypeScuba);
    EXPECT_EQ(FieldsOf(lists.list(0)[1]), Fields(kTypeScuba, NameField(""), 0, 0));
}

TEST(DiveSiteFile, KeepsTheFirst64OfEachTypeAndReadsOn) {
    std::string xml = "<x><scuba>";
    for (int i = 0; i < 65; ++i) xml += "<waypoint name=\"s" + std::to_string(i) + "\"/>";
    xml += "</scuba><gauge><waypoint name=\"after\"/></gauge></x>";
    DiveSiteLists lists;
    ASSERT_TRUE(ParseSiteFile(xml, lists));
    ASSERT_EQ(lists.list(0).size(), 64u);
    EXPECT_EQ(lists.list(0).back().Name(), "s63");
    EXPECT_EQ(Names(lists, 2), std::vector<std::string>{"after"});
}

TEST(DiveSiteFile, NamesThatAreNotUtf8ExportAsTheirUtf8Part) {
    // Names as a device block may hold them: stray lead bytes before a
    // letter, before the end, before markup the file escapes.
    struct Case {
        const char* what;
        std::string raw, read;
    } cases[] = {
        {"three-byte lead before a letter", "Reef\xe4x", "Reefx"},
        {"two-byte lead before markup", "A\xc5&B\xc5<", "A&B<"},
        {"lone continuation, overlong form, surrogate",
         "a\x80"
         "b\xc0\xaf"
         "c\xed\xa0\x80"
         "d\xf0\x9f\x98\x80",
         "abcd\xf0\x9f\x98\x80"},
    };
    for (const auto& c : cases) {
        DiveSite site = MakeDiveSite(kTypeScuba, "", 25.5, -80.25);
        std::copy(c.raw.begin(), c.raw.end(), site.name.begin());
        DiveSiteLists back;
        ASSERT_TRUE(ParseSiteFile(PrintSiteFile(Lists({{0, site}})), back)) << c.what;
        ASSERT_EQ(back.list(0).size(), 1u) << c.what;
        EXPECT_EQ(FieldsOf(back.list(0)[0]), Fields(kTypeScuba, NameField(c.read), 25500000, -80250000)) << c.what;
    }
    // A file's own broken bytes are left out the same way.
    DiveSiteLists lists;
    ASSERT_TRUE(ParseSiteFile("<x><gauge><waypoint name=\"G\xc5\xc5\" lat=\"1\"/></gauge></x>", lists));
    EXPECT_EQ(Names(lists, 2), std::vector<std::string>{"G"});
}

TEST(DiveSiteFile, AFileThatIsNoSiteFileLeavesTheListsAlone) {
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    const std::string cases[] = {
        "",
        "not xml",
        "<x><scuba><waypoint name=\"a\"/></scuba>",  // never closed
        "<?xml version=\"1.0\"?><!-- only a comment -->",
        deep,
    };
    for (const auto& text : cases) {
        DiveSiteLists lists = Lists({{0, MakeDiveSite(1, "kept", 1, 2)}});
        EXPECT_FALSE(ParseSiteFile(text, lists)) << text.substr(0, 60);
        EXPECT_EQ(Names(lists, 0), std::vector<std::string>{"kept"});
    }
    TempDir dir;
    DiveSiteLists lists;
    for (const std::string& path : {dir / "missing.ds", dir.path()}) EXPECT_FALSE(ImportSiteFile(path, lists)) << path;
    ASSERT_EQ(mkfifo((dir / "fifo.ds").c_str(), 0600), 0);
    EXPECT_FALSE(ImportSiteFile(dir / "fifo.ds", lists));  // neither hangs nor reads
}

// What the parser would make of a text, counted before it gets it: nodes
// (markup, non-blank text runs and attributes), nesting and attributes per
// element, with markup inside quotes, comments and CDATA not counted, and
// a stray UTF-8 lead byte taking the bytes after it as the parser does.
TEST(DiveSiteFile, TheShapeOfATextIsCountedAsTheParserWillReadIt) {
    struct Case {
        const char* what;
        std::string text;
        size_t nodes, depth, attributes;
    } cases[] = {
        {"a site file", "<x><scuba><waypoint name=\"a\" lat=\"1\" lng=\"2\"/></scuba></x>", 6, 3, 3},
        {"markup that is no element", "<?xml version=\"1.0\"?><!x><?x?><!-- <a><b> --><r/>", 5, 1, 0},
        {"quotes hide markup", "<a b=\">\" c='<d><e>'/>", 3, 1, 2},
        {"a declaration's quotes too", "<?xml version=\"<a><b>\"?><r/>", 2, 1, 0},
        {"CDATA", "<a><![CDATA[<b><c>]]></a>", 2, 1, 0},
        {"text runs, blanks not", "<a> x <b/>\n </a>", 3, 2, 0},
        {"siblings do not nest", "<r><a></a><a></a><a/></r>", 4, 2, 0},
        {"a lead byte takes a closing tag along", "<a>\xe2</a><b>", 3, 2, 0},
        {"and a closing quote", "<a b=\"\xc3\"><c/>\"/>", 2, 1, 1},
        {"the parser gives up at an attribute without a value", "<a b c=\"1\"><d><e>", 1, 1, 0},
    };
    for (const auto& c : cases) {
        const SiteFileShape shape = ScanSiteFile(c.text);
        EXPECT_EQ(shape.nodes, c.nodes) << c.what;
        EXPECT_EQ(shape.depth, c.depth) << c.what;
        EXPECT_EQ(shape.attributes, c.attributes) << c.what;
    }
}

std::string Repeat(const std::string& s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

std::string Attributes(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += " a" + std::to_string(i) + "=\"\"";
    return out;
}

TEST(DiveSiteFile, FilesBeyondTheBoundsAreRefusedBeforeTheyAreParsed) {
    struct Case {
        const char* what;
        std::string text;
        bool read;
    } cases[] = {
        {"32 attributes", "<x" + Attributes(32) + "/>", true},
        {"33 attributes", "<x" + Attributes(33) + "/>", false},
        {"nested 32 deep", Repeat("<a>", 32) + Repeat("</a>", 32), true},
        {"nested 33 deep", Repeat("<a>", 33) + Repeat("</a>", 33), false},
        {"too many comments", "<x>" + Repeat("<!---->", 1u << 17) + "</x>", false},
        {"too many declarations", "<x>" + Repeat("<?x?>", 1u << 17) + "</x>", false},
        {"over 4 MiB", "<x>" + std::string(4u << 20, ' ') + "</x>", false},
    };
    for (const auto& c : cases) {
        DiveSiteLists lists = Lists({{0, MakeDiveSite(1, "kept", 1, 2)}});
        EXPECT_EQ(ParseSiteFile(c.text, lists), c.read) << c.what;
        EXPECT_EQ(lists.list(0).size(), c.read ? 0u : 1u) << c.what;
    }
}

TEST(DiveSiteFile, AFlatFileOfThousandsOfSitesKeepsTheFirst64OfEachType) {
    std::string text = "<x><scuba>";
    for (int i = 0; i < 6000; ++i) text += "<waypoint name=\"s" + std::to_string(i) + "\" lat=\"1\" lng=\"2\"/>";
    text += "</scuba><gauge>";
    for (int i = 0; i < 6000; ++i) text += "<waypoint name=\"g" + std::to_string(i) + "\" lat=\"-1\" lng=\"-2\"/>";
    text += "</gauge></x>";
    DiveSiteLists lists;
    ASSERT_TRUE(ParseSiteFile(text, lists));
    ASSERT_EQ(lists.list(0).size(), 64u);
    ASSERT_EQ(lists.list(2).size(), 64u);
    EXPECT_EQ(lists.list(0)[63].Name(), "s63");
    EXPECT_EQ(FieldsOf(lists.list(2)[0]), Fields(kTypeGauge, NameField("g0"), -1000000, -2000000));
}

TEST(DiveSiteFile, WaypointsOffTheGlobeAreLeftOut) {
    const std::string text =
        "<x><scuba>"
        "<waypoint name=\"n\" lat=\"90\" lng=\"180\"/>"
        "<waypoint name=\"s\" lat=\"-90\" lng=\"-180\"/>"
        "<waypoint name=\"pole\" lat=\"90.000001\" lng=\"0\"/>"
        "<waypoint name=\"south\" lat=\"-91\" lng=\"0\"/>"
        "<waypoint name=\"east\" lat=\"0\" lng=\"180.5\"/>"
        "<waypoint name=\"huge\" lat=\"1e308\" lng=\"-1e308\"/>"
        "<waypoint name=\"no numbers\" lat=\"x\"/>"
        "</scuba></x>";
    DiveSiteLists lists;
    ASSERT_TRUE(ParseSiteFile(text, lists));
    EXPECT_EQ(Names(lists, 0), (std::vector<std::string>{"n", "s", "no numbers"}));
    EXPECT_EQ(lists.list(0)[1].lat_e6, -90000000);
    EXPECT_EQ(lists.list(0)[2].lng_e6, 0);
}

TEST(DiveSiteFile, ExportWritesWholeFilesOrNothing) {
    TempDir dir;
    const DiveSiteLists lists = Lists({{0, MakeDiveSite(1, "Reef", 25.033964, 121.564468)}});
    const std::string path = dir / "sites.ds";
    Write(path, "old content");
    chmod(path.c_str(), 0640);
    ASSERT_TRUE(ExportSiteFile(path, lists));
    EXPECT_EQ(Read(path), kOneScubaSite);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file keeps its mode";

    DiveSiteLists back;
    ASSERT_TRUE(ImportSiteFile(path, back));
    EXPECT_EQ(back.list(0), lists.list(0));

    EXPECT_FALSE(ExportSiteFile(dir / "no/such/folder/x.ds", lists));
    EXPECT_FALSE(ExportSiteFile(dir.path(), lists));  // a folder is not replaced
    if (geteuid() != 0) {                             // root writes anywhere
        chmod(dir.path().c_str(), 0500);
        EXPECT_FALSE(ExportSiteFile(path, DiveSiteLists()));
        chmod(dir.path().c_str(), 0700);
        EXPECT_EQ(Read(path), kOneScubaSite);
    }
    // Nothing is left behind beside the file.
    EXPECT_EQ(std::system(("test $(ls -A '" + dir.path() + "' | wc -l) -eq 1").c_str()), 0);
}

// The cloud's dive-site directory search: the request made of any typed text,
// and the answer read through the call that sends it, up to the rows of the
// results table. The first bytes are the typed text (a length byte, then the
// text); the rest is the answer's body.
#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "divesite/dive_site_search.h"
#include "divesite/html_fragment.h"
#include "fuzz/answer_cloud.h"
#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <string>

using namespace vorta_divesite;

namespace {

// The page's result row ("dive_site_list.htm").
const char kRowTemplate[] =
    "<div class=\"poi_row\"><div id=\"dive_site_poi\" class=\"btnctrl poi_cell\" poi_id=\"\"><div id=\"poi_name\" "
    "class=\"poi_name\"></div><div id=\"poi_region\" class=\"poi_region\"></div></div></div>";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The typed text is sent as one form value: only unreserved bytes and
// escapes, which decode to the text.
void CheckQuery(const std::string& body, const std::string& text) {
    const std::string head = "query=", tail = "&limit=20";
    FUZZ_CHECK(body.size() >= head.size() + tail.size());
    FUZZ_CHECK(body.compare(0, head.size(), head) == 0);
    FUZZ_CHECK(body.compare(body.size() - tail.size(), tail.size(), tail) == 0);
    const std::string value = body.substr(head.size(), body.size() - head.size() - tail.size());
    std::string decoded;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '%') {
            FUZZ_CHECK(i + 2 < value.size());
            const int hi = HexValue(value[i + 1]), lo = HexValue(value[i + 2]);
            FUZZ_CHECK(hi >= 0 && lo >= 0);
            decoded += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || c == '.' || c == '~');
            decoded += c;
        }
    }
    FUZZ_CHECK(decoded == text);
}

// UTF-16 units of well-formed UTF-8.
size_t Utf16Units(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
    return n;
}

size_t CountOf(const std::string& s, char c) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const std::string text = in.Text(120);
    const std::string body = in.Rest();

    if (vorta_fuzz::ValidUtf8(text)) FUZZ_CHECK(SearchTextLongEnough(text) == (Utf16Units(text) >= 2));

    vorta_fuzz::AnswerCloud cloud(body);
    const SearchOutcome out = SearchDiveSites(cloud, text, "Authorization: Bearer t\r\n\r\n");
    FUZZ_CHECK(out.connected);
    FUZZ_CHECK(cloud.sent.size() == 1 && cloud.sent[0].verb == "POST" && cloud.sent[0].path == UrlSearchDivesites());
    CheckQuery(cloud.sent[0].body, text);

    Json::Value response;
    const EnvelopeResult result = check_envelope(body, &response);
    FUZZ_CHECK(out.failure_key == EnvelopeMessageKey(result));
    if (result != EnvelopeResult::Success) {
        FUZZ_CHECK(out.pois.empty());
        return 0;
    }
    const size_t listed = json_safe::Size(json_safe::Member(response, "pois"));
    // Results off the globe are left out; never more than were listed or allowed.
    FUZZ_CHECK(out.pois.size() <= std::min(listed, kMaxSearchResults));

    // The results table: the cloud's texts go into each row as text.
    const HtmlFragment row(kRowTemplate, {FragmentSlot::Attribute("dive_site_poi", "poi_id"),
                                          FragmentSlot::Text("poi_name"), FragmentSlot::Text("poi_region")});
    const std::string plain = row.Fill({"1", "2", "3"});
    for (const PoiResult& poi : out.pois) {
        const std::string html = row.Fill({poi.poi_id, poi.poi_name, poi.poi_region});
        FUZZ_CHECK(CountOf(html, '<') == CountOf(plain, '<'));
        FUZZ_CHECK(CountOf(html, '>') == CountOf(plain, '>'));
        FUZZ_CHECK(CountOf(html, '"') == CountOf(plain, '"'));
    }
    return 0;
}

// Whatever the cloud sends as a dive log, the exported files are well-formed:
// the UDDF document parses as XML and is valid UTF-8 without characters XML
// cannot hold, and every CSV row reads back with the header's field count.
#include <json/value.h>
#include <tinyxml.h>

#include <string>
#include <vector>

#include "base/json_safe.h"
#include "divelog/export_csv.h"
#include "divelog/export_text.h"
#include "divelog/export_uddf.h"
#include "fuzz/fuzz_input.h"

using namespace vorta_divelog;

namespace {

// The field count of each record of an RFC 4180 text; false when a quote is
// unbalanced or a record does not end in CR LF.
bool CsvRecords(const std::string& text, std::vector<size_t>& counts) {
    size_t fields = 1;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                ++i;
            } else if (c == '"') {
                quoted = false;
                if (i + 1 < text.size() && text[i + 1] != ',' && text[i + 1] != '\r') return false;
            }
        } else if (c == '"') {
            if (i > 0 && text[i - 1] != ',' && text[i - 1] != '\n') return false;
            quoted = true;
        } else if (c == ',') {
            ++fields;
        } else if (c == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n') return false;
            counts.push_back(fields);
            fields = 1;
            ++i;
        } else if (c == '\n') {
            return false;
        }
    }
    return !quoted && (text.empty() || text.back() == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const int32_t unit = in.Byte() & 1;
    const std::string name = in.Text(24);
    const std::string text = in.Rest();
    Json::Value root;
    if (!json_safe::Parse(text, root)) return 0;
    // One dive log, or an array of them.
    std::vector<Json::Value> dives;
    if (root.isArray()) {
        for (const Json::Value& d : root) dives.push_back(d);
    } else {
        dives.push_back(root);
    }

    const std::string uddf = UddfDocument(dives, {name, "1.0"}, {name, name});
    FUZZ_CHECK(ValidUtf8(uddf) == uddf);
    for (unsigned char c : uddf) FUZZ_CHECK(c >= 0x20 || c == '\n' || c == '\t' || c == '\r');
    TiXmlDocument doc;
    doc.Parse(uddf.c_str(), nullptr, TIXML_ENCODING_UTF8);
    FUZZ_CHECK(!doc.Error());
    FUZZ_CHECK(doc.RootElement() != nullptr && std::string(doc.RootElement()->Value()) == "uddf");

    const std::string csv = CsvDocument(dives, unit, [&name](const std::string& key) { return key + name; });
    FUZZ_CHECK(ValidUtf8(csv) == csv);
    std::vector<size_t> counts;
    FUZZ_CHECK(CsvRecords(csv, counts));
    FUZZ_CHECK(counts.size() == dives.size() + 1);
    for (size_t n : counts) FUZZ_CHECK(n == counts.front());
    return 0;
}

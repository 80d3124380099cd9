// ".ds" dive-site files, any file a user may pick: read, exported again and
// read back.
#include "divesite/dive_site_file.h"
#include "fuzz/fuzz_input.h"

#include <string>

using namespace vorta_divesite;

namespace {

bool SameLists(const DiveSiteLists& a, const DiveSiteLists& b) {
    for (int i = 0; i < 3; ++i)
        if (a.list(i) != b.list(i)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    DiveSiteLists lists;
    const DiveSite kept = MakeDiveSite(kTypeGauge, "kept", 1.5, -2.5);
    lists.Append(2, kept);
    DiveSiteLists before = lists;
    if (!ParseSiteFile(text, lists)) {
        // A refused file changes nothing.
        FUZZ_CHECK(SameLists(lists, before));
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        FUZZ_CHECK(lists.list(i).size() <= kMaxSites);
        for (const DiveSite& site : lists.list(i)) {
            FUZZ_CHECK(site.type == TypeOfList(i));
            FUZZ_CHECK(site.Name().size() <= DiveSite::kNameMax);
        }
    }
    // What was read exports as a file that reads back as the same sites and
    // prints the same bytes again.
    const std::string printed = PrintSiteFile(lists);
    FUZZ_CHECK(!printed.empty());
    DiveSiteLists back;
    FUZZ_CHECK(ParseSiteFile(printed, back));
    FUZZ_CHECK(SameLists(back, lists));
    FUZZ_CHECK(PrintSiteFile(back) == printed);
    return 0;
}

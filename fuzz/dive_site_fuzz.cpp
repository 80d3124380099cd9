// Dive-site records and blocks as the device (or a file) holds them, and
// names and positions as a page or a file gives them.
#include "divesite/dive_site.h"
#include "fuzz/fuzz_input.h"

#include <string>

using namespace vorta_divesite;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const uint8_t type = in.Byte();
    const std::string name = in.Text(200);
    const double lat = in.Double(), lng = in.Double();
    const size_t cut = in.Byte();
    const std::string block = in.Rest();
    const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());

    // A block of any length: only whole slots are read, at most kMaxSites.
    const std::vector<DiveSite> sites = DecodeSiteBlock(bytes, block.size(), type);
    FUZZ_CHECK(sites.size() <= kMaxSites && sites.size() <= block.size() / DiveSite::kSize);
    for (const DiveSite& site : sites) {
        FUZZ_CHECK(site.type == type);
        const std::string shown = site.Name();
        FUZZ_CHECK(shown.size() <= DiveSite::kNameField);  // a device field may lack its zero
        // Records read from the device go back out byte for byte.
        const auto encoded = EncodeDiveSite(site);
        FUZZ_CHECK(DecodeDiveSite(encoded.data()) == site);
    }
    const std::vector<uint8_t> again = EncodeSiteBlock(sites, type);
    FUZZ_CHECK(again.size() == kBlockSize);
    FUZZ_CHECK(DecodeSiteBlock(again.data(), again.size(), type) == sites || type == 0xFF);

    // A name cut anywhere stays a prefix and, when it was UTF-8, stays UTF-8.
    const std::string part = CutUtf8(name, cut);
    FUZZ_CHECK(part.size() <= cut || part == name);
    FUZZ_CHECK(name.compare(0, part.size(), part) == 0);
    if (vorta_fuzz::ValidUtf8(name)) FUZZ_CHECK(vorta_fuzz::ValidUtf8(part));

    const DiveSite made = MakeDiveSite(type, name, lat, lng);
    FUZZ_CHECK(made.Name().size() <= DiveSite::kNameMax);
    if (vorta_fuzz::ValidUtf8(name) && name.find('\0') == std::string::npos)
        FUZZ_CHECK(vorta_fuzz::ValidUtf8(made.Name()) && name.compare(0, made.Name().size(), made.Name()) == 0);
    FUZZ_CHECK(ListIndexOfType(type) >= 0 && ListIndexOfType(type) <= 2);

    DiveSiteLists lists;
    for (const DiveSite& site : sites) lists.Append(ListIndexOfType(site.type), site);
    lists.Erase(type % 4, cut);
    FUZZ_CHECK(lists.list(type % 4).size() <= kMaxSites);
    return 0;
}

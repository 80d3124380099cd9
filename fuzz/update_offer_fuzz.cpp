// The cloud's firmware and dive-site database offers.
#include "fuzz/fuzz_input.h"
#include "update/update_offer.h"

#include <string>

using namespace vorta_update;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (OfferKind kind : {OfferKind::kFirmware, OfferKind::kDiveSite}) {
        OfferUsable(text, kind);
        const std::vector<UpdateFile> files = OfferFiles(text, kind);
        for (const UpdateFile& f : files) {
            if (!f.usable) continue;
            // No block of a usable file lands past the 32-bit address space.
            FUZZ_CHECK(uint64_t{f.address} + f.size <= (uint64_t{1} << 32));
            FUZZ_CHECK(!f.url.empty());
        }
        FUZZ_CHECK(OfferByteTotal(files) >= 0);
    }
    if (auto version = OfferedFirmwareVersion(text)) FUZZ_CHECK(version->find('.') != std::string::npos);
    const std::string shown = VersionDisplayText(text.substr(0, 16));
    FUZZ_CHECK(text.empty() || shown.size() == std::min<size_t>(text.size(), 16) + 1);
    return 0;
}

// The three dive-site lists to and from the dive computer's three 4096-byte
// blocks (scuba 0x109000, freedive 0x10A000, gauge 0x10B000), over a device
// link that is already identified. Ending the link is the caller's (its
// DeviceSession), whatever happens here.
#pragma once

#include "device/device_link.h"
#include "divesite/dive_site.h"

namespace vorta_divesite {

// Writes each list that holds sites into its block, in the order scuba,
// freedive, gauge: the sites in slots 0, 1, ... and every other byte 0xFF.
// An empty list is skipped, so its block keeps what the device had. Each
// written list's sites take the list's type byte first, in `lists` too.
// Stops at the first block the device refuses: false, with the earlier
// blocks written and the later ones not.
bool WriteSitesToDevice(DeviceLink& device, DiveSiteLists& lists);

// Reads the three blocks and, only when all three arrived intact, puts their
// sites into `out` (replacing what it held): used slots in slot order, each
// site with its block's type. False, with `out` untouched, when a read fails.
bool ReadSitesFromDevice(DeviceLink& device, DiveSiteLists& out);

}  // namespace vorta_divesite

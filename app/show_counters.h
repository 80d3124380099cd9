// The counter line and percentage of a long device operation: items done of
// the item total, bytes done of the byte total. Shared by the sync and the
// device updates.
#pragma once

#include <cstdint>
#include <string>

#include "app/progress_sink.h"

struct ProgressCounters {
    int32_t item_total = 0;  // items in the list being worked through
    int32_t byte_total = 0;  // bytes announced for that list
    int32_t items_done = 0;  // items started in that list
    int32_t bytes_done = 0;  // bytes requested from the device in that list
};

// "%d/%d %d/%d": items done/total, bytes done/total.
std::string CounterLine(const ProgressCounters& c);

// Whole percentage of bytes done, truncated; 0 when the byte total is not
// positive, and never above 100 (a server may announce a short total).
int CounterPercent(const ProgressCounters& c);

// Writes the counter line and the percentage into the progress sink.
void ShowCounters(ProgressSink& sink, const ProgressCounters& c);

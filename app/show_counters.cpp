#include "app/show_counters.h"

#include <cstdio>

std::string CounterLine(const ProgressCounters& c) {
    char line[64];
    std::snprintf(line, sizeof line, "%d/%d %d/%d", c.items_done, c.item_total, c.bytes_done, c.byte_total);
    return line;
}

int CounterPercent(const ProgressCounters& c) {
    if (c.byte_total <= 0 || c.bytes_done <= 0) return 0;
    // 64-bit so that totals above 42 MB do not wrap.
    int64_t pct = static_cast<int64_t>(c.bytes_done) * 100 / c.byte_total;
    return pct > 100 ? 100 : static_cast<int>(pct);
}

void ShowCounters(ProgressSink& sink, const ProgressCounters& c) {
    sink.set_counters(CounterLine(c));
    sink.set_progress(std::to_string(CounterPercent(c)));
}

// The one process-wide record the map page's events write into. Every event
// that carries coordinates stores them here before its message is posted;
// the window that handles the message reads them back. Used only on the UI
// thread, so it carries no lock (a newer event may overwrite a pair before
// the first message is handled; the handler then sees the newer pair).
#pragma once

#include <cstdint>

struct MapEventStateRecord {
    double lat = 0.0;     // first coordinate of the last event that carried one
    double lng = 0.0;     // second coordinate of that event
    uint64_t target = 0;  // window (ui::WindowId) the event messages go to
};

extern MapEventStateRecord MapEventState;

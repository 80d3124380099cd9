// Where the main window opens: the size, position and maximized state it had
// when it was last closed, kept in the settings file, and the rules that put
// it back on a screen the user can see. Display-free: the monitors' work
// areas come in as plain rectangles.
#pragma once

#include <vector>

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// The main window's last normal (not maximized) frame and whether it was
// maximized. `known` is false when nothing usable was stored.
struct WindowPlacement {
    bool known = false;
    int x = 0, y = 0, width = 0, height = 0;
    bool maximized = false;
};

// Sizes and positions outside this range are not screen coordinates; a stored
// value outside it makes the whole placement unknown.
constexpr int kMaxPlacementCoordinate = 100000;

// A placement as read from the file: unknown unless the size is positive and
// every value lies within +-kMaxPlacementCoordinate.
WindowPlacement CheckedPlacement(int x, int y, int width, int height, bool maximized);

struct PlacementPlan {
    bool center = true;  // centre on the first work area instead of x, y
    int x = 0, y = 0, width = 0, height = 0;
    bool maximized = false;
};

// How to open the main window. `work_areas` are the monitors' work areas, the
// primary one first; `default_*` the size for a first start, `min_*` the
// smallest size the pages are laid out for.
//  - Nothing stored: the default size (within the primary work area), centred.
//  - No monitor known: the stored size, centred.
//  - The stored frame shows on the monitor it overlaps most (at least a
//    kMinVisible square of it, else the window would be out of reach): its
//    size is kept within [min, that work area] and it is moved just enough
//    to lie inside that work area.
//  - Otherwise (the monitor it was on is gone): the stored size within the
//    primary work area, centred there.
// The maximized state is kept in every case where something was stored.
PlacementPlan PlanPlacement(const WindowPlacement& stored, const std::vector<ScreenRect>& work_areas, int default_width,
                            int default_height, int min_width, int min_height);

// Side of the square of a stored frame that must be on a monitor for the
// frame to count as visible there.
constexpr int kMinVisible = 48;

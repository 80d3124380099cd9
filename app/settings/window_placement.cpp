#include "app/settings/window_placement.h"

#include <algorithm>
#include <cstdint>

namespace {

bool InRange(int v) {
    return v >= -kMaxPlacementCoordinate && v <= kMaxPlacementCoordinate;
}

// Area of the overlap of two rectangles (0 when they do not overlap).
int64_t OverlapWidth(const ScreenRect& a, int x, int w) {
    return std::max<int64_t>(0, std::min<int64_t>(int64_t(a.x) + a.width, int64_t(x) + w) - std::max(a.x, x));
}
int64_t OverlapHeight(const ScreenRect& a, int y, int h) {
    return std::max<int64_t>(0, std::min<int64_t>(int64_t(a.y) + a.height, int64_t(y) + h) - std::max(a.y, y));
}

// `value` within [lo, hi]; lo wins when the range is empty.
int Fit(int value, int lo, int hi) {
    return std::max(lo, std::min(value, hi));
}

}  // namespace

WindowPlacement CheckedPlacement(int x, int y, int width, int height, bool maximized) {
    WindowPlacement p;
    if (width <= 0 || height <= 0 || !InRange(x) || !InRange(y) || !InRange(width) || !InRange(height)) return p;
    p.known = true;
    p.x = x;
    p.y = y;
    p.width = width;
    p.height = height;
    p.maximized = maximized;
    return p;
}

PlacementPlan PlanPlacement(const WindowPlacement& stored, const std::vector<ScreenRect>& work_areas, int default_width,
                            int default_height, int min_width, int min_height) {
    PlacementPlan plan;
    plan.width = default_width;
    plan.height = default_height;
    std::vector<ScreenRect> areas;
    for (const ScreenRect& a : work_areas) {
        if (a.width > 0 && a.height > 0) areas.push_back(a);
    }
    if (!stored.known) {
        // A first start on a small screen: the window still fits.
        if (!areas.empty()) {
            plan.width = std::min(default_width, areas.front().width);
            plan.height = std::min(default_height, areas.front().height);
        }
        return plan;
    }
    plan.maximized = stored.maximized;
    if (areas.empty()) {
        plan.width = stored.width;
        plan.height = stored.height;
        return plan;
    }

    const ScreenRect* best = nullptr;
    int64_t best_area = 0;
    for (const ScreenRect& a : areas) {
        const int64_t w = OverlapWidth(a, stored.x, stored.width);
        const int64_t h = OverlapHeight(a, stored.y, stored.height);
        if (w < kMinVisible || h < kMinVisible) continue;
        if (w * h > best_area) {
            best_area = w * h;
            best = &a;
        }
    }
    const ScreenRect& area = best ? *best : areas.front();
    plan.width = Fit(stored.width, std::min(min_width, area.width), area.width);
    plan.height = Fit(stored.height, std::min(min_height, area.height), area.height);
    if (!best) return plan;  // centred on the primary monitor
    plan.center = false;
    plan.x = Fit(stored.x, area.x, area.x + area.width - plan.width);
    plan.y = Fit(stored.y, area.y, area.y + area.height - plan.height);
    return plan;
}

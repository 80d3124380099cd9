#include "app/geometry.h"

#include "app/app_state.h"

float DpiScaleFrom(double dpi) {
    if (!(dpi > 0.0)) dpi = 96.0;
    return static_cast<float>(dpi / 96.0);
}

void SetDpiScale(double dpi_x, double dpi_y) {
    AppState.dpi_scale_x = DpiScaleFrom(dpi_x);
    AppState.dpi_scale_y = DpiScaleFrom(dpi_y);
}

ScreenRect CenterInside(int width, int height, const ScreenRect& anchor, const ScreenRect& work) {
    ScreenRect r;
    r.width = width;
    r.height = height;
    r.x = anchor.x + (anchor.width - width) / 2;
    r.y = anchor.y + (anchor.height - height) / 2;
    if (r.x + width > work.x + work.width) r.x = work.x + work.width - width;
    if (r.y + height > work.y + work.height) r.y = work.y + work.height - height;
    if (r.x < work.x) r.x = work.x;
    if (r.y < work.y) r.y = work.y;
    return r;
}

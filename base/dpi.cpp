#include "base/dpi.h"

#include "base/app_state.h"

float DpiScaleFrom(double dpi) {
    if (!(dpi > 0.0)) dpi = 96.0;
    return static_cast<float>(dpi / 96.0);
}

double MonitorDpi(int logical_pixels, int size_mm) {
    if (logical_pixels <= 0 || size_mm <= 0) return 0.0;
    return logical_pixels * 25.4 / size_mm;
}

void SetDpiScale(double dpi_x, double dpi_y) {
    AppState.dpi_scale_x = DpiScaleFrom(dpi_x);
    AppState.dpi_scale_y = DpiScaleFrom(dpi_y);
}

// DPI scale factors as plain arithmetic, checkable without a display.
#pragma once

// Scale factor of a screen resolution in dots per inch (96 is 1.0), in single
// precision. A resolution that is unknown or nonsensical (<= 0) counts as 96.
float DpiScaleFrom(double dpi);

// Sets AppState.dpi_scale_x/_y from horizontal and vertical resolutions.
void SetDpiScale(double dpi_x, double dpi_y);

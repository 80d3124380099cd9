// DPI scale factors as plain arithmetic, checkable without a display.
#pragma once

// Scale factor of a screen resolution in dots per inch (96 is 1.0), in single
// precision. A resolution that is unknown or nonsensical (<= 0) counts as 96.
float DpiScaleFrom(double dpi);

// Resolution of a monitor in the desktop's logical pixels per inch: its
// width or height in the pixels windows are sized in (GTK's application
// pixels, which the desktop scale then multiplies) over its size in
// millimetres. 0 when the size is unknown (<= 0), as monitors without EDID
// report. At desktop scale 2 a monitor of 3840 device pixels is 1920 logical
// pixels: taking device pixels here would double every window the program
// sizes from it, on top of the desktop's own doubling.
double MonitorDpi(int logical_pixels, int size_mm);

// Sets AppState.dpi_scale_x/_y from horizontal and vertical resolutions.
void SetDpiScale(double dpi_x, double dpi_y);

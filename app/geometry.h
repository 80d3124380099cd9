// Window placement and DPI scaling, as plain arithmetic so that it can be
// checked without a display.
#pragma once

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Scale factor of a screen resolution in dots per inch (96 is 1.0). A
// resolution that is unknown or nonsensical (<= 0) counts as 96.
float DpiScaleFrom(double dpi);

// Sets AppState.dpi_scale_x/_y from horizontal and vertical resolutions.
void SetDpiScale(double dpi_x, double dpi_y);

// Position of a window of width x height centred on `anchor` and then moved
// back inside `work`: the right and bottom edges are fitted first, so when the
// window is larger than the work area its left and top edges win.
ScreenRect CenterInside(int width, int height, const ScreenRect& anchor, const ScreenRect& work);

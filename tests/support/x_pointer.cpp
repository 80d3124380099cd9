#include "tests/support/x_pointer.h"

#include <X11/Xlib.h>

namespace vorta_test {

bool MovePointerOutOfTheWay() {
    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) return false;
    const int screen = DefaultScreen(dpy);
    XWarpPointer(dpy, None, RootWindow(dpy, screen), 0, 0, 0, 0, DisplayWidth(dpy, screen) - 1,
                 DisplayHeight(dpy, screen) - 1);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return true;
}

}  // namespace vorta_test

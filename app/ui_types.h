// The engine types the shell and its controllers pass around: the window
// that shows a page, a handle to one element of it, and a behaviour event
// (code, target element). Controllers spell them through these names only.
#pragma once

namespace ui {
class Window;
class Element;
struct BehaviorEvent;
}  // namespace ui

using WindowHandle = ui::Window*;
using ElementHandle = ui::Element;
using EventParams = ui::BehaviorEvent;

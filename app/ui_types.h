// The engine types the shell and its controllers pass around: the window
// that shows a page (its id, which stays valid and safe to hold after the
// window is gone), a handle to one element of a page, and a behaviour event
// (code, target element and its id).
#pragma once

#include "ui_engine/element.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

using WindowHandle = ui::WindowId;
using ElementHandle = ui::Element;
using EventParams = ui::BehaviorEvent;

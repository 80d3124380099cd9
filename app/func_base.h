// The page controller interface.
//
// A window or dialog that hosts an HTML page hands every behaviour event of
// that page to its controllers; each controller looks at the event code and
// the target element's "id" and acts on its own ids only. Controllers never
// stop the walk and never mark an event handled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/ui_types.h"

// Behaviour event codes delivered to on_event (the engine's BUTTON_CLICK and
// SELECT_SELECTION_CHANGED).
constexpr uint32_t kEventClick = ui::BUTTON_CLICK;                     // 0: button click
constexpr uint32_t kEventSelectChange = ui::SELECT_SELECTION_CHANGED;  // 5: <select> changed

class func_base {
public:
    virtual ~func_base() = default;

    // Slot 0: the host's page has loaded; called before any event. `window`
    // is the id of the window showing the page (use it with ui::FindById,
    // ui::FindInFrame, ui::PostWindowMessage). Derived classes store it first
    // (call func_base::on_init) and then do their own set-up.
    virtual void on_init(WindowHandle window) { window_ = window; }
    // Slot 1: teardown; release what on_init acquired.
    virtual void on_release() {}
    // Slot 2: never called by the shell.
    virtual void reserved() {}
    // Slot 3: one behaviour event of the page. `element` is the element the
    // handler belongs to (the page root); `params` carries the code
    // (params.cmd), the target (params.target) and its id (params.target_id).
    virtual void on_event(const ElementHandle& element, const EventParams& params) = 0;

    WindowHandle window() const { return window_; }

protected:
    WindowHandle window_{};
};

// The "id" attribute of the event's target; "" when it has none.
std::string TargetId(const EventParams& params);

// True when the event is `code` on a target whose id is exactly `id`.
bool IsEvent(const EventParams& params, uint32_t code, const char* id);

// Hands one event to every controller of a page, in list order. No
// controller can stop the walk; the event is never reported handled, so the
// result is always false.
bool RouteToControllers(const std::vector<func_base*>& controllers, const ElementHandle& element,
                        const EventParams& params);

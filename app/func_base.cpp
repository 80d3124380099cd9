#include "app/func_base.h"

std::string TargetId(const EventParams& params) {
    // The engine records the target's "id" when the event happens ("" for an
    // element without one), so no page round trip is needed here.
    return params.target_id;
}

bool IsEvent(const EventParams& params, uint32_t code, const char* id) {
    return params.cmd == code && params.target_id == id;
}

bool RouteToControllers(const std::vector<func_base*>& controllers, const ElementHandle& element,
                        const EventParams& params) {
    for (func_base* controller : controllers) controller->on_event(element, params);
    return false;
}

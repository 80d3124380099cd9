#include "divesite/dive_site_func.h"

void DiveSiteFunc::on_event(const ElementHandle&, const EventParams&) {}

void DiveSiteFunc::on_map_mouse_position() {}
void DiveSiteFunc::on_map_center() {}
void DiveSiteFunc::on_map_marker_dragged() {}
void DiveSiteFunc::rebuild_browser() {}

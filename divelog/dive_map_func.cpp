#include "divelog/dive_map_func.h"

void DiveMapFunc::on_event(const ElementHandle&, const EventParams&) {}

void DiveMapFunc::reload_chart() {}
void DiveMapFunc::rebuild_browser() {}

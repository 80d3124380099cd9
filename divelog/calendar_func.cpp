#include "divelog/calendar_func.h"

void CalendarFunc::on_event(const ElementHandle&, const EventParams&) {}

void CalendarFunc::reload() {}

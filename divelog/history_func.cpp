#include "divelog/history_func.h"

void HistoryFunc::on_event(const ElementHandle&, const EventParams&) {}

void HistoryFunc::reload() {}

#include "update/update_func.h"

void UpdateFunc::on_event(const ElementHandle&, const EventParams&) {}


#include "sync/upload_func.h"

void UploadFunc::on_event(const ElementHandle&, const EventParams&) {}


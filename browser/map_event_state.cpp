#include "browser/map_event_state.h"

MapEventStateRecord MapEventState;

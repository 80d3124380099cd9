#include "base/app_state.h"

AppStateRecord AppState;

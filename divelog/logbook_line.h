// The dive-log controllers' side of the logbook store: the signed-in
// account's store, and the page's message line while the logbook is offline.
#pragma once

#include "app/ui_types.h"
#include "divelog/logbook_browse.h"

// The store of the signed-in account (opened on first use); null without one.
// When a damaged file had to be set aside, the message line says so once.
vorta_divelog::LogbookStore* SessionLogbook(WindowHandle window);

// After a store-first read: on the cloud's answer an offline line goes away;
// when only the stored copy could be shown, the line says that the logbook
// is offline and when it was last refreshed. True when either happened (the
// caller has nothing more to report).
bool ShowLogbookState(WindowHandle window, const vorta_divelog::StoreFirstRead& read);

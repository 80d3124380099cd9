// The automation channel: a Unix socket that lets tests and tools drive the
// running program (list windows, click, set and read values, wait for a page,
// snapshot). Protocol: ui_engine/AUTOMATION.md. Off unless started.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>

namespace ui {

class HostWindow;

// Listens on `socket_path` (an existing file there is replaced; the socket is
// made with mode 0600). Served from the UI thread's main loop; never blocks
// it. Call after InitEngine. Returns false when the socket cannot be made.
bool StartAutomation(const std::string& socket_path);

// Starts the channel when the environment variable VORTA_AUTOMATION_SOCKET
// names a path; otherwise does nothing. Returns true when the channel runs.
bool StartAutomationFromEnv();

// Closes the channel and removes its socket file.
void StopAutomation();

// A command added by a layer above the engine (e.g. raising a script page's
// event when the page is not there). It runs on the UI thread like every
// command, with the window the request names (as element commands pick it)
// and the request; what it returns is the answer ({"ok":true, ...} or
// {"ok":false,"error":...}). A built-in command of the same name wins; adding
// a name again replaces the earlier handler, a null handler removes it.
using AutomationCommand = std::function<Json::Value(HostWindow& window, const Json::Value& request)>;
void AddAutomationCommand(const std::string& name, AutomationCommand handler);

}  // namespace ui

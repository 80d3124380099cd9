// The automation channel: a Unix socket that lets tests and tools drive the
// running program (list windows, click, set and read values, wait for a page,
// snapshot). Protocol: ui_engine/AUTOMATION.md. Off unless started.
#pragma once

#include <string>

namespace ui {

// Listens on `socket_path` (an existing file there is replaced; the socket is
// made with mode 0600). Served from the UI thread's main loop; never blocks
// it. Call after InitEngine. Returns false when the socket cannot be made.
bool StartAutomation(const std::string& socket_path);

// Starts the channel when the environment variable VORTA_AUTOMATION_SOCKET
// names a path; otherwise does nothing. Returns true when the channel runs.
bool StartAutomationFromEnv();

// Closes the channel and removes its socket file.
void StopAutomation();

}  // namespace ui

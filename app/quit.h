// Ending the program from outside: a desktop logout (SIGTERM) or Ctrl-C in a
// terminal (SIGINT) ends it the way a user would, on the main loop: a sync in
// progress stops as its Cancel does (the device link is ended), the open
// dialogs close with their "no"/"leave" answer, the main window closes and
// the process exits normally (its automation socket removed). Work that must
// not be cut short (an update writing to the device) finishes first.
#pragma once

// Handles SIGTERM and SIGINT on the UI thread's main loop from now on.
void InstallQuitSignals();

// What the signals do: asks every running dialog to close and marks the
// program as ending. UI thread.
void RequestQuit();

// True once the program was asked to end. Any thread.
bool QuitRequested();

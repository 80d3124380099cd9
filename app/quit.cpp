#include "app/quit.h"

#include <glib-unix.h>

#include <atomic>
#include <csignal>
#include <vector>

#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

std::atomic<bool> g_quit{false};

gboolean OnSignal(gpointer) {
    RequestQuit();
    return G_SOURCE_CONTINUE;  // a second signal finds the same way out
}

}  // namespace

void InstallQuitSignals() {
    g_unix_signal_add(SIGTERM, OnSignal, nullptr);
    g_unix_signal_add(SIGINT, OnSignal, nullptr);
}

void RequestQuit() {
    g_quit = true;
    // Innermost first, as a user would close them. A dialog that only its
    // worker may end (the progress dialog) refuses; its worker sees
    // QuitRequested through the dialog's cancel and ends it.
    std::vector<ui::WindowInfo> windows = ui::ListWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (!it->modal) continue;
        if (ui::HostWindow* w = ui::FindWindow(it->id)) w->Close();
    }
}

bool QuitRequested() {
    return g_quit.load();
}

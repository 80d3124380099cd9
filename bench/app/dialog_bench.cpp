// Time for a page dialog to come up: from the call that shows it to the
// moment it is visible and modal with its page filled. Prints the first show
// and the median of the following ones.
#include <glib.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "app/html_dlg.h"
#include "app/settings/lang_table.h"
#include "base/paths.h"
#include "ui_engine/ui_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Probe {
    Clock::time_point start;
    double up_ms = -1;
};

// Idle callback: as soon as the message dialog is modal, note the time and
// answer it.
gboolean Watch(gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    for (const ui::WindowInfo& w : ui::ListWindows()) {
        if (w.modal && w.visible && w.page_file == "msg.htm") {
            probe->up_ms = std::chrono::duration<double, std::milli>(Clock::now() - probe->start).count();
            if (ui::HostWindow* host = ui::FindWindow(w.id)) host->EndDialog(1);
            return G_SOURCE_REMOVE;
        }
    }
    return G_SOURCE_CONTINUE;
}

double ShowOnce(int i) {
    Probe probe;
    guint source = g_idle_add_full(G_PRIORITY_LOW, Watch, &probe, nullptr);
    probe.start = Clock::now();
    ShowMsgDlg("Dialog " + std::to_string(i), "second line");
    if (probe.up_ms < 0) g_source_remove(source);
    return probe.up_ms;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    char tmpl[] = "/tmp/vorta-dialog-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    setenv("HOME", tmpl, 1);
    setenv("XDG_CONFIG_HOME", tmpl, 1);
    setenv("VORTA_PROGRAM_DIR", VORTA_BIN_DIR, 1);
    LoadLangTable(std::string(VORTA_BIN_DIR) + "/string.json");
    UpdatePageDir();
    if (!ui::InitEngine(VORTA_BIN_DIR)) {
        std::printf("no display\n");
        return 1;
    }
    double first = ShowOnce(0);
    std::vector<double> later;
    for (int i = 1; i <= runs; ++i) {
        double t = ShowOnce(i);
        if (t >= 0) later.push_back(t);
    }
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    if (later.empty()) return 1;
    std::sort(later.begin(), later.end());
    std::printf("message dialog, first show: %.1f ms\n", first);
    std::printf("message dialog, later shows: median %.1f ms (min %.1f, max %.1f, %zu shows; goal < 30 ms)\n",
                later[later.size() / 2], later.front(), later.back(), later.size());
    return 0;
}

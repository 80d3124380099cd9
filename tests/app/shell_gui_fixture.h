// Set-up of the shell's window tests: a private settings folder, the pages
// and "string.json" of the build's runtime folder, the engine serving them.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <string>

#include "base/app_state.h"
#include "app/settings/lang_table.h"
#include "base/paths.h"
#include "app/settings/settings_store.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

class ShellGuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static std::string home;
        if (home.empty()) {
            char tmpl[] = "/tmp/vorta-shell-test-XXXXXX";
            ASSERT_NE(mkdtemp(tmpl), nullptr);
            home = tmpl;
        }
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("VORTA_PROGRAM_DIR", VORTA_BIN_DIR, 1);
        ASSERT_TRUE(ui::InitEngine(VORTA_BIN_DIR)) << "no display";
    }

    void SetUp() override {
        // Every test starts in English and metric, with no settings file.
        remove(SettingsStore::DefaultPath().c_str());
        LoadLangTable(std::string(VORTA_BIN_DIR) + "/string.json");
        LoadSettings();
        UpdatePageDir();
        AppState.dpi_scale_x = AppState.dpi_scale_y = 1.0f;
    }

    // Runs `fn` with the window id once a modal dialog showing `page_file`
    // is up (polled from the main loop, so it also runs inside nested modal
    // loops). Gives up after 60 s.
    static void WhenDialog(const std::string& page_file, std::function<void(ui::WindowId)> fn) {
        struct Watch {
            std::string page;
            std::function<void(ui::WindowId)> fn;
            gint64 deadline = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
        };
        auto* w = new Watch{page_file, std::move(fn)};
        g_timeout_add(
            10,
            [](gpointer p) -> gboolean {
                auto* w = static_cast<Watch*>(p);
                for (const ui::WindowInfo& info : ui::ListWindows()) {
                    if (info.modal && info.page_file == w->page) {
                        w->fn(info.id);
                        delete w;
                        return G_SOURCE_REMOVE;
                    }
                }
                if (g_get_monotonic_time() < w->deadline) return G_SOURCE_CONTINUE;
                delete w;
                return G_SOURCE_REMOVE;
            },
            w);
    }

    static bool AnyModal() {
        for (const ui::WindowInfo& info : ui::ListWindows()) {
            if (info.modal) return true;
        }
        return false;
    }

    static void Settle(int ms = 100) {
        bool never = false;
        ui::RunLoopUntil([&] { return never; }, ms);
    }
};

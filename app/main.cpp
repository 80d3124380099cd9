// Process entry of VORTA PC TOOL.
//
// Order: text table, engine (GTK, web context, automation channel when
// asked for), settings, page folder, DPI scale, sign-in gate, main window,
// main loop until the main window is gone.
//
// Test hooks (environment):
//   VORTA_SKIP_SIGNIN=1      open the main window without the sign-in dialog
//   VORTA_AUTOMATION_SOCKET  Unix socket path of the automation channel
//   VORTA_PROGRAM_DIR        folder holding string.json and the page folders
//   VORTA_DPI                screen resolution to use instead of the screen's
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/app_state.h"
#include "base/dpi.h"
#include "app/desktop_scheme.h"
#include "app/html_dlg.h"
#include "app/login_dlg.h"
#include "app/main_frame.h"
#include "app/quit.h"
#include "app/settings/lang_table.h"
#include "base/paths.h"
#include "app/settings/settings_store.h"
#include "pages/page_manifest.h"
#include "ui_engine/automation.h"
#include "ui_engine/ui_engine.h"

namespace {

bool EnvIsOne(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && std::string(v) == "1";
}

// Test hook: a fixed resolution instead of the screen's.
void ApplyDpiOverride() {
    const char* v = std::getenv("VORTA_DPI");
    if (v == nullptr || *v == '\0') return;
    double dpi = std::atof(v);
    if (dpi > 0.0) SetDpiScale(dpi, dpi);
}

const char kUsage[] =
    "Usage: vorta-pc-tool [--help | --version]\n"
    "\n"
    "The companion program of the VORTA dive computer: syncs the dive computer's\n"
    "log memory to your cloud account, browses your dives and manages dive sites.\n"
    "Without options it opens its window.\n"
    "\n"
    "Files (in $XDG_CONFIG_HOME/VORTA PC TOOL, ~/.config by default):\n"
    "  settings.json  units, language and the remembered e-mail address (the\n"
    "                 password and token too when no desktop keyring runs)\n"
    "  config.json    cloud_host, ca_file, device_port; the environment variables\n"
    "                 VORTA_CLOUD_HOST, VORTA_CA_FILE, VORTA_DEVICE_PORT override them\n";

// Options are answered before anything else starts, so they work without a
// display. Returns the exit status, or -1 to go on and open the window.
int AnswerOptions(int argc, char** argv) {
    if (argc < 2) return -1;
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("vorta-pc-tool %s\n", VORTA_VERSION);
        return 0;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "vorta-pc-tool: unknown option '%s'\n\n%s", argv[1], kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnswerOptions(argc, argv); status >= 0) return status;
    const std::string program_dir = ProgramDir();
    LoadLangTable(program_dir + "/string.json");

    PrepareEngineForColorScheme();
    if (!ui::InitEngine(program_dir)) return -1;
    ui::StartAutomationFromEnv();
    InstallQuitSignals();
    FollowDesktopColorScheme();

    LoadSettings();
    UpdatePageDir();
    const ui::ScreenResolution screen = ui::ScreenDpi();
    SetDpiScale(screen.dpi_x, screen.dpi_y);
    ApplyDpiOverride();

    // Leaving the sign-in page (result 0) ends the program before any main
    // window.
    const bool signed_in = EnvIsOne("VORTA_SKIP_SIGNIN") || HtmlDlg(std::make_unique<LoginDlg>()).DoModal(0) != 0;
    if (signed_in && !QuitRequested()) {
        main_frame frame;
        if (frame.create(PagePath(pages::main::kFile)))
            ui::RunLoopUntil([&frame] { return frame.closed() || QuitRequested(); });
        // Asked to end: the window goes with `frame`, its controllers
        // released as on a close.
    }
    ui::StopAutomation();
    return 0;
}

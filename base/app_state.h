// The one process-wide record of settings, session and device identity.
//
// Written on the UI thread at start-up, at sign-in and on a settings save;
// worker threads only read it while they run (thread start and join are the
// hand-over), so it carries no lock.
#pragma once

#include <cstdint>
#include <string>

struct AppStateRecord {
    // Settings.
    int32_t unit = 0;          // 0 metric, 1 imperial
    std::string language;      // "ENG" or "CHT"; set once the text table is loaded
    std::string page_dir;      // folder of the current language's pages, ends with "/"
    float dpi_scale_x = 1.0f;  // screen DPI / 96
    float dpi_scale_y = 1.0f;

    // Session.
    std::string email;
    std::string password;
    std::string user_id;
    std::string token;
    std::string user_name;
    std::string profile_image_path;
    // Opened with "Continue offline": the cloud could not be reached at
    // sign-in and the main window shows this account's stored logbook. Sync,
    // updates, editing and the site search need a connection meanwhile;
    // the next successful cloud answer ends it.
    bool offline_session = false;

    // Identity of the connected dive computer.
    std::string firmware_version_text = "0.000";
    uint32_t info_value = 0;
    std::string model = "K7";
};

extern AppStateRecord AppState;

// Logical pixels to device pixels, truncated toward zero.
inline int ScaleX(int logical) {
    return static_cast<int>(static_cast<float>(logical) * AppState.dpi_scale_x);
}
inline int ScaleY(int logical) {
    return static_cast<int>(static_cast<float>(logical) * AppState.dpi_scale_y);
}

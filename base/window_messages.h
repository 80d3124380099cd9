// The program's private window messages, posted with ui::PostWindowMessage
// and delivered on the UI thread to the window they were posted to.
#pragma once

#include <cstdint>

constexpr uint32_t kMsgMapLoaded = 2024;         // the map page has loaded
constexpr uint32_t kMsgMapMousePosition = 2025;  // mouse position over the map
constexpr uint32_t kMsgMapCenter = 2026;         // answer to "getCenter"
constexpr uint32_t kMsgMapMarkerDragged = 2027;  // a dive-site marker was dragged
constexpr uint32_t kMsgStatisticsReload = 2028;  // the statistics should reload
constexpr uint32_t kMsgSettingsChanged = 2029;   // wParam: the Settings dialog's result
constexpr uint32_t kMsgSocialSignIn = 3024;      // the social sign-in browser finished a navigation

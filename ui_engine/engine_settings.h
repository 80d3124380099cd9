// The web engine's settings for the program's processes, in one place for the
// engine and for the memory benchmark's engine floor, which must run the
// engine exactly as the program does (bench/app/engine_floor.cpp).
#pragma once

#include <webkit2/webkit2.h>

#include <cstdlib>

namespace ui {

// Through the environment, before GTK opens the display: for this process
// and the web processes it starts. Values the user set win.
inline void SetEngineEnvironment() {
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    // The UI process never draws with GL (no compositing): these keep GDK
    // (picking GL visuals as it opens the display) and WebKit's UI side
    // (looking for a render device and buffer formats for the web process)
    // from loading the GL driver, which on Mesa brings its LLVM compiler:
    // ~15 MB and 50-150 ms of start-up. A render device named up front is
    // never opened while the DMA-BUF renderer is off. The web process still
    // loads the driver for its own drawing.
    setenv("GDK_GL", "disable", 0);
    setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 0);
    // The web processes run the pages' scripts with the script engine's
    // interpreter alone. Its compilers, the code they make and the memory
    // they reserve cost ~7 MB with a dive open (~2.5 MB of it in any web
    // process, even one that runs no script). Our pages' scripts are small
    // and run on events; the heaviest of them stay within their goals
    // without the compilers, if slower: the basemap drawn in ~120 ms instead
    // of ~70 (bench/browser/script_pages_bench), a 2-hour chart in ~13 ms
    // instead of ~8, the edit dialog with its map shown in ~150 ms instead
    // of ~70 (bench/divelog/edit_bench).
    setenv("JSC_useJIT", "false", 0);
}

// A web context with the program's memory settings. The web processes
// release what they hold without need (a full collection of their script
// heaps, the engine's caches) whenever their footprint passes a share of
// the limit, looked at every few seconds: a long session, one dive after
// another, stays near what its pages reference instead of growing until the
// next collection the engine would have chosen. At 80 MB the conservative
// share (26 MB) is passed once the main page is up, so its idle web process
// drops its caches and gives its freed heap back (~1 MB,
// bench/app/dive_memory_bench); the strict share (40 MB), which would also
// throw away compiled code every few seconds, is not reached with a dive
// open. No process is ever ended for its size.
inline WebKitWebContext* NewEngineContext() {
    WebKitMemoryPressureSettings* pressure = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(pressure, 80);  // MB
    webkit_memory_pressure_settings_set_conservative_threshold(pressure, 0.33);
    webkit_memory_pressure_settings_set_strict_threshold(pressure, 0.5);
    webkit_memory_pressure_settings_set_kill_threshold(pressure, 0);
    webkit_memory_pressure_settings_set_poll_interval(pressure, 5);
    auto* context =
        WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", pressure, nullptr));
    webkit_memory_pressure_settings_free(pressure);
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    return context;
}

}  // namespace ui

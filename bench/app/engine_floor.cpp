// The engine's own floor for the memory benchmark: the least a program of the
// same engine costs. One window, one web view showing a small static page,
// with the engine settings the program uses (ui_engine/engine_settings.h: no
// GL in the UI process, no compositing, the script engine without its
// compilers, the document-viewer cache model, the same memory-pressure
// settings). Prints "READY" once the page has loaded, then runs until
// SIGTERM.
//   bin/app_engine_floor [width height]
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "ui_engine/engine_settings.h"
#include "ui_engine/malloc_tuning.h"

namespace {

const char* const kPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>floor</title></head>"
    "<body><p>A small static page.</p></body></html>";

void OnLoad(WebKitWebView*, WebKitLoadEvent event, gpointer) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    std::printf("READY\n");
    std::fflush(stdout);
}

gboolean OnTerm(gpointer) {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    ui::TuneMalloc();
    ui::SetEngineEnvironment();
    setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "/nonexistent", 0);
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    const int width = argc > 2 ? std::atoi(argv[1]) : 980, height = argc > 2 ? std::atoi(argv[2]) : 700;
    WebKitWebContext* context = ui::NewEngineContext();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr));
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoad), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    g_unix_signal_add(SIGTERM, OnTerm, nullptr);
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), kPage, "about:blank");
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}

#include "browser/print_page.h"

#include <gtk/gtk.h>
#include <json/value.h>
#include <json/writer.h>
#include <webkit2/webkit2.h>

#include "base/paths.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

constexpr int kLoadTimeoutMs = 20000;
// The page lays out at the paper's printable width (the page's margins are
// 12 mm), at 96 pixels to the inch, so that the chart and the map are drawn
// at the size they are printed.
constexpr double kMarginsMm = 2 * 12.0;
constexpr double kPixelsPerMm = 96.0 / 25.4;

// fn.apply(null, [args...]) with the arguments as JSON strings.
std::string CallScript(const vorta_browser::MapScriptCall& call) {
    Json::Value args(Json::arrayValue);
    for (const std::string& a : call.args) args.append(a);
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    Json::Value name(call.function);
    return "(function(){var f=window[" + Json::writeString(w, name) + "];if(typeof f==='function')f.apply(null," +
           Json::writeString(w, args) + ");return 'ok';})()";
}

// Evaluates `script` and waits for its result as text ("" on failure).
std::string Evaluate(WebKitWebView* view, const std::string& script) {
    struct Result {
        bool done = false;
        std::string text;
    } result;
    webkit_web_view_evaluate_javascript(
        view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            auto* r = static_cast<Result*>(data);
            GError* error = nullptr;
            JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
            if (v) {
                if (jsc_value_is_string(v)) {
                    gchar* s = jsc_value_to_string(v);
                    r->text = s;
                    g_free(s);
                }
                g_object_unref(v);
            }
            if (error) g_error_free(error);
            r->done = true;
        },
        &result);
    // The callback refers to `result`: wait for it however long it takes.
    ui::RunLoopUntil([&result] { return result.done; });
    return result.text;
}

}  // namespace

PrintResult PrintScriptPage(const PrintRequest& request) {
    GtkPaperSize* paper = gtk_paper_size_new(nullptr);  // the locale's default: A4 or Letter
    const int width_px = static_cast<int>((gtk_paper_size_get_width(paper, GTK_UNIT_MM) - kMarginsMm) * kPixelsPerMm);
    const int height_px = static_cast<int>((gtk_paper_size_get_height(paper, GTK_UNIT_MM) - kMarginsMm) * kPixelsPerMm);
    GtkWidget* offscreen = gtk_offscreen_window_new();
    gtk_window_set_default_size(GTK_WINDOW(offscreen), width_px, height_px);
    // The engine's context: it serves the program's pages (app://local/).
    GtkWidget* view_widget = ui::NewEngineWebView();
    if (!view_widget) {
        gtk_widget_destroy(offscreen);
        gtk_paper_size_free(paper);
        return PrintResult::kFailed;
    }
    WebKitWebView* view = WEBKIT_WEB_VIEW(view_widget);
    gtk_widget_set_size_request(view_widget, width_px, height_px);
    gtk_container_add(GTK_CONTAINER(offscreen), view_widget);
    gtk_widget_show_all(offscreen);

    bool loaded = false;
    const gulong load_handler =
        g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
                             if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
                         }),
                         &loaded);
    webkit_web_view_load_uri(view, (ui::PageUrl(PagePath(request.script_page)) + "?print=1").c_str());
    const bool page_ready = ui::RunLoopUntil([&loaded] { return loaded; }, kLoadTimeoutMs);
    g_signal_handler_disconnect(view, load_handler);

    PrintResult result = PrintResult::kFailed;
    if (page_ready) {
        for (const auto& call : request.calls) Evaluate(view, CallScript(call));
        // The map draws its basemap asynchronously; the page marks it.
        const gint64 deadline = g_get_monotonic_time() + kLoadTimeoutMs * 1000LL;
        while (Evaluate(view, "document.body.getAttribute('data-map')||''") != "ready" &&
               g_get_monotonic_time() < deadline)
            ui::RunLoopUntil([] { return false; }, 50);  // a pause, the main loop running
        // One frame more, so that what was drawn last is on the page.
        Evaluate(
            view,
            "new Promise(function(r){requestAnimationFrame(function(){requestAnimationFrame(function(){r('ok')})})})");

        WebKitPrintOperation* op = webkit_print_operation_new(view);
        GtkPageSetup* setup = gtk_page_setup_new();
        gtk_page_setup_set_paper_size(setup, paper);
        webkit_print_operation_set_page_setup(op, setup);
        GtkPrintSettings* settings = gtk_print_settings_new();
        gtk_print_settings_set_paper_size(settings, paper);
        if (!request.pdf_file.empty()) {
            gchar* uri = g_filename_to_uri(request.pdf_file.c_str(), nullptr, nullptr);
            gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_PRINTER, "Print to File");
            gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
            if (uri) gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, uri);
            g_free(uri);
        }
        webkit_print_operation_set_print_settings(op, settings);

        struct Outcome {
            bool done = false;
            bool failed = false;
        } outcome;
        g_signal_connect(op, "failed", G_CALLBACK(+[](WebKitPrintOperation*, GError*, gpointer o) {
                             static_cast<Outcome*>(o)->failed = true;
                         }),
                         &outcome);
        g_signal_connect(op, "finished",
                         G_CALLBACK(+[](WebKitPrintOperation*, gpointer o) { static_cast<Outcome*>(o)->done = true; }),
                         &outcome);
        bool started = true;
        if (request.pdf_file.empty()) {
            ui::HostWindow* parent = ui::FindWindow(request.parent);
            GtkWidget* top = parent ? parent->gtk_window() : nullptr;
            const WebKitPrintOperationResponse answer =
                webkit_print_operation_run_dialog(op, top ? GTK_WINDOW(top) : nullptr);
            started = answer == WEBKIT_PRINT_OPERATION_RESPONSE_PRINT;
            if (!started) result = PrintResult::kCancelled;
        } else {
            webkit_print_operation_print(op);
        }
        if (started) {
            // "finished" comes after the last page has been written; the
            // callbacks refer to `outcome`, so wait for it.
            ui::RunLoopUntil([&outcome] { return outcome.done; });
            result = outcome.failed ? PrintResult::kFailed : PrintResult::kPrinted;
        }
        g_signal_handlers_disconnect_by_data(op, &outcome);
        g_object_unref(settings);
        g_object_unref(setup);
        g_object_unref(op);
    }
    gtk_widget_destroy(offscreen);
    gtk_paper_size_free(paper);
    return result;
}

// Time for a colour scheme change to reach the screen while the main page
// shows a dive (values, depth profile and map): from the change of GTK's
// prefer-dark setting (what the program does when the desktop's scheme
// changes) until every document of the page (main page, both frame pages,
// the dive detail) has drawn a frame in the new scheme, by the page's own
// clock (the bench's polling adds nothing). Prints the median and the
// slowest of the switches, and where the time goes.
//
//   xvfb-run -a -s "-screen 0 1280x800x24 -noreset" bin/desktop_scheme_switch_bench [switches]
#include <gtk/gtk.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

// Every document of the page counts its repaints after a scheme change: the
// change handler waits for the next animation frame, and a task queued from
// it runs once that frame (the first in the new scheme) has been drawn.
const char kProbe[] = R"JS((function () {
  window.__painted = 0;
  window.__log = [];
  function watch(win) {
    win.matchMedia('(prefers-color-scheme: dark)').addEventListener('change', function () {
      var e = [win.location.pathname, Date.now()];
      win.requestAnimationFrame(function () {
        e.push(Date.now());
        win.setTimeout(function () { e.push(Date.now()); window.__log.push(e); window.__painted++; }, 0);
      });
    });
    for (var i = 0; i < win.frames.length; i++) watch(win.frames[i]);
  }
  watch(window);
  var n = 0;
  (function count(win) { n++; for (var i = 0; i < win.frames.length; i++) count(win.frames[i]); })(window);
  return String(n);
})())JS";

std::string Profile() {
    std::string doc = "[";
    for (int i = 0; i <= 600; ++i) {
        const double t = i * 5.0;
        const double depth = i < 60 ? i * 0.5 : i > 540 ? (600 - i) * 0.5 : 30.0 + 2.0 * ((i / 20) % 3);
        doc += (i ? "," : "") + std::string("[") + std::to_string(t) + "," + std::to_string(depth) + "]";
    }
    return doc + "]";
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "", 1);  // as on a desktop with a colour scheme
    if (!ui::InitEngine(VORTA_BIN_DIR)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    ui::WindowOptions options;
    options.width = 980;
    options.height = 700;
    ui::HostWindow win(options);
    if (!win.LoadPage(std::string(VORTA_BIN_DIR) + "/ENG/main.htm")) return 1;
    win.Show();
    // The dive detail in the dive-log frame, as the program shows it.
    win.Evaluate(
        "(function(){var d=document.getElementById('framepage1').contentDocument;"
        "d.getElementById('ie').innerHTML='<iframe id=\"ie_page\" src=\"web_html/main.htm\"></iframe>';"
        "return ''})()");
    const char* detail = "document.getElementById('framepage1').contentDocument.getElementById('ie_page')";
    ui::RunLoopUntil(
        [&] {
            return win.Evaluate(std::string("String(!!(") + detail + ".contentWindow.setDiveChart && " + detail +
                                ".contentDocument.readyState==='complete'))") == "true";
        },
        10000);
    win.Evaluate(std::string("(function(){var w=") + detail +
                 ".contentWindow;w.setDiveValue('{\"value\":{\"log_max_depth\":\"31.5\"}}');w.setDiveChart('0','" +
                 Profile() + "');return ''})()");
    const int documents = std::atoi(win.Evaluate(kProbe).c_str());

    // Per switch: the whole time (until the last document's first frame in
    // the new scheme, by the page's own clock), the time GTK spends in the
    // setting change itself (its theme is reloaded before WebKit is told),
    // and the time until the first document hears of the change.
    std::vector<double> ms, set_ms, heard_ms;
    bool dark = false;
    for (int i = 0; i < runs; ++i) {
        bool never = false;
        ui::RunLoopUntil([&] { return never; }, 300);  // let the page settle
        win.Evaluate("window.__painted=0,window.__log=[],''");
        dark = !dark;
        const double start_wall = static_cast<double>(g_get_real_time()) / 1000.0;
        const Clock::time_point start = Clock::now();
        g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
        set_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        const bool done = ui::RunLoopUntil(
            [&] { return std::atoi(win.Evaluate("String(window.__painted)").c_str()) >= documents; }, 5000);
        if (!done) {
            std::fprintf(stderr, "switch %d: not every document repainted\n", i);
            continue;
        }
        const std::string log = win.Evaluate(
            "(function(){var h=Infinity,p=0;window.__log.forEach(function(e){h=Math.min(h,e[1]);p=Math.max(p,e[3]);});"
            "return h+' '+p})()");
        double heard = 0, painted = 0;
        if (std::sscanf(log.c_str(), "%lf %lf", &heard, &painted) != 2) continue;
        heard_ms.push_back(heard - start_wall);
        ms.push_back(painted - start_wall);
        if (getenv("DETAIL"))
            std::printf("switch %d: set %.1f ms, heard %.1f ms, repainted %.1f ms %s\n", i, set_ms.back(),
                        heard_ms.back(), ms.back(), win.Evaluate("JSON.stringify(window.__log)").c_str());
    }
    if (ms.empty()) return 1;
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf(
        "scheme switch with a dive shown (%d documents, %zu switches): median %.1f ms, slowest %.1f ms "
        "(GTK's setting change median %.1f ms, first document told after median %.1f ms)\n",
        documents, ms.size(), median(ms), *std::max_element(ms.begin(), ms.end()), median(set_ms), median(heard_ms));
    return 0;
}

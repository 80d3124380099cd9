// Time for a colour scheme change to reach the screen while the main page
// shows a dive (values, depth profile and map): from the program's switch
// (ui::SetColorScheme, what it does when the desktop's scheme changes) until
// every document of the page (main page, both frame pages, the dive detail)
// has drawn a frame in the new scheme, by the page's own clock (the bench's
// polling adds nothing), and until the window has put that frame on screen.
// For comparison, the same switches made the way WebKit follows the desktop
// by itself: through GTK's prefer-dark setting alone (first, before the
// program's attribute is set, which would win over it).
//
// Prints, per way, the median and the slowest switch and where the time
// goes (medians): how long the call itself blocks, when the first document
// hears of the change, how long its style recalculation takes, when the last
// document has drawn, when the window drew it, and (program's way) when
// GTK's setting followed.
//
//   xvfb-run -a -s "-screen 0 1280x800x24 -noreset" bin/desktop_scheme_switch_bench [switches]
//   DETAIL=1 ... prints every switch.
#include <gtk/gtk.h>
#include <stdlib.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

double WallMs() {
    return static_cast<double>(g_get_real_time()) / 1000.0;
}

// Every document of the page notes the first sign of a scheme change after
// it was armed (the media query's change, or the program's data-scheme
// attribute on its root): the time, the time its style recalculation took
// (forced at once), the next animation frame, and a task queued from that
// frame, which runs once the frame (the first in the new scheme) has been
// drawn. It also notes the root's background then, to tell the scheme drawn.
const char kProbe[] = R"JS((function () {
  window.__painted = 0;
  window.__log = [];
  var docs = [];
  function watch(win) {
    var d = { armed: false };
    docs.push(d);
    function heard() {
      if (!d.armed) return;
      d.armed = false;
      var e = [win.location.pathname, Date.now()];
      var t0 = win.performance.now();
      var bg = win.getComputedStyle(win.document.documentElement).backgroundColor;
      e.push(win.performance.now() - t0);
      win.requestAnimationFrame(function () {
        e.push(Date.now());
        win.setTimeout(function () { e.push(Date.now(), bg); window.__log.push(e); window.__painted++; }, 0);
      });
    }
    win.matchMedia('(prefers-color-scheme: dark)').addEventListener('change', heard);
    new win.MutationObserver(heard).observe(win.document.documentElement,
                                            { attributes: true, attributeFilter: ['data-scheme'] });
    for (var i = 0; i < win.frames.length; i++) watch(win.frames[i]);
  }
  watch(window);
  window.__arm = function () {
    window.__painted = 0;
    window.__log = [];
    docs.forEach(function (d) { d.armed = true; });
    return '';
  };
  return String(docs.length);
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

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Times of the web view's draws and of GTK's prefer-dark setting changes.
std::vector<double> g_draws;
double g_chrome_at = 0;

struct Figures {
    std::vector<double> call, heard, style, frame, painted, seen, chrome;
};

void Print(const char* way, const Figures& f, int documents) {
    if (f.painted.empty()) return;
    std::printf(
        "scheme switch %s with a dive shown (%d documents, %zu switches): median %.1f ms, slowest %.1f ms\n"
        "  breakdown (medians, ms from the switch): call returns %.1f | first document hears %.1f | "
        "its style recalc %.1f ms | next frame starts %.1f | last document drawn %.1f | window drew it %.1f",
        way, documents, f.painted.size(), Median(f.painted), *std::max_element(f.painted.begin(), f.painted.end()),
        Median(f.call), Median(f.heard), Median(f.style), Median(f.frame), Median(f.painted), Median(f.seen));
    if (!f.chrome.empty()) std::printf(" | GTK's setting followed %.1f", Median(f.chrome));
    if (f.seen.size() < f.painted.size())
        std::printf(" (the window's draw not seen in %zu switches)", f.painted.size() - f.seen.size());
    std::printf("\n");
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

    g_signal_connect_after(win.web_view(), "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer) -> gboolean {
                               g_draws.push_back(WallMs());
                               return FALSE;
                           }),
                           nullptr);
    g_signal_connect(gtk_settings_get_default(), "notify::gtk-application-prefer-dark-theme",
                     G_CALLBACK(+[](GObject*, GParamSpec*, gpointer) { g_chrome_at = WallMs(); }), nullptr);

    const bool detail_out = getenv("DETAIL") != nullptr;
    bool dark = false;
    // by_gtk: WebKit's own way (GTK's setting); else the program's.
    auto run = [&](bool by_gtk, Figures& f) {
        for (int i = 0; i < runs; ++i) {
            bool never = false;
            ui::RunLoopUntil([&] { return never; }, 300);  // let the page settle
            win.Evaluate("window.__arm()");
            g_draws.clear();
            g_chrome_at = 0;
            dark = !dark;
            const double start_wall = WallMs();
            const Clock::time_point start = Clock::now();
            if (by_gtk)
                g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE,
                             nullptr);
            else ui::SetColorScheme(dark);
            const double call = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            const bool done = ui::RunLoopUntil(
                [&] { return std::atoi(win.Evaluate("String(window.__painted)").c_str()) >= documents; }, 5000);
            if (!done) {
                std::fprintf(stderr, "switch %d: not every document repainted\n", i);
                continue;
            }
            const std::string log = win.Evaluate(
                "(function(){var h=Infinity,s=0,r=Infinity,p=0,bg={};window.__log.forEach(function(e){"
                "if(e[1]<h){h=e[1];s=e[2];}r=Math.min(r,e[3]);p=Math.max(p,e[4]);bg[e[5]]=1;});"
                "return h+' '+s+' '+r+' '+p+' '+Object.keys(bg).length})()");
            double heard = 0, style = 0, frame = 0, painted = 0;
            int backgrounds = 0;
            if (std::sscanf(log.c_str(), "%lf %lf %lf %lf %d", &heard, &style, &frame, &painted, &backgrounds) != 5)
                continue;
            // The window's first draw after the last document's frame (the
            // page's clock counts whole milliseconds).
            auto drawn = [&] {
                for (double t : g_draws)
                    if (t >= painted - 1) return t;
                return 0.0;
            };
            ui::RunLoopUntil([&] { return drawn() > 0; }, 1000);
            if (!by_gtk) ui::RunLoopUntil([&] { return g_chrome_at > 0; }, 2 * ui::kSchemeChromeWaitMs);
            f.call.push_back(call);
            f.heard.push_back(heard - start_wall);
            f.style.push_back(style);
            f.frame.push_back(frame - start_wall);
            f.painted.push_back(painted - start_wall);
            if (drawn() > 0) f.seen.push_back(drawn() - start_wall);
            if (!by_gtk && g_chrome_at > 0) f.chrome.push_back(g_chrome_at - start_wall);
            if (detail_out)
                std::printf(
                    "%s switch %d to %s: call %.1f, heard %.1f (style %.1f), frame %.1f, drawn %.1f, seen "
                    "%.1f, chrome %.1f ms; %d background(s) %s\n",
                    by_gtk ? "GTK" : "root", i, dark ? "dark" : "light", call, f.heard.back(), style, f.frame.back(),
                    f.painted.back(), drawn() > 0 ? drawn() - start_wall : -1.0,
                    g_chrome_at > 0 ? g_chrome_at - start_wall : -1.0, backgrounds,
                    win.Evaluate("JSON.stringify(window.__log)").c_str());
        }
    };
    Figures gtk_way, root_way;
    if (!getenv("ROOT_ONLY")) run(true, gtk_way);
    if (dark) {  // the program's way starts from light, as the other did
        g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", FALSE, nullptr);
        dark = false;
    }
    run(false, root_way);
    Print("through GTK's setting alone", gtk_way, documents);
    Print("through the pages' root (the program's way)", root_way, documents);
    return root_way.painted.empty() ? 1 : 0;
}

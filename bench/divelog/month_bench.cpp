// Month change in the real program against the cloud emulator: from the click
// on "nextmon" / "lastmon" to the 42 cells written (the automation channel
// answers a read on the clicking connection only after the click's handler
// has run, and the read sends the page its queued writes first), against the
// bare GET of the same months made by this process with the program's HTTP
// class, a new connection each time as the program makes per load. Prints
// both medians (goal: the month change within one display frame, 16.7 ms;
// the bare GET is printed for scale, the repaint of the 42 cells being the
// floor) and their ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "cloud/cloud_api.h"
#include "cloud/http_post.h"
#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/cloudemu_process.h"

using vorta_bench::Clock;
using vorta_bench::Median;
using vorta_bench::Ms;

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(2, atoi(argv[1])) : 40;
    vorta_test::CloudEmuProcess emu;
    if (!vorta_bench::StartCloud(emu)) return 1;
    AppProcess program;
    program.UseCloud(emu);
    AutomationClient app;
    if (!vorta_bench::StartSignedIn(program, app)) return 1;

    // A read alone, for scale: what the automation round trip costs.
    std::vector<double> read_ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        app.GetAttr("date_cell_41", "class", "framepage1");
        read_ms.push_back(Ms(Clock::now() - start));
    }

    // A click whose handler only rewrites the eight statistics texts, for
    // scale: the click's way to its handler and back.
    std::vector<double> plain_click_ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        app.Click("odo_type", "framepage1");
        app.GetAttr("date_cell_41", "class", "framepage1");
        plain_click_ms.push_back(Ms(Clock::now() - start));
    }

    // The program: alternate next and previous month.
    std::vector<double> program_ms;
    std::vector<std::string> titles;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        app.Click(i % 2 ? "lastmon" : "nextmon", "framepage1");
        const auto last = app.GetAttr("date_cell_41", "class", "framepage1");
        program_ms.push_back(Ms(Clock::now() - start));
        if (!last) {
            std::fprintf(stderr, "no answer from the page\n");
            return 1;
        }
        if (i < 2) titles.push_back(app.GetText("calendardate", "framepage1").value_or(""));
    }

    // The bare GET of the same two months.
    setenv("VORTA_CLOUD_HOST", emu.host().c_str(), 1);
    HttpOptions options;
    options.ca_file = emu.ca_file();
    const std::string token = emu.DemoToken();
    const std::string header = "Authorization: Bearer " + token + "\r\n\r\n";
    std::vector<std::string> paths;
    for (const std::string& title : titles)
        if (title.size() == 7)
            paths.push_back(UrlCalendarMonth(std::stoi(title.substr(0, 4)), std::stoi(title.substr(5, 2))));
    if (paths.size() != 2) {
        std::fprintf(stderr, "the months shown were not read\n");
        return 1;
    }
    std::vector<double> get_ms, kept_ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        HttpPost http(options);
        http.connect(emu.host(), 8443);
        const std::string body = http.request(nullptr, 0, 0, "GET", paths[static_cast<size_t>(i % 2)], header);
        get_ms.push_back(Ms(Clock::now() - start));
        if (check_envelope(body) != EnvelopeResult::Success) {
            std::fprintf(stderr, "the bare GET failed\n");
            return 1;
        }
    }
    HttpPost kept(options);
    kept.connect(emu.host(), 8443);
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        kept.request(nullptr, 0, 0, "GET", paths[static_cast<size_t>(i % 2)], header);
        kept_ms.push_back(Ms(Clock::now() - start));
    }

    const double program_median = Median(program_ms), get_median = Median(get_ms);
    std::printf("month change, click to 42 cells written: median %.2f ms (min %.2f, %d changes; goal <= 16.7 ms)\n",
                program_median, *std::min_element(program_ms.begin(), program_ms.end()), rounds);
    std::printf(
        "  for scale: the automation read alone %.2f ms; a click on \"odo_type\" (no request, 8 texts "
        "written) and the read %.2f ms\n",
        Median(read_ms), Median(plain_click_ms));
    std::printf("bare GET of the same months, new connection each: median %.2f ms (kept connection: %.2f ms)\n",
                get_median, Median(kept_ms));
    std::printf("ratio program / bare GET: %.2f (for scale)\n", program_median / get_median);
    app.Close();
    program.Stop();
    return 0;
}

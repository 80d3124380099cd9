// "Print..." of one dive to a PDF file in the real program against the cloud
// emulator (VORTA_PRINT_PDF: no dialog): from the click to the PDF file
// complete on disk (its "%%EOF" written), the dive log's fetch, the page
// load out of sight, the map and the print included. Prints the median and
// worst of the rounds (goal <= 1.5 s).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/json_safe.h"
#include "bench/support/bench_support.h"
#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/cloudemu_process.h"

namespace {

using vorta_bench::Clock;
const char* const kFrame = "framepage1";

bool PdfComplete(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    return text.size() > 6 && text.find("%%EOF", text.size() - 8) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(2, atoi(argv[1])) : 10;
    vorta_test::CloudEmuProcess emu;
    if (!vorta_bench::StartCloud(emu)) return 1;
    AppProcess program;
    const std::string pdf = program.home() + "/dive.pdf";
    program.UseCloud(emu);
    program.env["VORTA_PRINT_PDF"] = pdf;
    AutomationClient app;
    if (!vorta_bench::StartSignedIn(program, app)) return 1;

    // The nearest month with dives, back from this one; its first dive day.
    const std::string token = emu.DemoToken();
    auto cloud = [&](const std::string& path) {
        Json::Value root;
        json_safe::Parse(emu.Call("GET", path, "", {"Authorization: Bearer " + token}).body, root);
        return json_safe::Member(root, "response");
    };
    const std::time_t now = std::time(nullptr);
    std::tm month{};
    localtime_r(&now, &month);
    month.tm_mday = 1;
    month.tm_hour = 12;
    Json::Value days;
    for (int back = 0; back < 12 && days.empty(); ++back) {
        if (back > 0) {
            --month.tm_mon;
            app.Click("lastmon", kFrame);
        }
        mktime(&month);
        char path[96];
        std::snprintf(path, sizeof path, "/api/v1/divelogs/calendar/month?year_month=%.4d%.2d", month.tm_year + 1900,
                      month.tm_mon + 1);
        days = cloud(path)["month_summary"];
    }
    if (days.empty()) {
        std::fprintf(stderr, "no dive in the last year\n");
        return 1;
    }
    const int day = std::stoi(days[0]["year_month_date"].asString()) % 100;
    char cell[32];
    std::snprintf(cell, sizeof cell, "date_cell_%.2d", (month.tm_wday == 0 ? 7 : month.tm_wday) + day - 1);
    app.Click(cell, kFrame);
    app.Click("view", kFrame, 0);

    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        unlink(pdf.c_str());
        const auto start = Clock::now();
        app.Click("print_log", kFrame);
        while (!PdfComplete(pdf)) {
            if (Clock::now() - start > std::chrono::seconds(30)) {
                std::fprintf(stderr, "no PDF after 30 s\n");
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ms.push_back(vorta_bench::Ms(Clock::now() - start));
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "print of one dive to PDF, click to file complete: median %.0f ms, best %.0f ms, worst %.0f ms "
        "(%d rounds; target <= 1500 ms)\n",
        ms[ms.size() / 2], ms.front(), ms.back(), rounds);
    return 0;
}

// What a client of the automation channel sends: any bytes, cut into
// request lines at arbitrary read boundaries, each line read as a request.
#include "fuzz/fuzz_input.h"
#include "ui_engine/automation_request.h"

#include <deque>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const size_t piece = 1 + in.Byte();
    const std::string stream = in.Rest();

    // The same lines whatever pieces the socket hands the bytes over in.
    std::string pending, whole_pending;
    std::deque<std::string> lines, whole_lines;
    for (size_t at = 0; at < stream.size(); at += piece)
        FUZZ_CHECK(ui::TakeRequestLines(pending, stream.data() + at, std::min(piece, stream.size() - at), lines));
    ui::TakeRequestLines(whole_pending, stream.data(), stream.size(), whole_lines);
    FUZZ_CHECK(lines == whole_lines && pending == whole_pending);
    ui::FinishRequestLines(pending, lines);
    FUZZ_CHECK(pending.empty());

    for (const std::string& line : lines) {
        FUZZ_CHECK(!line.empty() && line.find('\n') == std::string::npos);
        ui::AutomationRequest request;
        if (!ui::ParseRequest(line, request)) continue;
        FUZZ_CHECK(request.json.isObject());
        FUZZ_CHECK(request.timeout_ms >= 0 && request.timeout_ms <= ui::kMaxWaitMs);
        if (request.window_by == ui::AutomationRequest::WindowBy::kPage) FUZZ_CHECK(!request.page.empty());
    }
    return 0;
}

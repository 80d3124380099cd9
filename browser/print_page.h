// Printing a script page ("web_html/main.htm") as a paper page: the page is
// loaded out of sight with "?print=1", given its script calls (the same ones
// the shown page gets), and printed through WebKit's print operation once
// its map has drawn. The paper is the desktop's default for the locale (A4
// or Letter). UI thread only.
#pragma once

#include <string>
#include <vector>

#include "app/ui_types.h"
#include "browser/map_script.h"

struct PrintRequest {
    std::string script_page;  // relative to the language folder
    std::vector<vorta_browser::MapScriptCall> calls;
    // Without a file: the desktop's print dialog over `parent` (its "Print
    // to File" writes a PDF). With one: printed to that PDF file without a
    // dialog.
    std::string pdf_file;
    WindowHandle parent = 0;
};

enum class PrintResult { kPrinted, kCancelled, kFailed };

// Runs a nested main loop until the print operation has finished (the page
// load and the map are given 20 s).
PrintResult PrintScriptPage(const PrintRequest& request);

// Dive logs as a CSV table (RFC 4180, UTF-8), without a window: one row per
// dive after a header row, the values as the detail page's value panel shows
// them in the user's units, the unit of each numeric column in its header,
// labels in the user's language. A measured value the dive log does not
// hold (no number in its member) is an empty cell, not the panel's 0.
//
// Columns: date-time, type, greatest and average depth, duration, start and
// end pressure, cylinder volume, air consumption, water and air temperature,
// weather, waves, current, visibility, suit, weight, dive site, entry and
// exit latitude and longitude (degrees; empty where the log has no
// position). Lines end in CR LF; a field holding a comma, a quote, CR or LF
// is quoted, its quotes doubled. A dive-site name that would start a
// spreadsheet formula (=, +, -, @) is prefixed with an apostrophe.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "divelog/dive_values.h"

namespace vorta_divelog {

std::string CsvDocument(const std::vector<Json::Value>& divelogs, int32_t unit, const LangFunction& lang);

// One field as RFC 4180 writes it.
std::string CsvField(const std::string& text);

}  // namespace vorta_divelog

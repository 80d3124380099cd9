// The cloud reads of the dive-log pages: one authenticated GET, judged by the
// answer envelope.
#pragma once

#include <json/value.h>

#include <string>

#include "divelog/dive_values.h"

class HttpPost;

namespace vorta_divelog {

struct CloudAnswer {
    enum class Status {
        kNoSession,  // the connection could not be prepared; nothing was sent
        kFailed,     // sent, but the answer is a failure: see message_key
        kOk,         // `response` holds the answer's "response" (null when absent)
    };
    Status status = Status::kNoSession;
    std::string message_key;  // kFailed: "HOST_NOT_CONN", "HOST_ERROR" or "DATA_ERROR"
    Json::Value response;
};

// Connects `http` to the cloud host and GETs `path` with the session's bearer
// header.
CloudAnswer CloudGet(HttpPost& http, const std::string& path);

// "view" of one dive log: GETs it and, on a success, shows its "divelog" on
// `page` (ShowDiveLog). On any other answer the page is left alone.
CloudAnswer ViewDiveLog(HttpPost& http, const std::string& divelog_id, int32_t unit, const LangFunction& lang,
                        vorta_browser::MapScriptSink& page);

}  // namespace vorta_divelog

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

// CloudGet in two halves, for a caller that judges the reply elsewhere (on
// another thread): the GET, false when the connection could not be prepared
// (nothing was sent; "" in `reply` is a request that got no answer); and the
// envelope's judgement of a reply (kOk or kFailed).
bool CloudGetReply(HttpPost& http, const std::string& path, std::string* reply);
CloudAnswer CloudAnswerOf(const std::string& reply);

// Sends an edited dive log back: PATCH "api/v1/divelogs/<id>" with
// `divelog` as styled JSON and the bearer header, judged by the answer's
// envelope like every other call (a save the cloud refused, or that never
// arrived, is a failure). The id is the document's "divelog_id", or
// `loaded_id` (the id it was loaded with) when the document has none.
CloudAnswer SaveDiveLog(HttpPost& http, const Json::Value& divelog, const std::string& loaded_id);

// "view" of one dive log: GETs it and, on a success, shows its "divelog" on
// `page` (ShowDiveLog). A success without a "divelog" object is kFailed with
// "DATA_ERROR". On any failure the page is left alone.
CloudAnswer ViewDiveLog(HttpPost& http, const std::string& divelog_id, int32_t unit, const LangFunction& lang,
                        vorta_browser::MapScriptSink& page);

}  // namespace vorta_divelog

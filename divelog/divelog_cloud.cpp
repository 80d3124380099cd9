#include "divelog/divelog_cloud.h"

#include <json/writer.h>

#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"

namespace vorta_divelog {

namespace {

CloudAnswer Send(HttpPost& http, const std::string& verb, const std::string& path, const std::string& body,
                 int is_json) {
    if (!http.connect(CloudHost(), kCloudPort)) return CloudAnswer();
    return CloudAnswerOf(http.request(body.empty() ? nullptr : body.data(), static_cast<uint32_t>(body.size()), is_json,
                                      verb, path, make_bearer_header()));
}

}  // namespace

CloudAnswer CloudGet(HttpPost& http, const std::string& path) {
    return Send(http, "GET", path, std::string(), 0);
}

bool CloudGetReply(HttpPost& http, const std::string& path, std::string* reply) {
    if (!http.connect(CloudHost(), kCloudPort)) return false;
    *reply = http.request(nullptr, 0, 0, "GET", path, make_bearer_header());
    return true;
}

CloudAnswer CloudAnswerOf(const std::string& reply) {
    CloudAnswer answer;
    const EnvelopeResult result = check_envelope(reply, &answer.response);
    if (result == EnvelopeResult::Success) {
        answer.status = CloudAnswer::Status::kOk;
    } else {
        answer.status = CloudAnswer::Status::kFailed;
        answer.message_key = EnvelopeMessageKey(result);
    }
    return answer;
}

CloudAnswer SaveDiveLog(HttpPost& http, const Json::Value& divelog, const std::string& loaded_id) {
    std::string id = json_safe::String(divelog, "divelog_id");
    if (id.empty()) id = loaded_id;
    return Send(http, "PATCH", UrlDivelogEdit(id), Json::StyledWriter().write(divelog), 1);
}

CloudAnswer ViewDiveLog(HttpPost& http, const std::string& divelog_id, int32_t unit, const LangFunction& lang,
                        vorta_browser::MapScriptSink& page) {
    CloudAnswer answer = CloudGet(http, UrlDivelog(divelog_id));
    if (answer.status != CloudAnswer::Status::kOk) return answer;
    const Json::Value& divelog = json_safe::Member(answer.response, "divelog");
    if (!divelog.isObject()) {
        // A success that carries no dive log has nothing to show: drawn, it
        // would be a panel of zeros and an empty chart.
        answer.status = CloudAnswer::Status::kFailed;
        answer.message_key = "DATA_ERROR";
        answer.response = Json::Value();
        return answer;
    }
    ShowDiveLog(divelog, unit, lang, page);
    return answer;
}

}  // namespace vorta_divelog

#include "divelog/divelog_cloud.h"

#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"

namespace vorta_divelog {

CloudAnswer CloudGet(HttpPost& http, const std::string& path) {
    CloudAnswer answer;
    if (!http.connect(CloudHost(), kCloudPort)) return answer;
    const std::string body = http.request(nullptr, 0, 0, "GET", path, make_bearer_header());
    const EnvelopeResult result = check_envelope(body, &answer.response);
    if (result == EnvelopeResult::Success) {
        answer.status = CloudAnswer::Status::kOk;
    } else {
        answer.status = CloudAnswer::Status::kFailed;
        answer.message_key = EnvelopeMessageKey(result);
    }
    return answer;
}

CloudAnswer ViewDiveLog(HttpPost& http, const std::string& divelog_id, int32_t unit, const LangFunction& lang,
                        vorta_browser::MapScriptSink& page) {
    CloudAnswer answer = CloudGet(http, UrlDivelog(divelog_id));
    if (answer.status == CloudAnswer::Status::kOk)
        ShowDiveLog(json_safe::Member(answer.response, "divelog"), unit, lang, page);
    return answer;
}

}  // namespace vorta_divelog

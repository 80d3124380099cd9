#include "account/email_sign_in.h"

#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"

namespace vorta_account {

std::string SignInBody(const std::string& email, const std::string& password) {
    return "email=" + url_encode(email) + "&password=" + url_encode(password);
}

std::string ClassifySignInAnswer(const std::string& body, SessionFields& out, const char* refused_key) {
    Json::Value response;
    switch (check_envelope(body, &response)) {
        case EnvelopeResult::NotConnected: return "HOST_NOT_CONN";
        case EnvelopeResult::HostError: return "HOST_ERROR";
        case EnvelopeResult::DataError: return refused_key;
        case EnvelopeResult::Success: break;
    }
    // A session needs its token and user id: an answer that says "success"
    // without them would open the main window on an empty session (every
    // later request refused) and remember an empty token.
    const Json::Value& user = json_safe::Member(response, "user");
    SessionFields session;
    session.user_id = json_safe::String(user, "user_id");
    session.token = json_safe::String(response, "token");
    if (session.user_id.empty() || session.token.empty()) return "HOST_ERROR";
    session.user_name = json_safe::String(user, "user_name");
    session.profile_image_path = json_safe::String(user, "profile_image_path");
    out = session;
    return "";
}

SignInResult EmailSignIn(const std::string& email, const std::string& password, HttpPost& cloud, AppStateRecord& state,
                         const std::function<bool()>& remember) {
    SignInResult result;
    state.email = email;
    state.password = password;
    if (email.empty()) {
        result.message_key = "ENTER_EMAIL";
        return result;
    }
    if (password.empty()) {
        result.message_key = "ENTER_PASSWORD";
        return result;
    }
    if (!cloud.connect(CloudHost(), kCloudPort)) {
        result.message_key = "NO_INTERNET";
        return result;
    }
    SessionFields session;
    const std::string body = SignInBody(email, password);
    const std::string answer =
        cloud.request(body.data(), static_cast<uint32_t>(body.size()), 0, "POST", UrlLogin(), std::string());
    result.message_key = ClassifySignInAnswer(answer, session);
    if (!result.message_key.empty()) return result;

    state.user_id = session.user_id;
    state.token = session.token;
    state.user_name = session.user_name;
    state.profile_image_path = session.profile_image_path;
    if (remember) remember();
    result.signed_in = true;
    return result;
}

}  // namespace vorta_account

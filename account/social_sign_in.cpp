#include "account/social_sign_in.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "base/config.h"
#include "base/json_safe.h"
#include "base/paths.h"
#include "cloud/cloud_api.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"

namespace vorta_account {
namespace {

constexpr const char* kScope = "email,public_profile";
constexpr const char* kResponseType = "token,granted_scopes";
constexpr const char* kState = "PCTidewalkerTool";

constexpr const char* kTokenMarker = "access_token=";
constexpr const char* kExpirationMarker = "data_access_expiration_time=";
constexpr const char* kErrorMarker = "error_code=";
// The error text ends at the next "&" when it is this close to the start of
// "error_code=", else it is cut to kErrorCut characters.
constexpr std::size_t kErrorAmpReach = 29;
constexpr std::size_t kErrorCut = 20;

// The Graph answer is a few short values.
constexpr std::uint64_t kMaxProfileBytes = 64 * 1024;

// From just after `marker` at `at` up to the next "&" or the end.
std::string ValueAfter(const std::string& url, std::size_t at, const char* marker) {
    const std::size_t start = at + std::char_traits<char>::length(marker);
    const std::size_t end = url.find('&', start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// `n` bytes of `text` from `start`, shortened so that no UTF-8 character is
// cut in two. Continuation bytes without a lead byte (text that is not
// UTF-8) are cut where they fall.
std::string CutAtCharacter(const std::string& text, std::size_t start, std::size_t n) {
    const std::size_t end = std::min(text.size(), start + n);
    std::size_t lead = end;
    while (lead > start && lead < text.size() && end - lead < 3 &&
           (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80)
        --lead;
    const unsigned char c = static_cast<unsigned char>(text[lead]);
    const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    const bool split = lead < end && c >= 0xC0 && lead + len > end;
    return text.substr(start, (split ? lead : end) - start);
}

}  // namespace

SocialEndpoints SocialEndpoints::FromConfig(const Config& config) {
    return {config.facebook_auth_url, config.facebook_redirect_url, config.facebook_graph_url,
            config.facebook_client_id};
}

bool SocialEndpoints::configured() const {
    return !auth_url.empty() && !redirect_url.empty() && !graph_url.empty() && !client_id.empty();
}

std::string OAuthRequestUrl(const SocialEndpoints& e) {
    const char joint = e.auth_url.find('?') == std::string::npos ? '?' : '&';
    return e.auth_url + joint + "client_id=" + url_encode(e.client_id) + "&redirect_uri=" + url_encode(e.redirect_url) +
           "&scope=" + kScope + "&response_type=" + kResponseType + "&state=" + kState;
}

RedirectCheck CheckRedirect(const std::string& url) {
    RedirectCheck check;
    const std::size_t token_at = url.find(kTokenMarker);
    const std::size_t expiration_at = url.find(kExpirationMarker);
    if (token_at != std::string::npos && expiration_at != std::string::npos) {
        check.kind = RedirectKind::Token;
        check.access_token = ValueAfter(url, token_at, kTokenMarker);
        check.expiration = ValueAfter(url, expiration_at, kExpirationMarker);
        return check;
    }
    const std::size_t error_at = url.find(kErrorMarker);
    if (error_at == std::string::npos) return check;
    check.kind = RedirectKind::Error;
    const std::size_t amp = url.find('&', error_at);
    check.error_text = "fb:" + (amp != std::string::npos && amp - error_at <= kErrorAmpReach
                                    ? url.substr(error_at, amp - error_at)
                                    : CutAtCharacter(url, error_at, kErrorCut));
    return check;
}

std::string GraphMeUrl(const std::string& graph_url, const std::string& access_token) {
    std::string base = graph_url;
    if (base.empty() || base.back() != '/') base += '/';
    return base + "me?fields=email,id,name&access_token=" + url_encode(access_token);
}

std::string ReadSocialProfile(const std::string& text, SocialProfile& out) {
    Json::Value root;
    if (!json_safe::Parse(text, root)) return "HOST_ERROR";
    SocialProfile p{json_safe::String(root, "name"), json_safe::String(root, "email"), json_safe::String(root, "id")};
    for (const std::string* v : {&p.name, &p.email, &p.id})
        if (v->size() > kMaxSocialValueChars) return "HOST_ERROR";
    out = std::move(p);
    return "";
}

std::string SocialSignInBody(const SocialProfile& profile, const std::string& access_token,
                             const std::string& expiration) {
    return "email=" + url_encode(profile.email) + "&social_platform=facebook&social_id=" + url_encode(profile.id) +
           "&access_token=" + url_encode(access_token) + "&expire_datetime=" + url_encode(expiration);
}

std::string ClassifySocialSignInAnswer(const std::string& body, SessionFields& out) {
    return ClassifySignInAnswer(body, out, "DATA_ERROR");
}

SocialSignInResult CompleteSocialSignIn(const RedirectCheck& redirect, const std::string& graph_url,
                                        const std::string& data_folder, const Downloader& download, HttpPost& cloud,
                                        AppStateRecord& state, const std::function<bool()>& remember) {
    SocialSignInResult result;
    if (redirect.access_token.size() > kMaxAccessTokenChars || redirect.expiration.size() > kMaxSocialValueChars) {
        result.message_key = "HOST_ERROR";
        return result;
    }

    // The profile travels through a file in the data folder; it is gone
    // again before anything else happens.
    if (data_folder.empty() || !download) return result;
    const std::string path = data_folder + "/me.json";
    const bool fetched = download(GraphMeUrl(graph_url, redirect.access_token), path);
    const std::string text = fetched ? ReadWholeFile(path, kMaxProfileBytes) : std::string();
    ::unlink(path.c_str());
    if (!fetched) return result;
    SocialProfile profile;
    result.message_key = ReadSocialProfile(text, profile);
    if (!result.message_key.empty()) return result;

    if (!cloud.connect(CloudHost(), kCloudPort)) {
        result.message_key = "HOST_NOT_CONN";
        return result;
    }
    const std::string body = SocialSignInBody(profile, redirect.access_token, redirect.expiration);
    const std::string answer =
        cloud.request(body.data(), static_cast<uint32_t>(body.size()), 0, "POST", UrlSocialLogin(), std::string());
    SessionFields session;
    result.message_key = ClassifySocialSignInAnswer(answer, session);
    if (!result.message_key.empty()) return result;

    state.user_name = profile.name;
    state.email = profile.email;
    state.user_id = session.user_id;
    state.token = session.token;
    state.profile_image_path = session.profile_image_path;
    if (remember) remember();
    result.signed_in = true;
    return result;
}

}  // namespace vorta_account

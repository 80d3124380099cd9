#include "account/social_sign_in.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

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
constexpr std::size_t kStateBytes = 16;

constexpr const char* kTokenName = "access_token";
constexpr const char* kExpirationName = "data_access_expiration_time";
constexpr const char* kStateName = "state";
constexpr const char* kErrorName = "error_code";
// The error text ends at the next "&" when it is this close to the start of
// "error_code=", else it is cut to kErrorCut characters.
constexpr std::size_t kErrorAmpReach = 29;
constexpr std::size_t kErrorCut = 20;

// The parts of an absolute URL that decide which page it is, plus its query
// and fragment with their offsets in the URL.
struct UrlParts {
    std::string scheme;     // lowercase
    std::string authority;  // lowercase, without the scheme's default port
    std::string path;       // "/" when the URL has none
    std::size_t query_at = std::string::npos;
    std::string query;  // without "?"
    std::size_t fragment_at = std::string::npos;
    std::string fragment;  // without "#"
};

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// False when `url` has no "scheme://authority".
bool SplitUrl(const std::string& url, UrlParts& out) {
    const std::size_t colon = url.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = url[i];
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alpha && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
    }
    out.scheme = Lower(url.substr(0, colon));
    const std::size_t authority_at = colon + 3;
    const std::size_t fragment = url.find('#', authority_at);
    const std::size_t query = url.find('?', authority_at);
    const std::size_t path_end = std::min(query, fragment);
    const std::size_t authority_end = std::min(url.find('/', authority_at), path_end);
    out.authority = Lower(url.substr(authority_at, authority_end - authority_at));
    if (out.authority.empty()) return false;
    const char* default_port = out.scheme == "https" ? ":443" : out.scheme == "http" ? ":80" : nullptr;
    if (default_port && EndsWith(out.authority, default_port))
        out.authority.resize(out.authority.size() - std::char_traits<char>::length(default_port));
    out.path = authority_end >= path_end ? std::string("/") : url.substr(authority_end, path_end - authority_end);
    if (query < fragment) {
        out.query_at = query + 1;
        out.query = url.substr(query + 1, fragment == std::string::npos ? std::string::npos : fragment - query - 1);
    }
    if (fragment != std::string::npos) {
        out.fragment_at = fragment + 1;
        out.fragment = url.substr(fragment + 1);
    }
    return true;
}

struct Param {
    std::string name;
    std::string value;
    std::size_t at;  // offset of the name in the URL
};

// "a=1&b=2" as pairs; a piece without "=" is a name with an empty value.
std::vector<Param> SplitParams(const std::string& text, std::size_t offset) {
    std::vector<Param> params;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string piece = text.substr(start, end - start);
        const std::size_t eq = piece.find('=');
        if (!piece.empty())
            params.push_back(
                {piece.substr(0, eq), eq == std::string::npos ? std::string() : piece.substr(eq + 1), offset + start});
        start = end + 1;
    }
    return params;
}

const Param* FindParam(const std::vector<Param>& params, const char* name) {
    for (const Param& p : params)
        if (p.name == name) return &p;
    return nullptr;
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

std::string NewOAuthState() {
    unsigned char bytes[kStateBytes];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::string();
        got += static_cast<std::size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string state;
    for (unsigned char b : bytes) {
        state += kHex[b >> 4];
        state += kHex[b & 0x0F];
    }
    return state;
}

std::string OAuthRequestUrl(const SocialEndpoints& e, const std::string& state) {
    const char joint = e.auth_url.find('?') == std::string::npos ? '?' : '&';
    return e.auth_url + joint + "client_id=" + url_encode(e.client_id) + "&redirect_uri=" + url_encode(e.redirect_url) +
           "&scope=" + kScope + "&response_type=" + kResponseType + "&state=" + url_encode(state);
}

RedirectCheck CheckRedirect(const std::string& url, const std::string& redirect_url,
                            const std::string& expected_state) {
    RedirectCheck check;
    UrlParts page, redirect;
    if (!SplitUrl(url, page) || !SplitUrl(redirect_url, redirect) || page.scheme != redirect.scheme ||
        page.authority != redirect.authority || page.path != redirect.path)
        return check;

    const std::vector<Param> fragment = SplitParams(page.fragment, page.fragment_at);
    const Param* token = FindParam(fragment, kTokenName);
    const Param* expiration = FindParam(fragment, kExpirationName);
    if (token && expiration) {
        const Param* state = FindParam(fragment, kStateName);
        if (expected_state.empty() || !state || state->value != expected_state) {
            check.kind = RedirectKind::Refused;
            return check;
        }
        check.kind = RedirectKind::Token;
        check.access_token = token->value;
        check.expiration = expiration->value;
        return check;
    }

    const std::vector<Param> query = SplitParams(page.query, page.query_at);
    const Param* error = FindParam(query, kErrorName);
    if (!error) error = FindParam(fragment, kErrorName);
    if (!error) return check;
    check.kind = RedirectKind::Error;
    const std::size_t error_at = error->at;
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

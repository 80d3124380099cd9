// Social sign-in without a window: the provider's OAuth request, the check of
// each page the sign-in browser reaches, the profile query and the cloud's
// social sign-in, which fills the session like the e-mail sign-in.
//
// The provider uses the implicit grant: its last redirect goes to the
// login-success page with the access token in the URL. That token is a
// credential to the user's provider account; nothing here writes it to a
// file or prints it.
#pragma once

#include <cstdint>
#include <cstddef>
#include <functional>
#include <string>

#include "account/email_sign_in.h"
#include "base/app_state.h"

struct Config;
class HttpPost;

namespace vorta_account {

// Longest values taken from the redirect and the profile; a longer one is
// refused ("HOST_ERROR"), never cut.
constexpr std::size_t kMaxAccessTokenChars = 1024;
constexpr std::size_t kMaxSocialValueChars = 127;  // expiration, name, e-mail, id
// The Graph answer is a few short values; a larger download is stopped.
constexpr std::uint64_t kMaxProfileBytes = 64 * 1024;

// The provider's addresses and the program's registered client id.
struct SocialEndpoints {
    std::string auth_url;      // OAuth dialog
    std::string redirect_url;  // login-success page the dialog redirects to
    std::string graph_url;     // Graph API base; "me" is appended
    std::string client_id;

    static SocialEndpoints FromConfig(const Config& config);
    // All four are set; without them no browser window is opened.
    bool configured() const;
};

// A fresh value for the OAuth "state" parameter: 128 bits from the system's
// random source as 32 lowercase hex digits, or "" when that source fails
// (then no sign-in may start). The provider only echoes it; comparing the
// echo is what ties a token redirect to the request this program made.
std::string NewOAuthState();

// The OAuth dialog URL: auth_url with client_id, redirect_uri, scope
// "email,public_profile", response_type "token,granted_scopes" and `state`,
// in this order (after any query auth_url already has). The client id, the
// redirect page and the state are percent-encoded.
std::string OAuthRequestUrl(const SocialEndpoints& endpoints, const std::string& state);

// What a page reached by the sign-in browser means.
enum class RedirectKind {
    Page,     // an ordinary page (the provider's forms): show the browser
    Error,    // the provider refused or the user cancelled: show error_text
    Token,    // the redirect with the access token: go on with the sign-in
    Refused,  // a token redirect whose "state" is not the one sent: "HOST_ERROR"
};

struct RedirectCheck {
    RedirectKind kind = RedirectKind::Page;
    // Error: "fb:" followed by "error_code=..." up to the next "&" when that
    // "&" is at most 29 characters after the start of "error_code=", else
    // its first 20 characters.
    std::string error_text;
    // Token: the values of "access_token" and "data_access_expiration_time"
    // as they stand in the fragment (not decoded).
    std::string access_token;
    std::string expiration;
};

// Judges a URL (with its fragment) reached by the sign-in browser.
//
// Only the configured redirect page counts: the URL's scheme, host (with
// port; a scheme's default port may be written or not) and path must equal
// `redirect_url`'s. Any other address is an ordinary page, whatever it
// carries, so no page the browser happens to reach can hand in a token of
// its own choosing.
//
// On the redirect page, the fragment is read as "key=value" pairs split on
// "&", names compared exactly. Both "access_token" and
// "data_access_expiration_time" make a token redirect, which also needs a
// "state" equal to `expected_state` (and a non-empty one) or it is Refused.
// Without them, an "error_code" parameter of the query or the fragment makes
// an error; anything else is an ordinary page.
RedirectCheck CheckRedirect(const std::string& url, const std::string& redirect_url, const std::string& expected_state);

// The Graph query for the signed-in user's e-mail, id and name.
std::string GraphMeUrl(const std::string& graph_url, const std::string& access_token);

struct SocialProfile {
    std::string name;
    std::string email;
    std::string id;
};

// Reads the Graph answer. Returns "" and fills `out`, or "HOST_ERROR" when it
// is not JSON or a value is longer than kMaxSocialValueChars. A missing
// value, or one that is not text, reads as empty.
std::string ReadSocialProfile(const std::string& text, SocialProfile& out);

// "email=%s&social_platform=facebook&social_id=%s&access_token=%s&expire_datetime=%s"
// with each value percent-encoded as UTF-8.
std::string SocialSignInBody(const SocialProfile& profile, const std::string& access_token,
                             const std::string& expiration);

// Judges the cloud's answer: "" on success (fills `out`), else
// "HOST_NOT_CONN" (not JSON), "HOST_ERROR" (no "code") or "DATA_ERROR".
std::string ClassifySocialSignInAnswer(const std::string& body, SessionFields& out);

// Fetches an absolute URL into a file; true when the whole body arrived.
using Downloader = std::function<bool(const std::string& url, const std::string& path)>;

struct SocialSignInResult {
    bool signed_in = false;
    // Shown in the page's "message" when not signed in; "" for a failure the
    // page does not report (the profile could not be fetched).
    std::string message_key;
};

// The sign-in after a token redirect, step by step:
//  1. a token or expiration longer than its field: "HOST_ERROR";
//  2. the profile is downloaded into data_folder + "/me.json"; a failed
//     download (or no data folder) ends the attempt without a message;
//  3. the file is read and deleted (it holds the user's e-mail and id), then
//     judged by ReadSocialProfile;
//  4. `cloud` is connected to the cloud host ("HOST_NOT_CONN" when it cannot
//     be) and the form is POSTed to the social sign-in endpoint without an
//     authorization header, then judged by ClassifySocialSignInAnswer;
//  5. on success state.user_name, state.email (from the profile),
//     state.user_id, state.token and state.profile_image_path (from the
//     answer) are set in this order and `remember` is called once.
// On any failure the session and the remembered sign-in stay as they were.
SocialSignInResult CompleteSocialSignIn(const RedirectCheck& redirect, const std::string& graph_url,
                                        const std::string& data_folder, const Downloader& download, HttpPost& cloud,
                                        AppStateRecord& state, const std::function<bool()>& remember);

}  // namespace vorta_account

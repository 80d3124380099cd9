// E-mail sign-in without a window: check the typed fields, send the form,
// classify the answer, fill the session and remember the sign-in.
#pragma once

#include <functional>
#include <string>

#include "base/app_state.h"

namespace vorta_account {

// "email=%s&password=%s" with each value percent-encoded as UTF-8; as long
// as the values need (no fixed limit).
std::string SignInBody(const std::string& email, const std::string& password);

// The session fields of a successful answer; a missing value or one that is
// not text reads as empty.
struct SessionFields {
    std::string user_id;
    std::string token;
    std::string user_name;
    std::string profile_image_path;
};

// Judges the answer of the sign-in request. Returns "" on success (and fills
// `out`), else the message key: "HOST_NOT_CONN" (not JSON), "HOST_ERROR" (no
// "code"), "EMAIL_PWD_ERROR" (any code but "0000000").
std::string ClassifySignInAnswer(const std::string& body, SessionFields& out);

// The cloud as the sign-in sees it.
class SignInCloud {
public:
    virtual ~SignInCloud() = default;
    // Prepares the connection to the cloud host; false when impossible.
    virtual bool connect() = 0;
    // POSTs the form body to the sign-in endpoint (no authorization header);
    // the answer body, or "" when it could not be sent.
    virtual std::string post_login(const std::string& body) = 0;
};

struct SignInResult {
    bool signed_in = false;
    std::string message_key;  // shown in the page's "message" when not signed in
};

// The whole e-mail sign-in. The typed values always go into state.email and
// state.password; on success the session fields are filled in order and
// `remember` is called once (it writes "e", "p", "t"). On any failure the
// other session fields keep their values and `remember` is not called.
SignInResult EmailSignIn(const std::string& email, const std::string& password, SignInCloud& cloud,
                         AppStateRecord& state, const std::function<bool()>& remember);

}  // namespace vorta_account

// E-mail sign-in without a window: check the typed fields, send the form,
// classify the answer, fill the session and remember the sign-in.
#pragma once

#include <functional>
#include <string>

#include "base/app_state.h"

class HttpPost;

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
// "code", or a success without a non-empty text "token" and "user" ->
// "user_id"), `refused_key` (any code but "0000000"; the social sign-in says
// "DATA_ERROR"). The user's name and picture may be missing or mistyped: they
// read as empty.
std::string ClassifySignInAnswer(const std::string& body, SessionFields& out,
                                 const char* refused_key = "EMAIL_PWD_ERROR");

struct SignInResult {
    bool signed_in = false;
    std::string message_key;  // shown in the page's "message" when not signed in
};

// The whole e-mail sign-in over `cloud`, a fresh HttpPost for this attempt:
// it is connected to the cloud host and the form is POSTed to the sign-in
// endpoint without an authorization header. The typed values always go into
// state.email and state.password; on success the session fields are filled
// in order and `remember` is called once (it writes "e", "p", "t"). On any
// failure the other session fields keep their values and `remember` is not
// called.
SignInResult EmailSignIn(const std::string& email, const std::string& password, HttpPost& cloud, AppStateRecord& state,
                         const std::function<bool()>& remember);

}  // namespace vorta_account

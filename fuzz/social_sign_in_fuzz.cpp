// The social sign-in's outside input: the address of each page the sign-in
// browser reaches (0), the provider's profile answer, "me.json" (1), and the
// cloud's answer to the social sign-in (2). The first byte picks the input;
// the rest is its text.
#include "account/social_sign_in.h"
#include "fuzz/fuzz_input.h"

#include <string>

using namespace vorta_account;

namespace {

bool Unreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '~' || c == '%';
}

// A value put into a query stays one value: it adds no field of its own.
bool OneQueryValue(const std::string& encoded) {
    for (char c : encoded)
        if (!Unreserved(c)) return false;
    return true;
}

const char* const kRedirectPage = "https://www.example.com/connect/login_success.html";
const char* const kState = "0123456789abcdef0123456789abcdef";

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void Redirect(const std::string& url) {
    const RedirectCheck check = CheckRedirect(url, kRedirectPage, kState);
    // Only the redirect page's own address means anything.
    if (Lower(url).compare(0, 24, "https://www.example.com/") != 0 &&
        Lower(url).compare(0, 24, "https://www.example.com:") != 0)
        FUZZ_CHECK(check.kind == RedirectKind::Page);
    const std::size_t hash = url.find('#');
    if (check.kind == RedirectKind::Token || check.kind == RedirectKind::Refused) {
        // Both names stand in the fragment (a name without "=" has an empty value).
        FUZZ_CHECK(hash != std::string::npos);
        FUZZ_CHECK(url.find("access_token", hash) != std::string::npos);
        FUZZ_CHECK(url.find("data_access_expiration_time", hash) != std::string::npos);
        FUZZ_CHECK(check.error_text.empty());
    }
    if (check.kind == RedirectKind::Token) {
        FUZZ_CHECK(url.find(std::string("state=") + kState, hash) != std::string::npos);
        FUZZ_CHECK(check.access_token.find('&') == std::string::npos);
        FUZZ_CHECK(check.expiration.find('&') == std::string::npos);
        FUZZ_CHECK(check.access_token.empty() ||
                   url.find("access_token=" + check.access_token, hash) != std::string::npos);
        const std::string prefix = "https://graph.example/v9/me?fields=email,id,name&access_token=";
        const std::string me = GraphMeUrl("https://graph.example/v9", check.access_token);
        FUZZ_CHECK(me.compare(0, prefix.size(), prefix) == 0 && OneQueryValue(me.substr(prefix.size())));
        return;
    }
    FUZZ_CHECK(check.access_token.empty() && check.expiration.empty());
    if (check.kind == RedirectKind::Error) {
        // "fb:error_code=...", short, never ending inside a character.
        FUZZ_CHECK(check.error_text.compare(0, 13, "fb:error_code") == 0);
        FUZZ_CHECK(check.error_text.size() <= 3 + 29);
        if (vorta_fuzz::ValidUtf8(url)) FUZZ_CHECK(vorta_fuzz::ValidUtf8(check.error_text));
    } else {
        FUZZ_CHECK(check.error_text.empty());
    }
}

void Profile(const std::string& text) {
    SocialProfile profile{"kept", "kept@example.com", "1"};
    const std::string key = ReadSocialProfile(text, profile);
    if (!key.empty()) {
        FUZZ_CHECK(key == "HOST_ERROR");
        FUZZ_CHECK(profile.name == "kept" && profile.email == "kept@example.com" && profile.id == "1");
        return;
    }
    for (const std::string* v : {&profile.name, &profile.email, &profile.id})
        FUZZ_CHECK(v->size() <= kMaxSocialValueChars);
    // The form sent to the cloud has its five fields whatever the profile
    // holds.
    const std::string form = SocialSignInBody(profile, "tok", "123");
    size_t fields = 1;
    for (char c : form) fields += c == '&';
    FUZZ_CHECK(fields == 5);
    size_t start = 0;
    while (start <= form.size()) {
        size_t end = form.find('&', start);
        if (end == std::string::npos) end = form.size();
        const std::string field = form.substr(start, end - start);
        const size_t eq = field.find('=');
        FUZZ_CHECK(eq != std::string::npos && OneQueryValue(field.substr(eq + 1)));
        start = end + 1;
    }
}

void Answer(const std::string& body) {
    SessionFields session;
    session.user_name = "unchanged";
    const std::string key = ClassifySocialSignInAnswer(body, session);
    if (key.empty()) {
        // A session is opened only with its token and user id.
        FUZZ_CHECK(!session.token.empty() && !session.user_id.empty());
    } else {
        FUZZ_CHECK(key == "HOST_NOT_CONN" || key == "HOST_ERROR" || key == "DATA_ERROR");
        FUZZ_CHECK(session.user_name == "unchanged" && session.token.empty() && session.user_id.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const uint8_t which = in.Byte() % 3;
    const std::string text = in.Rest();
    switch (which) {
        case 0: Redirect(text); break;
        case 1: Profile(text); break;
        default: Answer(text); break;
    }
    return 0;
}

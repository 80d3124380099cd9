// The answer to the e-mail sign-in.
#include "account/email_sign_in.h"
#include "fuzz/fuzz_input.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    vorta_account::SessionFields session;
    session.user_name = "unchanged";
    const std::string key = vorta_account::ClassifySignInAnswer(body, session);
    if (key.empty()) {
        // A session is opened only with its token and user id.
        FUZZ_CHECK(!session.token.empty());
        FUZZ_CHECK(!session.user_id.empty());
    } else {
        FUZZ_CHECK(key == "HOST_NOT_CONN" || key == "HOST_ERROR" || key == "EMAIL_PWD_ERROR");
        FUZZ_CHECK(session.user_name == "unchanged");
    }
    return 0;
}

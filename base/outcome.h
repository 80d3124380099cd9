// How an operation ended: done, failed with the message key to show, or
// stopped at the user's request.
//
//   Outcome r = RunSomething();
//   if (r.failed()) ShowMsgDlg(GetLangText(r.key));
//
// A failure may carry an empty key when there is nothing to tell the user.
#pragma once

#include <string>
#include <utility>

struct Outcome {
    enum class Kind { kOk, kFailed, kCancelled };

    static Outcome Ok() { return Outcome(); }
    static Outcome Failed(std::string message_key) { return Outcome(Kind::kFailed, std::move(message_key)); }
    static Outcome Cancelled() { return Outcome(Kind::kCancelled, std::string()); }

    bool ok() const { return kind == Kind::kOk; }
    bool failed() const { return kind == Kind::kFailed; }
    bool cancelled() const { return kind == Kind::kCancelled; }

    Kind kind = Kind::kOk;
    std::string key;  // the failure's message key; "" unless failed

private:
    Outcome() = default;
    Outcome(Kind k, std::string message_key) : kind(k), key(std::move(message_key)) {}
};

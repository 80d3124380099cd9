// A cloud that answers every request with one body, for the targets that
// read an answer through the call that fetches it (envelope and all). It
// records what was sent.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cloud/http_post.h"

namespace vorta_fuzz {

class AnswerCloud : public HttpPost {
public:
    struct Sent {
        std::string verb, path, body;
    };

    explicit AnswerCloud(std::string answer) : HttpPost(HttpOptions()), answer_(std::move(answer)) {}

    bool connect(const std::string&, int) override { return true; }
    std::string request(const void* body, uint32_t len, int, const std::string& verb, const std::string& path,
                        const std::string&) override {
        sent.push_back({verb, path, body ? std::string(static_cast<const char*>(body), len) : std::string()});
        return answer_;
    }

    std::vector<Sent> sent;

private:
    std::string answer_;
};

}  // namespace vorta_fuzz

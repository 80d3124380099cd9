// What the tests of the logbook's walks through the months (saving for
// offline use, exporting) share: a scripted cloud and a fixture with an empty
// store in a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cloud/http_post.h"
#include "divelog/logbook_store.h"

namespace vorta_test {

// A cloud that answers by request path from a table: `responses` maps a path
// to the "response" object of a successful envelope; any other month answers
// an empty month summary, any other path nothing; paths in `broken` get no
// answer, paths in `refused` a failure envelope. Records every request.
class ScriptedLogbookCloud : public HttpPost {
public:
    explicit ScriptedLogbookCloud(std::map<std::string, std::string> responses)
        : HttpPost(HttpOptions()), responses_(std::move(responses)) {}
    bool connect(const std::string&, int) override { return true; }
    std::string request(const void*, uint32_t, int, const std::string&, const std::string& path,
                        const std::string&) override {
        requested.push_back(path);
        if (before_answer) before_answer();
        if (broken.count(path)) return "";
        if (refused.count(path)) return R"({"code": "0000001", "response": {}})";
        const std::string ok = R"({"code": "0000000", "response": )";
        const auto found = responses_.find(path);
        if (found != responses_.end()) return ok + found->second + "}";
        return path.rfind(kMonthPath, 0) == 0 ? ok + R"({"month_summary": []}})" : "";
    }

    static constexpr const char* kMonthPath = "api/v1/divelogs/calendar/month?year_month=";

    std::vector<std::string> requested;
    std::set<std::string> broken;   // paths that get no answer
    std::set<std::string> refused;  // paths that get a failure
    std::function<void()> before_answer;

private:
    std::map<std::string, std::string> responses_;
};

// An empty logbook store of user "1001" in a fresh temporary folder (dir_),
// removed after the test. A table's case may start afresh with TearDown()
// and SetUp().
class LogbookStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/logbook-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        store_ = vorta_divelog::LogbookStore::Open(dir_ + "/logbook.sqlite", "1001").store;
        ASSERT_TRUE(store_);
    }
    void TearDown() override {
        store_.reset();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    std::string dir_;
    std::unique_ptr<vorta_divelog::LogbookStore> store_;
};

}  // namespace vorta_test

// The emulator's REST endpoints, faults and control API, over real TLS.
#include <gtest/gtest.h>

#include "app/json_safe.h"
#include "tests/support/cloudemu_process.h"

namespace {

using vorta_test::CloudEmuProcess;
using vorta_test::CloudFault;
using vorta_test::CloudReply;

Json::Value ParseOrDie(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(json_safe::Parse(text, v)) << text;
  return v;
}

class CloudEmuServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emu_ = new CloudEmuProcess();
    ASSERT_TRUE(emu_->Start());
    token_ = emu_->DemoToken();
    ASSERT_FALSE(token_.empty());
  }
  static void TearDownTestSuite() {
    delete emu_;
    emu_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(emu_->Reset()); }

  CloudReply Get(const std::string& path, const std::string& token = token_) {
    return emu_->Call("GET", path, "", {"Authorization: Bearer " + token});
  }
  CloudReply PostForm(const std::string& path, const std::string& body, const std::string& token = token_) {
    return emu_->Call("POST", path, body,
                      {"Authorization: Bearer " + token, "Content-Type: application/x-www-form-urlencoded"});
  }

  static CloudEmuProcess* emu_;
  static std::string token_;
};

CloudEmuProcess* CloudEmuServerTest::emu_ = nullptr;
std::string CloudEmuServerTest::token_;

TEST_F(CloudEmuServerTest, StartsAndAnswersWithTheEnvelope) {
  const CloudReply r = Get("/api/v1/users/1001/statistics");
  ASSERT_TRUE(r.sent);
  const Json::Value v = ParseOrDie(r.body);
  EXPECT_EQ(json_safe::String(v, "code"), "0000000");
}

}  // namespace

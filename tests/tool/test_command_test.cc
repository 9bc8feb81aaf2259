#include "tool/test_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tool/tool_test_base.h"

namespace {

class TestCommandTest : public ToolTestBase {
 protected:
  std::string RunTestWith(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"test"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(0, Run(args));
    return output();
  }
};

TEST_F(TestCommandTest, StartsOrCancelsTheSelfTestOnAFullUps) {
  struct Case {
    std::vector<std::string> options;
    const char* line;
    const char* request;
  };
  const Case cases[] = {
      {{}, "diagnosing UPS within 10 seconds.", "DEV CMD_SELFTEST 10"},
      {{"-t", "30"},
       "diagnosing UPS within 30 seconds.",
       "DEV CMD_SELFTEST 30"},
      {{"-C"}, "UPS diagnostic is canceled by user.", "DEV CMD_SELFTEST -1"},
      // Only the first option counts.
      {{"-c", "-t", "5"},
       "UPS diagnostic is canceled by user.",
       "DEV CMD_SELFTEST -1"},
  };
  service_.Answer("DEV PROP_PORTTYPE", "2");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ClearOutput();
    // The self-test's own answer is not looked at.
    service_.Fail(c.request, 4);
    EXPECT_EQ(std::string(c.line) + "\n", RunTestWith(c.options));
    std::vector<std::string> requests = service_.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ("DEV PROP_PORTTYPE", requests[requests.size() - 2]);
    EXPECT_EQ(c.request, requests.back());
  }
}

TEST_F(TestCommandTest, BasicUpsSendsNothingMore) {
  service_.Answer("DEV PROP_PORTTYPE", "1");
  EXPECT_EQ("this UPS is not support test command.\n", RunTestWith({}));
  EXPECT_EQ(std::vector<std::string>{"DEV PROP_PORTTYPE"},
            service_.command_requests());
}

TEST_F(TestCommandTest, FailedPortTypeAsksForContact) {
  struct Case {
    const char* connect_reply;
    const char* expected;
  };
  const Case cases[] = {
      {"ERR 8", "the service can't connect with UPS unit.\n"},
      {"0", ""},
      {"1", ""},
      // No value was read in this run: the code is shown.
      {"ERR 5", " error. (5)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.connect_reply);
    ClearOutput();
    service_.Fail("DEV PROP_PORTTYPE", 8);
    service_.Answer("DEV STATUS_CONNECT", c.connect_reply);
    EXPECT_EQ(c.expected, RunTestWith({}));
    EXPECT_EQ("DEV STATUS_CONNECT", service_.requests().back());
  }
}

TEST_F(TestCommandTest, PortTypeReplyWithoutNumberKeepsTheStartValue) {
  // "ERR 0" carries no code; the slot still holds its start value.
  service_.Answer("DEV PROP_PORTTYPE", "ERR 0");
  service_.Fail("DEV STATUS_CONNECT", 21);
  EXPECT_EQ(" error. (21)\n", RunTestWith({}));
}

}  // namespace

#include "tool/test_command.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"

namespace {

class TestCommandTest : public ToolTestBase {};

TEST_F(TestCommandTest, StartsOrCancelsTheSelfTestOnAFullUps) {
  struct Case {
    Strings args;
    const char* line;
    const char* request;
  };
  const Case cases[] = {
      {{"test"}, "diagnosing UPS within 10 seconds.", "DEV CMD_SELFTEST 10"},
      {{"test", "-t", "30"},
       "diagnosing UPS within 30 seconds.",
       "DEV CMD_SELFTEST 30"},
      {{"test", "-C", "-t", "5"},
       "UPS diagnostic is canceled by user.",
       "DEV CMD_SELFTEST -1"},
  };
  Answer("DEV PROP_PORTTYPE", "2");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Clear();
    // The self-test's own answer is not looked at.
    Fail(c.request, 4);
    EXPECT_EQ(Lines({c.line}), RunOk(c.args));
    EXPECT_EQ((Strings{"DEV PROP_PORTTYPE", c.request}), requests());
  }
}

TEST_F(TestCommandTest, BasicUpsSendsNothingMore) {
  Answer("DEV PROP_PORTTYPE", "1");
  EXPECT_EQ("this UPS is not support test command.\n", RunOk({"test"}));
  EXPECT_EQ(Strings{"DEV PROP_PORTTYPE"}, requests());
}

TEST_F(TestCommandTest, FailedPortTypeAsksForContact) {
  const char* const cases[][2] = {
      {"ERR 8", "the service can't connect with UPS unit.\n"},
      {"1", ""},
      // No value was read in this run: the code is shown.
      {"ERR 5", " error. (5)\n"},
  };
  Fail("DEV PROP_PORTTYPE", 8);
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    Clear();
    Answer("DEV STATUS_CONNECT", c[0]);
    EXPECT_EQ(c[1], RunOk({"test"}));
    EXPECT_EQ((Strings{"DEV PROP_PORTTYPE", "DEV STATUS_CONNECT"}), requests());
  }
}

}  // namespace

#include "tool/test_command.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"

namespace {

class TestCommandTest : public ToolTestBase {};

TEST_F(TestCommandTest, SelfTestByPortTypeAndContact) {
  struct Case {
    Strings args;
    const char* port_type;  // reply to DEV PROP_PORTTYPE
    const char* contact;    // reply to DEV STATUS_CONNECT
    const char* output;
    const char* request;  // sent after DEV PROP_PORTTYPE, if any
  };
  const Case cases[] = {
      // The self-test's own answer (ERR 99 here) is not looked at.
      {{"test"},
       "2",
       "1",
       "diagnosing UPS within 10 seconds.\n",
       "DEV CMD_SELFTEST 10"},
      {{"test", "-t", "30"},
       "2",
       "1",
       "diagnosing UPS within 30 seconds.\n",
       "DEV CMD_SELFTEST 30"},
      {{"test", "-C", "-t", "5"},
       "2",
       "1",
       "UPS diagnostic is canceled by user.\n",
       "DEV CMD_SELFTEST -1"},
      {{"test"}, "1", "1", "this UPS is not support test command.\n", nullptr},
      // A failed port-type query asks whether the service has contact; with
      // no value read in this run, a failure shows its code.
      {{"test"},
       "ERR 8",
       "ERR 8",
       "the service can't connect with UPS unit.\n",
       "DEV STATUS_CONNECT"},
      {{"test"}, "ERR 8", "1", "", "DEV STATUS_CONNECT"},
      {{"test"}, "ERR 8", "ERR 5", " error. (5)\n", "DEV STATUS_CONNECT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    Clear();
    Answer("DEV PROP_PORTTYPE", c.port_type);
    Answer("DEV STATUS_CONNECT", c.contact);
    EXPECT_EQ(c.output, RunOk(c.args));
    Strings expected = {"DEV PROP_PORTTYPE"};
    if (c.request != nullptr) expected.push_back(c.request);
    EXPECT_EQ(expected, requests());
  }
}

}  // namespace

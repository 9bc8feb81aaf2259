#include "tool/tool_entry.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/tool/tool_test_base.h"
#include "tool/help_texts.h"

namespace {

class ToolEntryTest : public ToolTestBase {};

TEST_F(ToolEntryTest, ParseFailureStopsBeforeConnecting) {
  EXPECT_EQ(255, Run({"status", "-bogus"}));
  EXPECT_EQ(Lines({"the status paramenter : -bogus is not acceptable.",
                   "please use \"kovra help status\" to get more detail."}),
            output());
  EXPECT_TRUE(all_requests().empty());
}

TEST_F(ToolEntryTest, RefusedConnectionStopsTheRun) {
  // Bound but not listening: connects to this port are refused.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), size));
  ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size));
  ServiceConnection connection;
  ToolTarget target{&connection, "127.0.0.1", ntohs(address.sin_port), &out_,
                    &clock_};
  const char* argv[] = {"kovra", "help"};
  EXPECT_EQ(255, RunTool(2, argv, target));
  EXPECT_EQ("can't connect with UPS service.\n", output());
  close(fd);
}

TEST_F(ToolEntryTest, RefusedLoginStopsTheRun) {
  Fail("USR NAME manager", 3);
  EXPECT_EQ(255, Run({"help"}));
  EXPECT_EQ("login error : 3.\n", output());
  EXPECT_EQ(Strings{"USR NAME manager"}, all_requests());
  Clear();
  Answer("USR NAME manager", "OK");
  Answer("USR PASS quiet gate", "ERR x");
  EXPECT_EQ(255, Run({"test"}));
  EXPECT_EQ("login error : 22.\n", output());
  EXPECT_EQ((Strings{"USR NAME manager", "USR PASS quiet gate"}),
            all_requests());
}

TEST_F(ToolEntryTest, HelpLogAndConfigureShowTheirTextAfterLogin) {
  const Strings cases[] = {{"HELP", "Configure"}, {"configure"}};
  std::ostringstream configure_help, log_help;
  PrintHelp(kCommandConfigure, configure_help);
  PrintHelp(kCommandLog, log_help);
  for (const Strings& args : cases) {
    Clear();
    EXPECT_EQ(configure_help.str(), RunOk(args));
    EXPECT_EQ((Strings{"USR NAME manager", "USR PASS quiet gate"}),
              all_requests());
  }
  Clear();
  EXPECT_EQ(log_help.str(), RunOk({"log"}));
}

}  // namespace

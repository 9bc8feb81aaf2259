#include "tool/tool_entry.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/tool/tool_test_base.h"
#include "tool/help_texts.h"

namespace {

class ToolEntryTest : public ToolTestBase {};

// A loopback port with nothing listening: bound but never put in listen
// mode, so connects to it are refused.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (fd_ >= 0 &&
        bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~ClosedPort() {
    if (fd_ >= 0) close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST_F(ToolEntryTest, ParseFailureStopsBeforeConnecting) {
  EXPECT_EQ(255, Run({"status", "-bogus"}));
  EXPECT_EQ(Lines({"the status paramenter : -bogus is not acceptable.",
                   "please use \"kovra help status\" to get more detail."}),
            output());
  EXPECT_TRUE(service_.requests().empty());
}

TEST_F(ToolEntryTest, EveryCommandNeedsTheService) {
  ClosedPort closed;
  ASSERT_NE(0, closed.port());
  for (const char* command :
       {"status", "information", "log", "configure", "test", "help"}) {
    SCOPED_TRACE(command);
    std::ostringstream out;
    ServiceConnection connection;
    ToolTarget target{&connection, "127.0.0.1", closed.port(), &out, &clock_};
    const char* argv[] = {"kovra", command};
    EXPECT_EQ(255, RunTool(2, argv, target));
    EXPECT_EQ("can't connect with UPS service.\n", out.str());
  }
}

TEST_F(ToolEntryTest, RefusedUserNameStopsBeforeThePassword) {
  service_.Fail("USR NAME manager", 3);
  EXPECT_EQ(255, Run({"help"}));
  EXPECT_EQ("login error : 3.\n", output());
  EXPECT_EQ(std::vector<std::string>{"USR NAME manager"}, service_.requests());
}

TEST_F(ToolEntryTest, RefusedPasswordStopsTheRun) {
  service_.Answer("USR PASS quiet gate", "ERR x");
  EXPECT_EQ(255, Run({"test"}));
  EXPECT_EQ("login error : 22.\n", output());
  EXPECT_EQ(
      (std::vector<std::string>{"USR NAME manager", "USR PASS quiet gate"}),
      service_.requests());
}

TEST_F(ToolEntryTest, HelpRunsAfterLoginAndSendsNothingElse) {
  EXPECT_EQ(0, Run({"HELP", "Configure"}));
  std::ostringstream expected;
  PrintHelp(kCommandConfigure, expected);
  EXPECT_EQ(expected.str(), output());
  EXPECT_EQ(
      (std::vector<std::string>{"USR NAME manager", "USR PASS quiet gate"}),
      service_.requests());
}

TEST_F(ToolEntryTest, LogAndConfigureWithoutOptionsShowTheirHelp) {
  std::ostringstream log_help, configure_help;
  PrintHelp(kCommandLog, log_help);
  PrintHelp(kCommandConfigure, configure_help);
  EXPECT_EQ(0, Run({"log"}));
  EXPECT_EQ(log_help.str(), output());
  ClearOutput();
  EXPECT_EQ(0, Run({"configure"}));
  EXPECT_EQ(configure_help.str(), output());
  EXPECT_EQ(
      (std::vector<std::string>{"USR NAME manager", "USR PASS quiet gate",
                                "USR NAME manager", "USR PASS quiet gate"}),
      service_.requests());
}

TEST_F(ToolEntryTest, CommandFailuresStillExitWithZero) {
  service_.Fail("DEV PROP_PORTTYPE", 21);
  service_.Fail("DEV STATUS_CONNECT", 21);
  EXPECT_EQ(0, Run({"test"}));
  EXPECT_EQ(" error. (21)\n", output());
}

}  // namespace

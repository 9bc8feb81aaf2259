// The simulator program on its own: its link, its control commands on the
// real standard input and output, its wire log and how it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/e2e/sim_agent_rig.h"

namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

TEST(UpssimTest, AnswersOnItsLinkAndLogsTheWire) {
  SimAgentRig rig;
  std::string error;
  ASSERT_TRUE(rig.StartSim({"--model", "KV1000", "--firmware", "5678"}, &error))
      << error;
  int port = open(rig.folder().Join("ttyS0").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(port, 0);
  // A stray zero byte first, as the agent's port scan sends.
  ASSERT_EQ(3, write(port, "\0F\r", 3));
  std::string answer;
  for (int i = 0; i < 50 && answer.size() < 21; ++i) {
    pollfd wait{port, POLLIN, 0};
    char buffer[64];
    ssize_t count = poll(&wait, 1, 100) > 0 ? read(port, buffer, 64) : 0;
    if (count > 0) answer.append(buffer, static_cast<size_t>(count));
  }
  close(port);
  EXPECT_EQ(".KV1000    .x.<.5678\r", answer);
  EXPECT_TRUE(rig.WireLogHas(" ignored <00>\n", 5000));
  EXPECT_TRUE(rig.WireLogHas(" answer .KV1000    .x.<3C>.5678<0D>\n", 5000))
      << rig.Diagnostics();
  EXPECT_EQ("error: unknown command: fly", rig.Sim("fly"));
  // An overlong control line gets one error; CR LF ends a line too.
  EXPECT_EQ("error: line too long", rig.Sim(std::string(2000, 'x')));
  EXPECT_EQ("ok", rig.Sim("buzzer on\r"));
  EXPECT_NE(std::string::npos, rig.Sim("status").find("buzzer on\n"));
}

TEST(UpssimTest, EndsOnQuitEndOfInputAndSignalsAndRemovesLink) {
  // -1: the quit command, 0: end of input, else a signal.
  for (int signal_number : {-1, 0, SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal_number);
    SimAgentRig rig;
    std::string error;
    ASSERT_TRUE(rig.StartSim({}, &error)) << error;
    if (signal_number == -1) {
      rig.sim().WriteLine("quit");
    } else if (signal_number == 0) {
      rig.sim().CloseInput();
    } else {
      rig.sim().Signal(signal_number);
    }
    int status = -1;
    ASSERT_TRUE(rig.sim().Wait(10000, &status));
    EXPECT_EQ(0, status);
    EXPECT_FALSE(Exists(rig.folder().Join("ttyS0")));
  }
}

TEST(UpssimTest, BadCommandLineExitsWithUsage) {
  TempDir folder;
  ChildProcess sim;
  ASSERT_TRUE(sim.Start(
      {UPSSIM_PATH, "--model", "9999VA", "--link", folder.Join("ttyS0")},
      folder.Join("err")));
  int status = -1;
  ASSERT_TRUE(sim.Wait(10000, &status));
  EXPECT_EQ(2, status);
  EXPECT_FALSE(Exists(folder.Join("ttyS0")));
}

}  // namespace

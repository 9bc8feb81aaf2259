// The simulator program on its own: its link, its control commands on the
// real standard input and output, its wire log and how it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/e2e/sim_agent_rig.h"
#include "tests/support/pseudo_terminal.h"

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
  char buffer[64];
  while (answer.size() < 21 && PseudoTerminal::WaitReadable(port, 5000)) {
    ssize_t count = read(port, buffer, sizeof(buffer));
    if (count <= 0) break;
    answer.append(buffer, static_cast<size_t>(count));
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

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

class UpssimTest : public ::testing::Test {
 protected:
  void StartSim(const std::vector<std::string>& args = {}) {
    std::string error;
    ASSERT_TRUE(rig_.StartSim(args, &error)) << error;
  }

  bool LinkExists() {
    struct stat info {};
    return lstat(rig_.folder().File("ttyS0").c_str(), &info) == 0;
  }

  // Writes a request to the port and reads up to `want` answer bytes within
  // 2 s.
  std::string Exchange(const std::string& request, size_t want) {
    int port = open(rig_.folder().File("ttyS0").c_str(), O_RDWR | O_NOCTTY);
    if (port < 0) return "(cannot open port)";
    for (char c : request) {
      if (write(port, &c, 1) != 1) break;
      usleep(20000);
    }
    std::string answer;
    for (int i = 0; i < 20 && answer.size() < want; ++i) {
      pollfd wait{port, POLLIN, 0};
      if (poll(&wait, 1, 100) <= 0) continue;
      char buffer[64];
      ssize_t count = read(port, buffer, sizeof(buffer));
      if (count > 0) answer.append(buffer, static_cast<size_t>(count));
    }
    close(port);
    return answer;
  }

  SimAgentRig rig_;
};

TEST_F(UpssimTest, AnswersOnItsLinkAndLogsTheWire) {
  StartSim({"--model", "KV1000", "--firmware", "5678"});
  // A stray zero byte first, as the agent's port scan sends.
  std::string answer = Exchange(std::string("\0F\r", 3), 21);
  EXPECT_EQ(std::string(".KV1000    .") + static_cast<char>(120) + "." +
                static_cast<char>(60) + ".5678\r",
            answer);
  EXPECT_TRUE(rig_.WireLogHas(" ignored <00>\n", 2000));
  EXPECT_TRUE(rig_.WireLogHas(" request F<0D>\n", 2000));
  EXPECT_TRUE(rig_.WireLogHas(" answer .KV1000    .x.<3C>.5678<0D>\n", 2000))
      << rig_.Diagnostics();
}

TEST_F(UpssimTest, ControlCommandsChangeWhatTheUnitSends) {
  StartSim();
  EXPECT_EQ("ok", rig_.Sim("utility fail"));
  std::string frame = Exchange("D\r", 14);
  ASSERT_EQ(14u, frame.size());
  EXPECT_EQ(0x80, static_cast<uint8_t>(frame[9]) & 0x80);
  EXPECT_EQ("error: unknown command: fly", rig_.Sim("fly"));
  std::string status = rig_.Sim("status");
  EXPECT_NE(std::string::npos, status.find("utility fail\n")) << status;
  EXPECT_EQ("ok", rig_.Sim("silent on"));
  EXPECT_EQ("", Exchange("D\r", 14));
}

TEST_F(UpssimTest, EndsOnEndOfInputAndRemovesLink) {
  StartSim();
  rig_.sim().CloseInput();
  int status = -1;
  ASSERT_TRUE(rig_.sim().Wait(5000, &status));
  EXPECT_EQ(0, status);
  EXPECT_FALSE(LinkExists());
}

TEST_F(UpssimTest, EndsOnSignalsAndRemovesLink) {
  for (int signal_number : {SIGTERM, SIGINT}) {
    SimAgentRig rig;
    std::string error;
    ASSERT_TRUE(rig.StartSim({}, &error)) << error;
    rig.sim().Signal(signal_number);
    int status = -1;
    ASSERT_TRUE(rig.sim().Wait(5000, &status)) << signal_number;
    EXPECT_EQ(0, status);
    struct stat info {};
    EXPECT_NE(0, lstat(rig.folder().File("ttyS0").c_str(), &info));
  }
}

TEST_F(UpssimTest, BadCommandLineExitsWithUsage) {
  ChildProcess sim;
  ASSERT_TRUE(sim.Start(
      {UPSSIM_PATH, "--model", "9999VA", "--link", rig_.folder().File("ttyS0")},
      {}, rig_.folder().File("err")));
  int status = -1;
  ASSERT_TRUE(sim.Wait(5000, &status));
  EXPECT_EQ(2, status);
  EXPECT_FALSE(LinkExists());
}

}  // namespace

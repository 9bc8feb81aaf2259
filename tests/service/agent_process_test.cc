#include "service/agent_process.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

class AgentProcessTest : public ::testing::Test {
 protected:
  // Writes an executable shell script standing in for the agent.
  std::string Script(const std::string& body) {
    std::string path = dir_.Join("agent.sh");
    FILE* file = std::fopen(path.c_str(), "w");
    EXPECT_NE(nullptr, file);
    std::fprintf(file, "#!/bin/sh\n%s\n", body.c_str());
    std::fclose(file);
    chmod(path.c_str(), 0755);
    return path;
  }

  // Reads one line from fd, waiting at most five seconds for each byte.
  static std::string ReadLine(int fd) {
    std::string line;
    for (;;) {
      struct pollfd entry = {fd, POLLIN, 0};
      if (poll(&entry, 1, 5000) <= 0) return line + "<timeout>";
      char c;
      if (read(fd, &c, 1) <= 0) return line + "<eof>";
      if (c == '\n') return line;
      line += c;
    }
  }

  TempDir dir_;
};

TEST_F(AgentProcessTest, PassesTheSelectionAndTalksOverPipes) {
  AgentProcess agent(
      Script("echo \"args $1 $2 $KOVRAD_TEST_MARK\"\n"
             "while read line; do echo \"$line ok\"; done"));
  setenv("KOVRAD_TEST_MARK", "env-passed", 1);
  std::string error;
  ASSERT_TRUE(agent.Start(2, 3, &error)) << error;
  EXPECT_EQ("args 2 3 env-passed", ReadLine(agent.ReplyFd()));
  ASSERT_EQ(3, write(agent.CommandFd(), "S0\n", 3));
  EXPECT_EQ("S0 ok", ReadLine(agent.ReplyFd()));
  // Closing its input ends the agent well within the grace time.
  agent.Stop(5000);
  EXPECT_EQ(-1, agent.CommandFd());
  EXPECT_EQ(-1, agent.ReplyFd());
}

TEST_F(AgentProcessTest, KillEndsAnAgentThatIgnoresItsInputAndSignals) {
  AgentProcess agent(Script("trap '' TERM\nwhile true; do sleep 1; done"));
  std::string error;
  ASSERT_TRUE(agent.Start(1, 0, &error)) << error;
  EXPECT_EQ("ended by signal 9", agent.Kill());

  // A program that cannot be run: the child ends at once, not as a copy of
  // the test.
  AgentProcess missing(dir_.Join("no-such-agent"));
  ASSERT_TRUE(missing.Start(1, 0, &error)) << error;
  EXPECT_EQ("<eof>", ReadLine(missing.ReplyFd()));
  EXPECT_EQ("exited with status 127", missing.Kill());
}

}  // namespace

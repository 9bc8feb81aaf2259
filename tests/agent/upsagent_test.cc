// End-to-end tests of the real upsagent program through its standard input
// and output, with the serial device pattern pointing into an empty folder.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kLimitMillis = 10000;

struct Outcome {
  std::string output;
  int status = -1;  // exit status; -1 when killed or not ended in time
};

// Runs upsagent (with SIGPIPE at its default, so the agent must ignore it
// itself) and writes the input. Then either closes its input and reads its
// output to the end, or, when the reader vanishes, closes its output first
// and keeps the input open. Every wait is bounded.
Outcome RunAgent(const char* argument, const std::string& pattern,
                 const std::string& input, bool reader_vanishes) {
  Outcome outcome;
  int in[2];
  int out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return outcome;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    signal(SIGPIPE, SIG_DFL);
    setenv("UPSAGENT_SERIAL_PATTERN", pattern.c_str(), 1);
    execl(UPSAGENT_PATH, UPSAGENT_PATH, argument, argument ? "0" : nullptr,
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (reader_vanishes) close(out[0]);
  EXPECT_EQ(static_cast<ssize_t>(input.size()),
            write(in[1], input.data(), input.size()));
  if (!reader_vanishes) {
    close(in[1]);
    char buffer[512];
    ssize_t got = 0;
    struct pollfd wait = {out[0], POLLIN, 0};
    while (poll(&wait, 1, kLimitMillis) == 1 &&
           (got = read(out[0], buffer, sizeof buffer)) > 0) {
      outcome.output.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
  }
  int status = 0;
  for (int waited = 0; waited < kLimitMillis; waited += 10) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    usleep(10000);
  }
  if (outcome.status == -1 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  if (reader_vanishes) close(in[1]);
  return outcome;
}

class UpsagentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    ASSERT_FALSE(folder_.path().empty());
  }
  std::string Pattern() const { return folder_.Join("ttyS%d"); }

  TempDir folder_;
};

TEST_F(UpsagentTest, AnswersWithoutSerialPortsAndExitsOnEndOfInput) {
  // After C4 detection runs again for the automatic selection; an
  // over-long line gets one reply.
  Outcome outcome = RunAgent(
      nullptr, Pattern(),
      "S0\nR37\nR23\nC4 1 0\nR23\nX1\n" + std::string(300, 'R') + "\nR24\n",
      false);
  EXPECT_EQ(
      "S0E 8\nR37 0.0.None,1.0.Auto\nR23 0\nC4E 20\nR23 1\nX1E 1\nR-1E 16\n"
      "R24 0\n",
      outcome.output);
  EXPECT_EQ(0, outcome.status);
}

// A 32-bit agent took 99999999999 for the largest long (strtol saturates
// there) and selected media type 2147483647 instead of the automatic one.
TEST_F(UpsagentTest, OutOfRangeMediaArgumentCountsAsZeroWith32BitLong) {
  Outcome outcome = RunAgent("99999999999", Pattern(), "R23\nR24\n", false);
  EXPECT_EQ("R23 0\nR24 0\n", outcome.output);
  EXPECT_EQ(0, outcome.status);
}

TEST_F(UpsagentTest, VanishedReaderEndsTheAgentWithStatusZero) {
  EXPECT_EQ(0, RunAgent("1", Pattern(), "S0\n", true).status);
}

}  // namespace

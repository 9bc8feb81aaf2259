// End-to-end tests of the real upsagent program through its standard input
// and output, with the serial device pattern pointing into an empty folder.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kLimitMillis = 10000;

// One running upsagent with pipes on its standard input and output.
class Agent {
 public:
  Agent(const std::vector<std::string>& arguments, const std::string& pattern) {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]);
      close(in[1]);
      close(out[0]);
      close(out[1]);
      setenv("UPSAGENT_SERIAL_PATTERN", pattern.c_str(), 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(UPSAGENT_PATH));
      for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
      }
      argv.push_back(nullptr);
      execv(UPSAGENT_PATH, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }

  ~Agent() {
    CloseInput();
    CloseOutput();
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }

  void Send(const std::string& line) {
    std::string bytes = line + "\n";
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()),
              write(input_, bytes.data(), bytes.size()));
  }

  // The next reply line without its newline, or "<none>" when none comes
  // within the limit.
  std::string ReadLine() {
    std::string line;
    for (;;) {
      size_t newline = pending_.find('\n');
      if (newline != std::string::npos) {
        line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        return line;
      }
      struct pollfd wait = {output_, POLLIN, 0};
      if (poll(&wait, 1, kLimitMillis) != 1) return "<none>";
      char buffer[256];
      ssize_t got = read(output_, buffer, sizeof(buffer));
      if (got <= 0) return "<none>";
      pending_.append(buffer, static_cast<size_t>(got));
    }
  }

  // Sends a line and returns its reply.
  std::string Ask(const std::string& line) {
    Send(line);
    return ReadLine();
  }

  void CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }
  void CloseOutput() {
    if (output_ >= 0) close(output_);
    output_ = -1;
  }

  // The exit status, or -1 when the agent did not end within the limit or
  // ended by a signal.
  int WaitExit() {
    for (int waited = 0; waited < kLimitMillis; waited += 10) {
      int status = 0;
      pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
};

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
  Agent agent({}, Pattern());
  ASSERT_TRUE(agent.started());
  EXPECT_EQ("S0E 8", agent.Ask("S0"));
  EXPECT_EQ("R37 0.0.None,1.0.Auto", agent.Ask("R37"));
  EXPECT_EQ("R23 0", agent.Ask("R23"));
  EXPECT_EQ("C4E 20", agent.Ask("C4 1 0"));
  // Detection ran again for the automatic selection.
  EXPECT_EQ("R23 1", agent.Ask("R23"));
  agent.CloseInput();
  EXPECT_EQ(0, agent.WaitExit());
}

TEST_F(UpsagentTest, AnswersBackToBackLinesInOrder) {
  Agent agent({"1", "0"}, Pattern());
  ASSERT_TRUE(agent.started());
  agent.Send("S0\nX1\nR23\n" + std::string(300, 'R') + "\nR24");
  EXPECT_EQ("S0E 8", agent.ReadLine());
  EXPECT_EQ("X1E 1", agent.ReadLine());
  EXPECT_EQ("R23 1", agent.ReadLine());
  EXPECT_EQ("R-1E 16", agent.ReadLine());
  EXPECT_EQ("R24 0", agent.ReadLine());
  agent.CloseInput();
  EXPECT_EQ(0, agent.WaitExit());
}

TEST_F(UpsagentTest, VanishedReaderEndsTheAgentWithStatusZero) {
  Agent agent({}, Pattern());
  ASSERT_TRUE(agent.started());
  EXPECT_EQ("S0E 8", agent.Ask("S0"));
  agent.CloseOutput();
  agent.Send("S0");
  EXPECT_EQ(0, agent.WaitExit());
}

}  // namespace

#include "service/child_runner.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

void SleepMillis(int32_t millis) {
  struct timespec pause = {0, static_cast<long>(millis) * 1000000L};
  nanosleep(&pause, nullptr);
}

// True when the process is gone or only a zombie waiting for its parent.
bool ProcessGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string text((std::istreambuf_iterator<char>(stat)),
                   std::istreambuf_iterator<char>());
  size_t paren = text.rfind(')');
  return paren == std::string::npos || paren + 2 >= text.size() ||
         text[paren + 2] == 'Z' || text[paren + 2] == 'X';
}

class ChildRunnerTest : public ::testing::Test {
 protected:
  ChildRunner::Options Shell(const std::string& command) {
    ChildRunner::Options options;
    options.argv = ChildRunner::ShellArgv(command);
    options.output = ChildRunner::Output::kCapture;
    options.limit_ms = 20000;
    options.kill_grace_ms = 2000;
    return options;
  }

  // Polls (real time passing, fake time standing) until the child is done,
  // for at most five real seconds.
  bool PollUntilDone(ChildRunner* runner) {
    for (int i = 0; i < 500 && !runner->Done(); ++i) {
      runner->Poll(clock_.MonotonicMillis());
      if (!runner->Done()) SleepMillis(10);
    }
    return runner->Done();
  }

  // Waits (at most five real seconds) until the file exists.
  bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
      if (access(path.c_str(), F_OK) == 0) return true;
      SleepMillis(10);
    }
    return false;
  }

  FakeClock clock_;
  TempDir dir_;
};

TEST_F(ChildRunnerTest, CollectsOutputExitStatusAndEnvironment) {
  ChildRunner runner;
  ChildRunner::Options options =
      Shell("printf 'one\\n%s\\n' \"$KOVRA_TEST_VALUE\"; exit 3");
  options.env = {"KOVRA_TEST_VALUE=two words"};
  ASSERT_TRUE(runner.Start(options, clock_.MonotonicMillis()));
  EXPECT_GE(runner.fd(), 0);
  ASSERT_TRUE(PollUntilDone(&runner));
  EXPECT_EQ("one\ntwo words\n", runner.output());
  EXPECT_TRUE(runner.outcome().exited);
  EXPECT_EQ(3, runner.outcome().exit_code);
  EXPECT_FALSE(runner.outcome().timed_out);
  EXPECT_EQ(-1, runner.fd());
  EXPECT_EQ("exited with status 3", runner.Describe());
}

TEST_F(ChildRunnerTest, ChildThatRedirectsItsOutputIsStoppedAtItsLimit) {
  // The child closes the pipe at once and keeps running, with a grandchild
  // in its group: the limit must still hold, and stop both.
  std::string pid_file = dir_.Join("grandchild");
  ChildRunner runner;
  ASSERT_TRUE(runner.Start(
      Shell("sleep 30 >/dev/null & echo $! > " + pid_file +
            ".tmp; mv " + pid_file + ".tmp " + pid_file +
            "; exec sleep 30 >/dev/null"),
      clock_.MonotonicMillis()));
  ASSERT_TRUE(WaitForFile(pid_file));
  std::ifstream file(pid_file);
  pid_t grandchild = 0;
  file >> grandchild;
  ASSERT_GT(grandchild, 0);

  clock_.Advance(19999);
  runner.Poll(clock_.MonotonicMillis());
  EXPECT_EQ(ChildRunner::State::kRunning, runner.state());
  EXPECT_EQ(clock_.MonotonicMillis() + 1, runner.NextDeadline());

  clock_.Advance(1);
  runner.Poll(clock_.MonotonicMillis());
  ASSERT_TRUE(PollUntilDone(&runner));
  EXPECT_TRUE(runner.outcome().timed_out);
  EXPECT_EQ(SIGTERM, runner.outcome().signal);
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) {
    gone = ProcessGone(grandchild);
    if (!gone) SleepMillis(10);
  }
  EXPECT_TRUE(gone) << "the grandchild " << grandchild << " still runs";
  if (!gone) kill(grandchild, SIGKILL);
}

TEST_F(ChildRunnerTest, ChildThatIgnoresSigtermIsKilledAfterTheGrace) {
  std::string ready = dir_.Join("ready");
  ChildRunner runner;
  ASSERT_TRUE(runner.Start(
      Shell("trap '' TERM; touch " + ready + "; exec sleep 30"),
      clock_.MonotonicMillis()));
  ASSERT_TRUE(WaitForFile(ready));
  clock_.Advance(20000);
  runner.Poll(clock_.MonotonicMillis());
  EXPECT_EQ(ChildRunner::State::kStopping, runner.state());
  SleepMillis(50);
  runner.Poll(clock_.MonotonicMillis());
  EXPECT_EQ(ChildRunner::State::kStopping, runner.state());

  clock_.Advance(2000);
  ASSERT_TRUE(PollUntilDone(&runner));
  EXPECT_TRUE(runner.outcome().timed_out);
  EXPECT_EQ(SIGKILL, runner.outcome().signal);
  EXPECT_FALSE(runner.outcome().abandoned);
}

TEST_F(ChildRunnerTest, ProgramThatCannotRunIsReportedNotStarted) {
  ChildRunner runner;
  ChildRunner::Options options;
  options.argv = {dir_.Join("missing")};
  EXPECT_FALSE(runner.Start(options, clock_.MonotonicMillis()));
  EXPECT_TRUE(runner.Done());
  EXPECT_FALSE(runner.outcome().started);
  EXPECT_NE(std::string::npos, runner.Describe().find("missing"));
}

TEST_F(ChildRunnerTest, OutputPastTheBoundIsReadAndDropped) {
  ChildRunner runner;
  ChildRunner::Options options = Shell("head -c 300000 /dev/zero; exit 0");
  options.max_output = 1000;
  ASSERT_TRUE(runner.Start(options, clock_.MonotonicMillis()));
  ASSERT_TRUE(PollUntilDone(&runner));
  EXPECT_EQ(1000u, runner.output().size());
  EXPECT_TRUE(runner.outcome().output_truncated);
  EXPECT_EQ(0, runner.outcome().exit_code);
}

TEST_F(ChildRunnerTest, ServiceDescriptorsDoNotReachTheChild) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));  // deliberately without close-on-exec
  ChildRunner runner;
  ASSERT_TRUE(runner.Start(
      Shell("if [ -e /proc/self/fd/" + std::to_string(fds[0]) +
            " ]; then echo leaked; else echo closed; fi"),
      clock_.MonotonicMillis()));
  ASSERT_TRUE(PollUntilDone(&runner));
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ("closed\n", runner.output());
}

}  // namespace

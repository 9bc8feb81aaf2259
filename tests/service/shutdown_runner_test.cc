#include "service/shutdown_runner.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/database.h"
#include "service/log_store.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

class ShutdownRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    db_ = Database::Open(dir_.Join("kovrad.db"), &error);
    ASSERT_TRUE(db_) << error;
    logs_.reset(new LogStore(db_.get(), LogStore::Limits()));
    config_.save_hooks_dir = dir_.Join("hooks");
    config_.hook_timeout_ms = 20000;
    config_.save_hooks_budget_ms = 5000;
    config_.service_uid = geteuid();
    ASSERT_EQ(0, mkdir(config_.save_hooks_dir.c_str(), 0755));
  }

  void Hook(const std::string& name, const std::string& body) {
    std::string path = config_.save_hooks_dir + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ASSERT_EQ(0, chmod(path.c_str(), 0755));
  }

  // One turn of a loop: a short poll on the runner's descriptor (real time
  // passes, the fake clock stands), then a tick. True when the hooks just
  // finished.
  bool Turn(ShutdownRunner* runner) {
    struct pollfd entry = {runner->fd(), POLLIN, 0};
    poll(&entry, entry.fd >= 0 ? 1 : 0, 10);
    return runner->Tick(clock_.MonotonicMillis());
  }

  TempDir dir_;
  FakeClock clock_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<LogStore> logs_;
  ShutdownRunnerConfig config_;
};

TEST_F(ShutdownRunnerTest,
       HooksPastTheBudgetAreStoppedAndTheirEndReportedOnce) {
  Hook("10-save", "printf 'editor\\t/home/a/notes.txt\\n'");
  Hook("20-stuck", "exec >/dev/null 2>&1\nexec sleep 300");
  Hook("30-late", "printf 'late\\t/x\\n'");
  ShutdownRunner runner(config_, logs_.get(), &clock_);
  runner.StartSaveHooks();
  EXPECT_TRUE(runner.busy());
  // The first hook ends by itself; the second sleeps while time stands.
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(Turn(&runner));
  EXPECT_TRUE(runner.busy());
  EXPECT_GE(runner.NextWakeMs(clock_.MonotonicMillis()), 0);
  // The budget passes: SIGTERM to the stuck hook's group, the third is
  // skipped.
  clock_.Advance(config_.save_hooks_budget_ms);
  int finished = 0;
  for (int i = 0; i < 300 && finished == 0; ++i) {
    if (Turn(&runner)) ++finished;
    if (i == 100) clock_.Advance(3000);  // past the kill grace, if need be
  }
  EXPECT_EQ(1, finished);
  EXPECT_FALSE(runner.busy());
  EXPECT_EQ(-1, runner.fd());
  EXPECT_EQ(-1, runner.NextWakeMs(clock_.MonotonicMillis()));
  EXPECT_FALSE(Turn(&runner));  // reported once
  runner.StartSaveHooks();      // and never run twice
  EXPECT_FALSE(runner.busy());
  int32_t start = 0;
  ASSERT_TRUE(logs_->StartKey(kSavedFileLog, &start));
  int32_t next = 0;
  std::vector<std::string> entries;
  ASSERT_TRUE(logs_->Page(kSavedFileLog, start, &next, &entries));
  EXPECT_EQ(std::vector<std::string>{"editor\t/home/a/notes.txt"}, entries);
}

TEST_F(ShutdownRunnerTest, ShutdownCommandRunsWithoutBlockingAndIsReaped) {
  config_.shutdown_command = "sleep 0.2; touch '" + dir_.Join("down") + "'";
  ShutdownRunner runner(config_, logs_.get(), &clock_);
  auto start = std::chrono::steady_clock::now();
  runner.RunShutdownCommand();
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)
                .count(),
            150);
  EXPECT_TRUE(runner.busy());
  for (int i = 0; i < 500 && runner.busy(); ++i) Turn(&runner);
  EXPECT_FALSE(runner.busy());
  EXPECT_EQ(0, access(dir_.Join("down").c_str(), F_OK));
}

TEST_F(ShutdownRunnerTest, StoppingTheServiceStopsARunningHookAtOnce) {
  Hook("10-stuck", "echo $$ > '" + dir_.Join("pid") + "'\nexec sleep 300");
  pid_t pid = -1;
  auto start = std::chrono::steady_clock::now();
  {
    ShutdownRunner runner(config_, logs_.get(), &clock_);
    runner.StartSaveHooks();
    for (int i = 0; i < 300 && pid <= 0; ++i) {
      Turn(&runner);
      std::ifstream(dir_.Join("pid")) >> pid;
    }
    ASSERT_GT(pid, 0);
  }
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)
                .count(),
            5000);
  // It was killed with its group; what is left is at most a zombie that
  // the service's exit, or here the test, reaps.
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    int status = 0;
    pid_t got = waitpid(pid, &status, WNOHANG);
    ended = (got == pid && WIFSIGNALED(status)) || (got < 0 && errno == ECHILD);
    if (!ended) usleep(10000);
  }
  EXPECT_TRUE(ended);
}

}  // namespace

#include "service/save_hook_run.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

void SleepMillis(int32_t millis) {
  struct timespec pause = {0, static_cast<long>(millis) * 1000000L};
  nanosleep(&pause, nullptr);
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

class SaveHookRunTest : public ::testing::Test {
 protected:
  SaveHookRunTest() { hooks_ = dir_.Join("hooks"); mkdir(hooks_.c_str(), 0755); }

  void Hook(const std::string& name, const std::string& body,
            mode_t mode = 0755) {
    std::string path = hooks_ + "/" + name;
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fprintf(file, "#!/bin/sh\n%s\n", body.c_str());
    std::fclose(file);
    chmod(path.c_str(), mode);
  }

  // Ticks (real time passing, fake time standing) until pred holds, for at
  // most five real seconds.
  template <typename Pred>
  bool TickUntil(SaveHookRun* run, Pred pred) {
    for (int i = 0; i < 500; ++i) {
      run->Tick(clock_.MonotonicMillis());
      if (pred()) return true;
      SleepMillis(10);
    }
    return false;
  }

  bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
      if (access(path.c_str(), F_OK) == 0) return true;
      SleepMillis(10);
    }
    return false;
  }

  FakeClock clock_;
  TempDir dir_;
  std::string hooks_;
  SaveHookLimits limits_;
};

TEST_F(SaveHookRunTest, HookThatRedirectsItsOutputAndSleepsIsStoppedAtItsLimit) {
  Hook("10-hang", "exec >/dev/null; touch " + dir_.Join("hang") +
                      "; sleep 30");
  Hook("20-next", "printf 'next\\t/srv/next\\n'");
  SaveHookRun run(hooks_, limits_, geteuid());
  run.Start(clock_.MonotonicMillis());
  ASSERT_TRUE(WaitForFile(dir_.Join("hang")));
  // The hook's pipe is closed but the hook runs on: still waiting for it.
  SleepMillis(50);
  run.Tick(clock_.MonotonicMillis());
  EXPECT_FALSE(run.Done());
  int64_t wake = run.NextWakeMs(clock_.MonotonicMillis());
  EXPECT_LE(wake, clock_.MonotonicMillis() + 1000);

  clock_.Advance(limits_.hook_timeout_ms);
  ASSERT_TRUE(TickUntil(&run, [&] { return run.Done(); }));
  EXPECT_EQ(std::vector<std::string>{"next\t/srv/next"}, run.result().saved);
  EXPECT_TRUE(Contains(run.result().diagnostics, "10-hang took too long"));
}

TEST_F(SaveHookRunTest, OneBudgetCoversAllHooksAndLaterHooksAreSkipped) {
  limits_.budget_ms = 30000;
  Hook("10-slow", "exec sleep 30 >/dev/null");
  Hook("20-slow", "exec sleep 30 >/dev/null");
  Hook("30-never", "touch " + dir_.Join("ran-30"));
  SaveHookRun run(hooks_, limits_, geteuid());
  run.Start(clock_.MonotonicMillis());

  clock_.Advance(20000);  // the first hook's own limit
  ASSERT_TRUE(TickUntil(&run, [&] {
    return Contains(run.result().diagnostics, "10-slow took too long");
  }));
  EXPECT_FALSE(run.Done());
  // The second hook only has what is left of the budget: 10 s, not 20 s.
  clock_.Advance(10000);
  ASSERT_TRUE(TickUntil(&run, [&] { return run.Done(); }));
  EXPECT_TRUE(Contains(run.result().diagnostics, "20-slow took too long"));
  EXPECT_TRUE(Contains(run.result().diagnostics, "not run: " + hooks_ +
                                                     "/30-never"));
  EXPECT_NE(0, access(dir_.Join("ran-30").c_str(), F_OK));
}

TEST_F(SaveHookRunTest, UntrustedHooksAreSkippedWithADiagnostic) {
  Hook("10-group", "touch " + dir_.Join("ran-10"), 0775);
  Hook("20-others", "touch " + dir_.Join("ran-20"), 0757);
  Hook("30-ok", "printf 'ok\\t/srv/ok\\n'");
  Hook("40-off", "touch " + dir_.Join("ran-40"), 0644);
  bool as_root = geteuid() == 0;
  if (as_root) {
    Hook("50-nobody", "touch " + dir_.Join("ran-50"));
    ASSERT_EQ(0, chown((hooks_ + "/50-nobody").c_str(), 65534, 65534));
  }
  SaveHookRun run(hooks_, limits_, geteuid());
  run.Start(clock_.MonotonicMillis());
  ASSERT_TRUE(TickUntil(&run, [&] { return run.Done(); }));
  EXPECT_EQ(std::vector<std::string>{"ok\t/srv/ok"}, run.result().saved);
  EXPECT_TRUE(Contains(run.result().diagnostics,
                       "10-group skipped: writable by group or others"));
  EXPECT_TRUE(Contains(run.result().diagnostics,
                       "20-others skipped: writable by group or others"));
  EXPECT_EQ(as_root, Contains(run.result().diagnostics,
                              "50-nobody skipped: owned by uid 65534"));
  EXPECT_EQ(as_root ? 3u : 2u, run.result().diagnostics.size());
  for (const char* name : {"ran-10", "ran-20", "ran-40", "ran-50"}) {
    EXPECT_NE(0, access(dir_.Join(name).c_str(), F_OK)) << name;
  }
}

TEST_F(SaveHookRunTest, FolderWritableByOthersRunsNoHook) {
  Hook("10-ok", "touch " + dir_.Join("ran"));
  chmod(hooks_.c_str(), 0777);
  SaveHookRun run(hooks_, limits_, geteuid());
  run.Start(clock_.MonotonicMillis());
  EXPECT_TRUE(run.Done());
  EXPECT_TRUE(Contains(run.result().diagnostics, "no hooks run"));
  EXPECT_NE(0, access(dir_.Join("ran").c_str(), F_OK));
}

}  // namespace

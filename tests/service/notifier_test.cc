#include "service/notifier.h"

#include <time.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/event_detector.h"
#include "tests/support/fake_clock.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace {

void SleepMillis(int32_t millis) {
  struct timespec pause = {0, static_cast<long>(millis) * 1000000L};
  nanosleep(&pause, nullptr);
}

class NotifierTest : public ::testing::Test {
 protected:
  NotifyEvent PowerFailure() {
    NotifyEvent event;
    event.code = kEventPowerFailure;
    event.text = "UPS power failure.";
    event.time = "2026/12/08 03:30:00";
    StatusSnapshot snapshot;
    snapshot.valid = true;
    snapshot.value[StatusSnapshot::kSlotConnected] = 1;
    snapshot.value[StatusSnapshot::kSlotInputVoltage] = 0;
    snapshot.value[StatusSnapshot::kSlotCapacity] = 87;
    snapshot.value[StatusSnapshot::kSlotPowerFail] = 1;
    snapshot.error[StatusSnapshot::kSlotTemperature] = 1;  // not reported
    event.status = NotifyStatusValues(snapshot, true);
    return event;
  }

  // Ticks (real time passing, fake time standing) until the notifier is
  // idle, for at most five real seconds.
  bool TickUntilIdle(Notifier* notifier) {
    for (int i = 0; i < 500 && !notifier->Idle(); ++i) {
      notifier->Tick(clock_.MonotonicMillis());
      if (!notifier->Idle()) SleepMillis(10);
    }
    return notifier->Idle();
  }

  FakeClock clock_;
  TempDir dir_;
  Notifier::Limits limits_;
};

TEST_F(NotifierTest, CommandSeesThePowerFailureEventAndTheStatus) {
  std::string out = dir_.Join("seen");
  Notifier notifier("env | grep ^KOVRA_ | LC_ALL=C sort > " + out, limits_);
  notifier.Notify(PowerFailure(), clock_.MonotonicMillis());
  ASSERT_TRUE(TickUntilIdle(&notifier));
  // Temperature is not reported by this unit, so it is not set.
  EXPECT_EQ(
      "KOVRA_BACKUP=0\n"
      "KOVRA_BATTERY_LOW=0\n"
      "KOVRA_CAPACITY=87\n"
      "KOVRA_CONNECTED=1\n"
      "KOVRA_EVENT=4\n"
      "KOVRA_EVENT_TEXT=UPS power failure.\n"
      "KOVRA_FREQUENCY=0\n"
      "KOVRA_INPUT_VOLTAGE=0\n"
      "KOVRA_LOAD=0\n"
      "KOVRA_OUTPUT_VOLTAGE=0\n"
      "KOVRA_POWER_FAIL=1\n"
      "KOVRA_TEST=0\n"
      "KOVRA_TIME=2026/12/08 03:30:00\n",
      ReadFile(out));
  EXPECT_TRUE(notifier.TakeDiagnostics().empty());
}

TEST_F(NotifierTest, FailuresAndTheQueueBoundAreReported) {
  limits_.max_running = 1;
  limits_.max_queued = 2;
  Notifier notifier("exit 5", limits_);
  for (int i = 0; i < 4; ++i) {
    notifier.Notify(PowerFailure(), clock_.MonotonicMillis());
  }
  // One runs, two wait, the fourth is dropped.
  EXPECT_EQ(1u, notifier.running());
  EXPECT_EQ(2u, notifier.queued());
  ASSERT_TRUE(TickUntilIdle(&notifier));
  std::vector<std::string> lines = notifier.TakeDiagnostics();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("notify command: 2 events waiting; event 4 not notified",
            lines[0]);
  EXPECT_EQ("notify command for event 4 exited with status 5", lines[1]);
}

TEST_F(NotifierTest, HangingCommandIsStoppedAtItsLimitAndTheNextRuns) {
  limits_.max_running = 1;
  std::string out = dir_.Join("second");
  Notifier notifier("[ \"$KOVRA_EVENT\" = 4 ] && exec sleep 30 >/dev/null; "
                    "echo $KOVRA_EVENT > " + out,
                    limits_);
  notifier.Notify(PowerFailure(), clock_.MonotonicMillis());
  NotifyEvent low = PowerFailure();
  low.code = kEventBatteryLow;
  notifier.Notify(low, clock_.MonotonicMillis());
  notifier.Tick(clock_.MonotonicMillis());
  EXPECT_EQ(1u, notifier.queued());
  EXPECT_EQ(clock_.MonotonicMillis() + 1000,
            notifier.NextWakeMs(clock_.MonotonicMillis()));
  clock_.Advance(limits_.timeout_ms);
  EXPECT_EQ(clock_.MonotonicMillis(),
            notifier.NextWakeMs(clock_.MonotonicMillis()));
  ASSERT_TRUE(TickUntilIdle(&notifier));
  EXPECT_EQ("6\n", ReadFile(out));
  std::vector<std::string> lines = notifier.TakeDiagnostics();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("notify command for event 4 stopped after 30000 ms", lines[0]);
}

}  // namespace

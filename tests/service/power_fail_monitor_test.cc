#include "service/power_fail_monitor.h"

#include <gtest/gtest.h>

namespace {

using Action = PowerFailMonitor::Action;

TEST(PowerFailMonitorTest, ShutdownBeginsOnceAfterTheDelayOnBattery) {
  PowerFailMonitor monitor;
  EXPECT_EQ(Action::kNone, monitor.Tick(0, false, false, true, 60));
  EXPECT_EQ(Action::kArmed, monitor.Tick(1000, true, false, true, 60));
  EXPECT_EQ(30000, monitor.RemainingMillis(31000));
  EXPECT_EQ(Action::kNone, monitor.Tick(60999, true, false, true, 60));
  EXPECT_EQ(Action::kBeginShutdown, monitor.Tick(61000, true, false, true, 60));
  EXPECT_TRUE(monitor.begun());
  // Once begun, a returning utility changes nothing.
  EXPECT_EQ(Action::kNone, monitor.Tick(62000, false, false, true, 60));
  EXPECT_EQ(Action::kNone, monitor.Tick(63000, true, true, true, 60));
}

TEST(PowerFailMonitorTest, UtilityReturnOrSwitchingOffCancels) {
  PowerFailMonitor monitor;
  EXPECT_EQ(Action::kArmed, monitor.Tick(0, true, false, true, 60));
  EXPECT_EQ(Action::kCancelled, monitor.Tick(5000, false, false, true, 60));
  // A new failure starts a new delay.
  EXPECT_EQ(Action::kArmed, monitor.Tick(10000, true, false, true, 60));
  EXPECT_EQ(Action::kNone, monitor.Tick(65000, true, false, true, 60));
  EXPECT_EQ(Action::kCancelled, monitor.Tick(66000, true, false, false, 60));
  EXPECT_EQ(Action::kNone, monitor.Tick(200000, true, false, false, 60));
}

TEST(PowerFailMonitorTest, LowBatteryOrZeroDelayBeginsAtOnce) {
  PowerFailMonitor armed;
  EXPECT_EQ(Action::kArmed, armed.Tick(0, true, false, true, 600));
  EXPECT_EQ(Action::kBeginShutdown, armed.Tick(3000, true, true, true, 600));

  PowerFailMonitor idle;
  EXPECT_EQ(Action::kNone, idle.Tick(0, false, true, true, 600));
  EXPECT_EQ(Action::kBeginShutdown, idle.Tick(0, true, true, true, 600));

  PowerFailMonitor no_delay;
  EXPECT_EQ(Action::kBeginShutdown, no_delay.Tick(0, true, false, true, 0));
}

}  // namespace

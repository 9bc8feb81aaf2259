#include "service/power_fail_monitor.h"

#include <gtest/gtest.h>

namespace {

using Action = PowerFailMonitor::Action;

TEST(PowerFailMonitorTest, FollowsTheUtilityBatteryAndSetting) {
  const struct {
    int64_t now_ms;
    bool on_battery;
    bool battery_low;
    bool enabled;
    int32_t delay_s;
    Action action;
  } kSteps[] = {
      {0, false, false, true, 60, Action::kNone},
      {1000, true, false, true, 60, Action::kArmed},
      {5000, false, false, true, 60, Action::kCancelled},
      {10000, true, false, true, 60, Action::kArmed},  // a new delay
      {69999, true, false, true, 60, Action::kNone},
      {70000, true, false, false, 60, Action::kCancelled},  // switched off
      {200000, true, false, false, 60, Action::kNone},
      {201000, true, false, true, 60, Action::kArmed},
      {261000, true, false, true, 60, Action::kBeginShutdown},
      // Once begun, nothing changes it.
      {262000, false, false, true, 60, Action::kNone},
      {263000, true, true, true, 60, Action::kNone},
  };
  PowerFailMonitor monitor;
  for (const auto& step : kSteps) {
    EXPECT_EQ(step.action,
              monitor.Tick(step.now_ms, step.on_battery, step.battery_low,
                           step.enabled, step.delay_s))
        << step.now_ms;
  }
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

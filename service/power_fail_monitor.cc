#include "service/power_fail_monitor.h"

PowerFailMonitor::Action PowerFailMonitor::Tick(int64_t now_ms, bool on_battery,
                                                bool battery_low, bool enabled,
                                                int32_t delay_s) {
  switch (state_) {
    case State::kBegun:
      return Action::kNone;
    case State::kIdle:
      if (!on_battery || !enabled) return Action::kNone;
      if (battery_low || delay_s <= 0) {
        state_ = State::kBegun;
        return Action::kBeginShutdown;
      }
      state_ = State::kArmed;
      deadline_ms_ = now_ms + static_cast<int64_t>(delay_s) * 1000;
      return Action::kArmed;
    case State::kArmed:
      if (!on_battery || !enabled) {
        state_ = State::kIdle;
        return Action::kCancelled;
      }
      if (battery_low || now_ms >= deadline_ms_) {
        state_ = State::kBegun;
        return Action::kBeginShutdown;
      }
      return Action::kNone;
  }
  return Action::kNone;
}

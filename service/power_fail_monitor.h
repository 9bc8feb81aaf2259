#pragma once

#include <cstdint>

// Decides when a power failure turns into a system shutdown: after a delay
// on battery, or at once when the battery runs low while on battery. A
// utility return before the shutdown has begun cancels it; once begun, it
// is never taken back.
class PowerFailMonitor final {
 public:
  enum class Action {
    kNone,
    kArmed,          // on battery: the shutdown will begin after the delay
    kCancelled,      // the utility came back (or the feature was switched off)
    kBeginShutdown,  // begin the shutdown now
  };

  // One look at the confirmed states. enabled is the shutdown-on-power-failure
  // setting, delay_s the seconds on battery before the shutdown begins.
  Action Tick(int64_t now_ms, bool on_battery, bool battery_low, bool enabled,
              int32_t delay_s);

 private:
  enum class State { kIdle, kArmed, kBegun };

  State state_ = State::kIdle;
  int64_t deadline_ms_ = 0;
};

#include "sim/sim_state.h"

#include <cstdio>

void SimState::StartTest(int64_t now_ms, int64_t duration_ms) {
  test_active = true;
  test_end_ms = now_ms + (duration_ms > 0 ? duration_ms : 0);
}

void SimState::CancelTest() {
  test_active = false;
  test_end_ms = 0;
}

void SimState::ScheduleShutdown(int64_t now_ms, int64_t off_delay_ms,
                                int64_t restore_after_ms) {
  shutdown_active = true;
  off_pending = true;
  off_at_ms = now_ms + (off_delay_ms > 0 ? off_delay_ms : 0);
  restore_on_utility = restore_after_ms < 0;
  restore_pending = restore_after_ms >= 0;
  restore_at_ms = restore_pending ? now_ms + restore_after_ms : 0;
}

void SimState::CancelShutdown() {
  shutdown_active = false;
  off_pending = false;
  restore_pending = false;
  restore_on_utility = false;
  output_on = true;
}

void SimState::SetUtilityFail(bool fail) {
  bool returned = utility_fail && !fail;
  utility_fail = fail;
  // An output that waits for the utility comes back once the shutdown that
  // switched it off has happened; a switch-off still pending keeps waiting.
  if (returned && restore_on_utility && !output_on && !off_pending) {
    restore_on_utility = false;
    shutdown_active = false;
    output_on = true;
  }
}

void SimState::AdvanceTimers(int64_t now_ms) {
  if (test_active && now_ms >= test_end_ms) CancelTest();
  if (off_pending && now_ms >= off_at_ms) {
    off_pending = false;
    output_on = false;
  }
  // A restore time before the switch-off time still switches off first, so
  // the output never skips the shutdown the agent asked for.
  if (restore_pending && !off_pending && now_ms >= restore_at_ms) {
    restore_pending = false;
    shutdown_active = false;
    output_on = true;
  }
}

std::string SimState::Describe() const {
  char buffer[640];
  std::snprintf(
      buffer, sizeof(buffer),
      "input %.1f\n"
      "output %.1f\n"
      "load %.1f\n"
      "capacity %.1f\n"
      "temperature %.1f\n"
      "frequency %.2f\n"
      "utility %s\n"
      "battery %s\n"
      "test %s\n"
      "shutdown %s\n"
      "buzzer %s\n"
      "output-power %s\n"
      "silent %s\n"
      "garbage %s\n"
      "battery-low-level %.0f\n"
      "backup-scale %d\n",
      input_volts, output_volts, load_percent, capacity_percent,
      temperature_celsius, frequency_hertz, utility_fail ? "fail" : "normal",
      battery_low ? "low" : "normal", test_active ? "on" : "off",
      shutdown_active ? "on" : "off", buzzer ? "on" : "off",
      output_on ? "on" : "off", silent ? "on" : "off", garbage ? "on" : "off",
      battery_low_level_percent, static_cast<int>(backup_scale_seconds));
  return buffer;
}

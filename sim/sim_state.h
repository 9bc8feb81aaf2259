#pragma once

#include <cstdint>
#include <string>

// The simulated unit's world in engineering units: what the mains, the
// battery and the load are doing, the unit's flags, its pending self-test and
// shutdown, and the state of the cable. Every unit kind (SimUnit) encodes its
// answers from this one state, the control commands change it, and the
// battery model moves it along in time. Times are milliseconds of the
// simulator's monotonic clock.
struct SimState {
  // Measurements.
  double input_volts = 120.0;   // mains voltage while the utility is present
  double output_volts = 120.0;  // output voltage while the output is on
  double load_percent = 30.0;   // of the rated load
  double capacity_percent = 100.0;
  double temperature_celsius = 30.0;
  double frequency_hertz = 60.0;

  // Flags as the unit reports them.
  bool utility_fail = false;
  bool battery_low = false;
  bool test_active = false;
  bool shutdown_active = false;
  bool buzzer = false;
  // False while a shutdown (or an empty battery) has switched the output off.
  bool output_on = true;

  // Pending self-test: ends at test_end_ms.
  int64_t test_end_ms = 0;
  // Pending shutdown: the output goes off at off_at_ms (while off_pending),
  // and comes back at restore_at_ms (while restore_pending) or, with
  // restore_on_utility, when the utility returns after a failure.
  bool off_pending = false;
  int64_t off_at_ms = 0;
  bool restore_pending = false;
  int64_t restore_at_ms = 0;
  bool restore_on_utility = false;

  // The cable: silent drops everything (no answers), garbage corrupts every
  // answer on its way to the agent.
  bool silent = false;
  bool garbage = false;

  // Battery parameters of the simulated model, set by the unit: the capacity
  // at which battery low comes on, and the backup time in seconds of a full
  // battery at half load.
  double battery_low_level_percent = 28.0;
  int32_t backup_scale_seconds = 1800;

  // True while the unit feeds its output from the battery.
  bool OnBattery() const { return utility_fail || test_active; }

  // The input voltage the unit measures (0 during a utility failure).
  double MeasuredInputVolts() const { return utility_fail ? 0.0 : input_volts; }
  // The output voltage and load the unit measures (0 while the output is off).
  double MeasuredOutputVolts() const { return output_on ? output_volts : 0.0; }
  double MeasuredLoadPercent() const { return output_on ? load_percent : 0.0; }

  // Starts a self-test that keeps the test flag on for duration_ms.
  void StartTest(int64_t now_ms, int64_t duration_ms);
  void CancelTest();

  // Raises the shutdown flag and switches the output off after off_delay_ms.
  // With restore_after_ms >= 0 the output comes back that long after now
  // (not after the switch-off); with -1 it comes back when the utility
  // returns after a failure.
  void ScheduleShutdown(int64_t now_ms, int64_t off_delay_ms,
                        int64_t restore_after_ms);
  // Drops a pending shutdown, clears the flag and brings the output back.
  void CancelShutdown();

  // Utility failure and return; a return brings back an output that waits
  // for the utility.
  void SetUtilityFail(bool fail);

  // Runs the self-test and shutdown timers up to now_ms.
  void AdvanceTimers(int64_t now_ms);

  // One "name value" line per field, each ending in a newline.
  std::string Describe() const;
};

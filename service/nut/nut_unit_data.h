#pragma once

#include <cstdint>
#include <string>

#include "service/status_snapshot.h"

// One value the agent read for the NUT front end, or the agent's error code
// for it (1 when the unit does not report it, the default).
struct NutReading {
  int32_t value = 0;
  int32_t error = 1;

  bool ok() const { return error == 0; }
  static NutReading Of(int32_t v) { return NutReading{v, 0}; }
};

// One text the agent read (model, firmware, allowed values), or its error.
struct NutTextReading {
  std::string text;
  int32_t error = 1;

  bool ok() const { return error == 0; }
  static NutTextReading Of(std::string t) {
    return NutTextReading{std::move(t), 0};
  }
};

// What the service knows of the last self-test it had the unit run.
enum class NutTestOutcome {
  kNone,     // no test since the service started
  kDone,     // a test ran to its end
  kAborted,  // a test was cancelled
};

// Everything the NUT front end serves, gathered by the service: the status
// snapshot, the unit's fixed texts, ratings and settings (as the agent
// reports them: R0 to R4 and their ranges unscaled, S0 to S5 and the
// ratings in hundredths), and the service's own settings. The front end
// only reads it.
struct NutUnitData {
  StatusSnapshot snapshot;  // S0 to S9, S12, R22

  NutTextReading model;     // R12
  NutTextReading firmware;  // R13

  // Current settings R0 to R4 ("R0 0" ...), by setting number.
  static constexpr int kSettings = 5;
  static constexpr int kInputHigh = 0;
  static constexpr int kInputLow = 1;
  static constexpr int kBatteryLow = 2;
  static constexpr int kBatteryOut = 3;
  static constexpr int kColdStart = 4;
  NutReading settings[kSettings];
  // Allowed values of settings 0 to 3 (R8 to R11): integers separated by
  // one character each, such as "250,260,270".
  NutTextReading setting_ranges[4];

  NutReading rated_voltage;           // R16, hundredths of a volt
  NutReading rated_frequency_low;     // R17, hundredths of a hertz
  NutReading rated_frequency_high;    // R18
  NutReading rated_va;                // R19, hundredths
  NutReading rated_watt;              // R20, hundredths
  NutReading battery_voltage;         // R25, hundredths of a volt
  NutReading battery_packs;           // R26, a count
  NutReading battery_amp_hours;       // R27, hundredths of an ampere-hour
  NutReading battery_packs_external;  // R28, a count

  bool buzzer_on = false;        // "service.buzzer on"
  int32_t shutdown_delay_s = 0;  // "service.shutdown delay"
  int32_t restore_after_s = 0;   // the restore time given to C1
  NutTestOutcome last_test = NutTestOutcome::kNone;
  bool forced_shutdown = false;  // FSD set by a primary, or by the service
};

#pragma once

#include <cstdint>
#include <string>

#include "common/event_texts.h"

// The status values the service reads from the agent in every poll pass, in
// the order of their agent commands: S0 to S9, then S12.
enum StatusItem : int32_t {
  kItemInputVoltage = 0,   // hundredths of a volt
  kItemOutputVoltage = 1,  // hundredths of a volt
  kItemCapacity = 2,       // battery capacity, hundredths of a percent
  kItemLoad = 3,           // hundredths of a percent
  kItemTemperature = 4,    // hundredths of a degree Celsius
  kItemFrequency = 5,      // output frequency, hundredths of a hertz
  kItemBackupTime = 6,     // estimated runtime on battery, seconds
  kItemPowerFail = 7,      // 1 while the unit runs on battery
  kItemBatteryLow = 8,     // non-zero while the battery is critically low
  kItemTestActive = 9,     // 1 while a self-test runs
  kItemConnected = 10,     // non-zero while the agent is in touch with the unit
};
constexpr int32_t kStatusItemCount = 11;

// The rated values of the unit, read once per unit (R16 to R20).
enum RatingItem : int32_t {
  kRatingOutputVoltage = 0,  // hundredths of a volt
  kRatingFrequencyLow = 1,   // hundredths of a hertz
  kRatingFrequencyHigh = 2,  // hundredths of a hertz
  kRatingApparentPower = 3,  // hundredths of a VA
  kRatingPower = 4,          // hundredths of a W
};
constexpr int32_t kRatingItemCount = 5;

// One value read from the agent: either a reading or the agent's error code.
struct StatusReading {
  bool present = false;  // value holds a reading
  int32_t value = 0;
  int32_t error = 0;  // the agent's error code when not present; 0 if unread
};

// A copy of what the HTTP endpoint shows: the latest poll pass, what is
// known about the unit, and the service's counters. Plain value type, so the
// service loop can hand it to other threads by copying.
struct StatusView {
  bool valid = false;              // false until a first pass completed
  int64_t taken_monotonic_ms = 0;  // when the pass completed (monotonic clock)
  int64_t taken_unix_ms = 0;       // the same moment on the real-time clock
  StatusReading items[kStatusItemCount];

  std::string model;     // empty when unknown
  std::string firmware;  // empty when unknown
  StatusReading ratings[kRatingItemCount];

  int64_t agent_restarts = 0;              // since the service started
  int64_t event_counts[kEventCount] = {};  // events logged since the start

  // True when the item holds a reading, with it in *value.
  bool Get(int32_t item, int32_t* value) const {
    if (item < 0 || item >= kStatusItemCount || !items[item].present) {
      return false;
    }
    *value = items[item].value;
    return true;
  }

  // A flag item that holds a non-zero reading.
  bool Flag(int32_t item) const {
    int32_t value = 0;
    return Get(item, &value) && value != 0;
  }

  // The pass is valid and the agent is in touch with the unit.
  bool Connected() const { return valid && Flag(kItemConnected); }

  // Drops the readings (keeping the times) when the pass is older than
  // max_age_ms at now_monotonic_ms: a service loop that stopped publishing
  // must not leave old values looking current. Returns true when it did.
  bool DropReadingsOlderThan(int64_t max_age_ms, int64_t now_monotonic_ms) {
    if (!valid || now_monotonic_ms - taken_monotonic_ms <= max_age_ms) {
      return false;
    }
    for (StatusReading& reading : items) reading = StatusReading();
    return true;
  }
};

#pragma once

#include <cstdint>

// The agent's status values read in one poll pass: those that clients ask
// for or that events and records use (S0 to S9, S12), then R22 (the port
// type, asked by every client before its status requests). Each slot holds a
// value or the agent's error code for it.
struct StatusSnapshot {
  static constexpr int32_t kSlots = 12;
  static constexpr int32_t kSlotInputVoltage = 0;
  static constexpr int32_t kSlotOutputVoltage = 1;
  static constexpr int32_t kSlotCapacity = 2;
  static constexpr int32_t kSlotLoad = 3;
  static constexpr int32_t kSlotTemperature = 4;
  static constexpr int32_t kSlotFrequency = 5;
  static constexpr int32_t kSlotPowerFail = 7;
  static constexpr int32_t kSlotBatteryLow = 8;
  static constexpr int32_t kSlotConnected = 10;
  static constexpr int32_t kSlotPortType = 11;

  // The agent command that fills a slot ("S0" ... "S9", "S12", "R22").
  static const char* CommandOf(int32_t slot);

  // True when the slot holds a value, with the value in *value.
  bool Get(int32_t slot, int32_t* value) const {
    if (slot < 0 || slot >= kSlots || error[slot] != 0) return false;
    *value = this->value[slot];
    return true;
  }

  // True when the agent said it is in touch with the unit.
  bool Connected() const {
    int32_t connected = 0;
    return Get(kSlotConnected, &connected) && connected != 0;
  }

  int32_t value[kSlots] = {};
  int32_t error[kSlots] = {};  // 0 when value holds a reading
  int64_t taken_ms = 0;        // monotonic time the pass completed
  bool valid = false;          // false until a first pass completed
};

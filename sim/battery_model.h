#pragma once

#include <cstdint>

#include "sim/sim_state.h"

// Moves the battery along in time: while the unit runs on battery with its
// output on, the capacity falls at a rate set by the load and the model's
// backup scale; while the utility feeds it, the battery recharges. Battery
// low comes on when a discharge crosses the model's level and goes off when
// a recharge crosses it back, so a "battery low" set by hand stays until the
// capacity moves across the level. An empty battery switches the output off
// until the utility returns.
class BatteryModel final {
 public:
  // speed multiplies the passing of time (1 = real time), so that a person
  // can watch a discharge in minutes.
  explicit BatteryModel(double speed = 1.0);

  // Integrates the time since the previous call (nothing on the first call).
  void Advance(SimState* state, int64_t now_ms);

  // Seconds a full battery lasts at this load (percent) and backup scale.
  static double FullRuntimeSeconds(double load_percent, int32_t backup_scale);
  // Seconds an empty battery needs to recharge completely.
  static double RechargeSeconds(int32_t backup_scale);

 private:
  double speed_;
  bool started_ = false;
  int64_t last_ms_ = 0;
};

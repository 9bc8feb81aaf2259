#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/battery_model.h"
#include "sim/sim_state.h"
#include "sim/sim_unit.h"
#include "sim/wire_log.h"

// Joins the unit, the state, the battery model and the wire log: bytes from
// the line go to the unit (unless the cable is pulled), its answers come
// back (corrupted while garbage is on), everything is logged, and time moves
// the timers and the battery along. It does no I/O of its own besides the
// log, so the whole path from request bytes to answer bytes runs in tests.
class Simulator final {
 public:
  // Every argument is borrowed and must outlive the simulator; log may be
  // null.
  Simulator(SimState* state, SimUnit* unit, BatteryModel* battery,
            WireLog* log);

  // Handles bytes received from the line at now_ms (monotonic) / wall_ms
  // (for the log) and returns the bytes to send back.
  std::string OnLineBytes(const uint8_t* data, size_t size, int64_t now_ms,
                          int64_t wall_ms);

  // Runs the self-test and shutdown timers and the battery up to now_ms.
  void Tick(int64_t now_ms);

  // Logs a control command line as it was received.
  void LogControl(int64_t wall_ms, const std::string& line);

  // An answer as the agent receives it while garbage is on: every byte
  // changed, so no fixed marker or echo survives.
  static std::string Garble(const std::string& answer);

 private:
  SimState* state_;
  SimUnit* unit_;
  BatteryModel* battery_;
  WireLog* log_;
};

#include "sim/battery_model.h"

#include <algorithm>

namespace {

// A battery never drains slower than at this load: the unit itself draws
// from it.
constexpr double kMinimumLoadPercent = 5.0;

}  // namespace

BatteryModel::BatteryModel(double speed) : speed_(speed > 0 ? speed : 1.0) {}

double BatteryModel::FullRuntimeSeconds(double load_percent,
                                        int32_t backup_scale) {
  // The backup scale is the runtime at half load; runtime goes with the
  // inverse of the load.
  double load = std::max(load_percent, kMinimumLoadPercent);
  double scale = backup_scale > 0 ? backup_scale : 1800;
  return scale * 50.0 / load;
}

double BatteryModel::RechargeSeconds(int32_t backup_scale) {
  double scale = backup_scale > 0 ? backup_scale : 1800;
  return scale * 4.0;
}

void BatteryModel::Advance(SimState* state, int64_t now_ms) {
  if (!started_ || now_ms < last_ms_) {
    started_ = true;
    last_ms_ = now_ms;
    return;
  }
  double seconds = static_cast<double>(now_ms - last_ms_) / 1000.0 * speed_;
  last_ms_ = now_ms;
  if (seconds <= 0) return;

  double before = state->capacity_percent;
  double level = state->battery_low_level_percent;
  if (state->OnBattery() && state->output_on) {
    double runtime =
        FullRuntimeSeconds(state->load_percent, state->backup_scale_seconds);
    double after = std::max(0.0, before - 100.0 * seconds / runtime);
    state->capacity_percent = after;
    if (before > level && after <= level) state->battery_low = true;
    if (after <= 0.0 && before > 0.0) {
      // Empty: a self-test ends and the mains takes over again; without
      // mains the output drops until the utility comes back.
      state->CancelTest();
      if (state->utility_fail) {
        state->output_on = false;
        state->restore_on_utility = true;
      }
    }
  } else if (!state->utility_fail) {
    double rate = 100.0 / RechargeSeconds(state->backup_scale_seconds);
    double after = std::min(100.0, before + rate * seconds);
    state->capacity_percent = after;
    if (before <= level && after > level) state->battery_low = false;
  }
}

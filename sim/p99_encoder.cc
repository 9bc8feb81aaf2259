#include "sim/p99_encoder.h"

#include <cmath>
#include <cstdlib>

namespace {

// Rounds an engineering value scaled by `scale` to the nearest integer,
// clamped to what a 16-bit curve value can hold.
int32_t Scaled(double value, double scale) {
  double scaled = std::round(value * scale);
  if (!(scaled > -32768.0)) return -32768;  // also NaN
  if (scaled > 32767.0) return 32767;
  return static_cast<int32_t>(scaled);
}

}  // namespace

uint8_t InverseCurve(const p99::Curve& curve, int32_t y) {
  int32_t best_x = 0;
  int64_t best_error = -1;
  for (int32_t x = 0; x <= 255; ++x) {
    int64_t error = std::llabs(
        static_cast<int64_t>(p99::CurveLookup(curve, static_cast<int16_t>(x))) -
        y);
    if (best_error < 0 || error < best_error) {
      best_error = error;
      best_x = x;
    }
  }
  return static_cast<uint8_t>(best_x);
}

int32_t TapOutput(const p99::TapRatioTable& taps, int32_t input_hundredths,
                  int32_t position) {
  int32_t input = static_cast<int16_t>(input_hundredths);
  if (position < 1 || position > 3) return input;
  const p99::TapRatio& ratio = taps.positions[position - 1];
  if (ratio.denominator == 0) return input;
  return static_cast<int16_t>(input * ratio.numerator / ratio.denominator);
}

int32_t NearestTapPosition(const p99::TapRatioTable& taps,
                           int32_t input_hundredths,
                           int32_t output_hundredths) {
  int32_t best = 0;
  int64_t best_error = -1;
  for (int32_t position = 0; position <= 3; ++position) {
    int64_t error = std::llabs(
        static_cast<int64_t>(TapOutput(taps, input_hundredths, position)) -
        output_hundredths);
    if (best_error < 0 || error < best_error) {
      best_error = error;
      best = position;
    }
  }
  return best;
}

void EncodeP99Status(const SimState& state, const p99::TableSet& tables,
                     bool use_taps, uint8_t data[7]) {
  bool on_battery = state.OnBattery();
  data[0] = InverseCurve(*tables.input, Scaled(state.MeasuredInputVolts(), 1));
  data[1] =
      InverseCurve(*tables.output, Scaled(state.MeasuredOutputVolts(), 1));
  const p99::Curve& load =
      on_battery ? tables.load->battery : tables.load->mains;
  data[2] = InverseCurve(load, Scaled(state.MeasuredLoadPercent(), 100));
  data[3] = InverseCurve(*tables.capacity, Scaled(state.capacity_percent, 100));
  data[4] =
      InverseCurve(*tables.temperature, Scaled(state.temperature_celsius, 1));
  data[5] = InverseCurve(*tables.frequency, Scaled(state.frequency_hertz, 100));

  uint8_t flags = 0;
  if (state.utility_fail) flags |= p99_flag::kUtilityFail;
  if (state.battery_low) flags |= p99_flag::kBatteryLow;
  if (state.test_active) flags |= p99_flag::kTest;
  if (state.shutdown_active) flags |= p99_flag::kShutdown;
  if (state.buzzer) flags |= p99_flag::kBuzzer;
  if (use_taps) {
    int32_t input = 100 * p99::CurveLookup(*tables.input, data[0]);
    int32_t position = NearestTapPosition(
        *tables.tap_ratios, input, Scaled(state.MeasuredOutputVolts(), 100));
    flags |= static_cast<uint8_t>(position << p99_flag::kTapShift);
  }
  data[6] = flags;
}

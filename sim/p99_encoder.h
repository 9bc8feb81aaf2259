#pragma once

#include <cstdint>

#include "agent/protocol/p99_tables.h"
#include "sim/sim_state.h"

// Turns engineering values into the raw bytes of a P99 status reply: the
// inverse of the curves that the agent decodes them with, so that what the
// agent reads back is what the simulator holds, within the curves'
// resolution.

// The byte x (0 to 255) whose curve value is nearest to y; of several equally
// near, the lowest. Every byte is tried through the same lookup the agent
// uses, so flat and falling curves need no special case.
uint8_t InverseCurve(const p99::Curve& curve, int32_t y);

// The tap position (0 to 3) whose ratio turns the decoded input (hundredths
// of a volt, as the agent holds it) into the output nearest to
// output_hundredths. Position 0 is the input unchanged.
int32_t NearestTapPosition(const p99::TapRatioTable& taps,
                           int32_t input_hundredths, int32_t output_hundredths);

// The output (hundredths of a volt) the agent derives from a decoded input at
// a tap position, in the agent's 16-bit arithmetic.
int32_t TapOutput(const p99::TapRatioTable& taps, int32_t input_hundredths,
                  int32_t position);

// Status flag byte bits.
namespace p99_flag {
constexpr uint8_t kBuzzer = 0x01;
constexpr uint8_t kShutdown = 0x02;
constexpr uint8_t kTest = 0x04;
constexpr uint8_t kTapShift = 4;  // bits 4 and 5: tap position
constexpr uint8_t kBatteryLow = 0x40;
constexpr uint8_t kUtilityFail = 0x80;
}  // namespace p99_flag

// Writes the status data bytes d0 to d6 for the state: input, output, load,
// capacity, temperature and frequency through the table set's curves (the
// load through the battery curve while on battery), and the flags. With
// use_taps (a unit that reports its output through tap positions) the tap
// bits pick the position whose ratio comes nearest to the output voltage.
void EncodeP99Status(const SimState& state, const p99::TableSet& tables,
                     bool use_taps, uint8_t data[7]);

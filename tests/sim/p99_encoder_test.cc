#include "sim/p99_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "agent/protocol/p99_tables.h"

namespace {

// Largest step between the values of two neighbouring bytes of a curve:
// the best any encoding can do is half of it.
int32_t LargestStep(const p99::Curve& curve) {
  int32_t step = 0;
  for (int x = 0; x < 255; ++x) {
    int32_t a = p99::CurveLookup(curve, static_cast<int16_t>(x));
    int32_t b = p99::CurveLookup(curve, static_cast<int16_t>(x + 1));
    step = std::max(step, std::abs(b - a));
  }
  return step;
}

// Checks that every value a curve can give, and the values between them, is
// encoded to a byte that decodes back within half the curve's largest step.
void ExpectRoundTrip(const p99::Curve& curve, const std::string& name) {
  SCOPED_TRACE(name);
  int32_t low = p99::CurveLookup(curve, 0);
  int32_t high = p99::CurveLookup(curve, 255);
  if (low > high) std::swap(low, high);
  int32_t tolerance = (LargestStep(curve) + 1) / 2;
  int32_t stride = std::max(1, (high - low) / 400);
  for (int32_t y = low; y <= high; y += stride) {
    uint8_t x = InverseCurve(curve, y);
    int32_t decoded = p99::CurveLookup(curve, x);
    ASSERT_LE(std::abs(decoded - y), tolerance) << "y " << y;
  }
}

TEST(P99EncoderTest, EveryCurveRoundTripsWithinItsResolution) {
  for (int i = 0; i < 4; ++i) {
    ExpectRoundTrip(p99::kInputCurves[i], "IN" + std::to_string(i + 1));
    ExpectRoundTrip(p99::kTemperatureCurves[i], "TMP" + std::to_string(i + 1));
  }
  for (int i = 0; i < 2; ++i) {
    ExpectRoundTrip(p99::kCapacityCurves[i], "CAP" + std::to_string(i + 1));
    ExpectRoundTrip(p99::kFrequencyCurves[i], "FRQ" + std::to_string(i + 1));
  }
  for (int i = 0; i < 5; ++i) {
    ExpectRoundTrip(p99::kLoadCurvePairs[i].mains,
                    "LD" + std::to_string(i + 1) + " mains");
    ExpectRoundTrip(p99::kLoadCurvePairs[i].battery,
                    "LD" + std::to_string(i + 1) + " battery");
  }
}

TEST(P99EncoderTest, TapPositionComesNearestToOutput) {
  const p99::TapRatioTable& tap1 = p99::kTapRatioTables[0];
  // 120/140, 120/100, 140/100 of an input of 100 V.
  EXPECT_EQ(0, NearestTapPosition(tap1, 10000, 10000));
  EXPECT_EQ(1, NearestTapPosition(tap1, 10000, 8600));
  EXPECT_EQ(2, NearestTapPosition(tap1, 10000, 12000));
  EXPECT_EQ(3, NearestTapPosition(tap1, 10000, 13900));
  EXPECT_EQ(12000, TapOutput(tap1, 10000, 2));
}

TEST(P99EncoderTest, OutputOffReportsNoLoad) {
  SimState state;
  state.output_on = false;
  p99::TableSet tables = p99::SelectTableSet(1, 2, 8, 0, 0);
  uint8_t data[7];
  EncodeP99Status(state, tables, false, data);
  EXPECT_EQ(0, p99::CurveLookup(tables.load->mains, data[2]));
}

}  // namespace

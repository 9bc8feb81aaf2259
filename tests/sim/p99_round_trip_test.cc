// The simulated P99 unit's encoding against the agent's own P99 decoding:
// what the simulator holds must be what the agent reads, within the
// resolution of the model's curves, for every family of table sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/p99_tables.h"
#include "sim/p99_encoder.h"
#include "sim/p99_unit.h"
#include "sim/sim_state.h"
#include "tests/support/fake_clock.h"
#include "tests/support/scripted_media.h"

namespace {

// Half the step between the curve's values around byte x, rounded up: the
// most an ideal encoding can be off.
int32_t HalfStepAround(const p99::Curve& curve, int x) {
  int32_t here = p99::CurveLookup(curve, static_cast<int16_t>(x));
  int32_t step = 0;
  if (x > 0) step = std::abs(here - p99::CurveLookup(curve, x - 1));
  if (x < 255) {
    step = std::max(step, std::abs(p99::CurveLookup(curve, x + 1) - here));
  }
  return (step + 1) / 2;
}

int32_t LocalHalfStep(const p99::Curve& curve, int32_t y) {
  return HalfStepAround(curve, InverseCurve(curve, y));
}

TEST(P99EncoderTest, EveryCurveRoundTripsWithinItsResolution) {
  std::vector<const p99::Curve*> curves;
  for (int i = 0; i < 4; ++i) curves.push_back(&p99::kInputCurves[i]);
  for (int i = 0; i < 4; ++i) curves.push_back(&p99::kTemperatureCurves[i]);
  for (int i = 0; i < 2; ++i) curves.push_back(&p99::kCapacityCurves[i]);
  for (int i = 0; i < 2; ++i) curves.push_back(&p99::kFrequencyCurves[i]);
  for (const p99::LoadCurvePair& pair : p99::kLoadCurvePairs) {
    curves.push_back(&pair.mains);
    curves.push_back(&pair.battery);
  }
  for (size_t i = 0; i < curves.size(); ++i) {
    SCOPED_TRACE("IN1-4, TMP1-4, CAP1-2, FRQ1-2, LD1-5 mains/battery: " +
                 std::to_string(i));
    const p99::Curve& curve = *curves[i];
    int32_t low = p99::CurveLookup(curve, 0);
    int32_t high = p99::CurveLookup(curve, 255);
    if (low > high) std::swap(low, high);
    // The values between two bytes must go to the nearer one.
    int32_t tolerance = 0;
    for (int x = 0; x < 256; ++x) {
      tolerance = std::max(tolerance, HalfStepAround(curve, x));
    }
    for (int32_t y = low; y <= high; y += std::max(1, (high - low) / 400)) {
      int32_t decoded = p99::CurveLookup(curve, InverseCurve(curve, y));
      ASSERT_LE(std::abs(decoded - y), tolerance) << "y " << y;
    }
  }
}

struct UnitCase {
  const char* model;
  int32_t voltage_class;
  uint8_t tapping;  // register 0x3D
  uint8_t variant;  // register 0x2B
  double input;
  double output;
  double frequency;
};

class P99RoundTripTest : public ::testing::TestWithParam<UnitCase> {
 protected:
  void SetUp() override {
    const UnitCase& c = GetParam();
    config_.model = c.model;
    config_.registers[p99_register::kVoltageClass] =
        VoltageClassCode(c.voltage_class);
    config_.registers[p99_register::kTapping] = c.tapping;
    config_.registers[p99_register::kVoltageVariant] = c.variant;
    config_.rated_voltage = static_cast<uint8_t>(c.input);
    unit_ = std::make_unique<P99Unit>(config_, &state_);
    state_.input_volts = c.input;
    state_.output_volts = c.output;
    state_.frequency_hertz = c.frequency;
    state_.load_percent = 45;
    state_.capacity_percent = 80;
    state_.temperature_celsius = 35;
    media_.SetResponder([this](const ScriptedMedia::Bytes& written) {
      std::vector<WireExchange> exchanges;
      unit_->Receive(written.data(), written.size(), clock_.MonotonicMillis(),
                     &exchanges);
      ScriptedMedia::Bytes answer;
      for (const WireExchange& exchange : exchanges) {
        answer.insert(answer.end(), exchange.answer.begin(),
                      exchange.answer.end());
      }
      return answer;
    });
  }

  // A fresh agent-side protocol that identifies the unit and polls once.
  std::unique_ptr<P99Protocol> Connect() {
    auto protocol = std::make_unique<P99Protocol>(&media_, &clock_);
    char name[16] = {};
    int32_t size = sizeof(name);
    EXPECT_EQ(0, protocol->GetModelName(name, &size));
    EXPECT_EQ(std::string(GetParam().model), name);
    EXPECT_EQ(0, protocol->Poll());
    return protocol;
  }

  P99UnitConfig config_;
  SimState state_;
  std::unique_ptr<P99Unit> unit_;
  FakeClock clock_;
  ScriptedMedia media_;
};

TEST_P(P99RoundTripTest, MeasurementsAndFlagsDecodeToWhatWasSet) {
  std::unique_ptr<P99Protocol> agent = Connect();
  const p99::TableSet tables = unit_->Tables();
  const UnitCase& c = GetParam();
  const int32_t input = static_cast<int32_t>(c.input);
  const int32_t output = static_cast<int32_t>(c.output);
  const int32_t hertz = static_cast<int32_t>(c.frequency * 100);
  using Getter = int32_t (P99Protocol::*)(int32_t*);
  struct Check {
    const char* name;
    Getter get;
    int32_t want;
    int32_t tolerance;
  };
  const Check checks[] = {
      {"input", &P99Protocol::GetInputVoltage, 100 * input,
       100 * LocalHalfStep(*tables.input, input)},
      {"load", &P99Protocol::GetLoad, 4500,
       LocalHalfStep(tables.load->mains, 4500)},
      {"capacity", &P99Protocol::GetBatteryCapacity, 8000,
       LocalHalfStep(*tables.capacity, 8000)},
      {"temperature", &P99Protocol::GetTemperature, 3500,
       100 * LocalHalfStep(*tables.temperature, 35)},
      {"frequency", &P99Protocol::GetFrequency, hertz,
       LocalHalfStep(*tables.frequency, hertz)},
  };
  int32_t value = 0;
  for (const Check& check : checks) {
    SCOPED_TRACE(check.name);
    ASSERT_EQ(0, ((*agent).*check.get)(&value));
    EXPECT_LE(std::abs(value - check.want), check.tolerance) << value;
  }
  // Units of the fifth class report the output byte; the others report it
  // through the tap position, or not at all (output = input).
  int32_t decoded_input = value = 0;
  agent->GetInputVoltage(&decoded_input);
  ASSERT_EQ(0, agent->GetOutputVoltage(&value));
  if (p99::ModelClassOf(unit_->model_index()) == 5) {
    EXPECT_LE(std::abs(value - 100 * output),
              100 * LocalHalfStep(*tables.output, output));
  } else if (c.tapping & 0x10) {
    EXPECT_NEAR(100 * output, value, 100 * output / 10);
  } else {
    EXPECT_EQ(decoded_input, value);
  }

  state_.SetUtilityFail(true);
  state_.battery_low = state_.buzzer = state_.shutdown_active = true;
  agent = Connect();
  const std::pair<Getter, int32_t> flags[] = {
      {&P99Protocol::GetPowerFail, 1},
      {&P99Protocol::GetBatteryLow, 1},
      {&P99Protocol::GetBuzzerActive, 1},
      {&P99Protocol::GetShutdownActive, 1},
      {&P99Protocol::GetTestActive, 0}};
  for (const auto& flag : flags) {
    value = -1;
    EXPECT_EQ(0, ((*agent).*flag.first)(&value));
    EXPECT_EQ(flag.second, value) << &flag - flags;
  }
}

INSTANTIATE_TEST_SUITE_P(
    TableSets, P99RoundTripTest,
    ::testing::Values(UnitCase{"650VA", 1, 0x00, 0x00, 115, 115, 60},
                      UnitCase{"285VA", 1, 0x00, 0x00, 120, 120, 60},
                      UnitCase{"720VA", 1, 0x10, 0x00, 100, 120, 60},
                      UnitCase{"1500VA", 1, 0x00, 0x00, 125, 125, 60},
                      UnitCase{"KV1250", 1, 0x10, 0x00, 118, 118, 60},
                      UnitCase{"KV1500", 1, 0x00, 0x00, 110, 110, 59.5},
                      UnitCase{"TM1500", 1, 0x00, 0x01, 127, 120, 60},
                      UnitCase{"KV700", 2, 0x10, 0x00, 100, 100, 50},
                      UnitCase{"400VA", 2, 0x00, 0x00, 95, 95, 60},
                      UnitCase{"800VA", 3, 0x00, 0x00, 230, 230, 50},
                      UnitCase{"TM3000E", 3, 0x00, 0xFE, 208, 220, 50.5}),
    [](const ::testing::TestParamInfo<UnitCase>& info) {
      return std::string(info.param.model) + "Class" +
             std::to_string(info.param.voltage_class) + "Case" +
             std::to_string(info.index);
    });

}  // namespace

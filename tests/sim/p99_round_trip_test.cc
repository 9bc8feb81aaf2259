// The simulated P99 unit against the agent's own P99Protocol and P99Proxy:
// what the simulator holds must be what the agent decodes, within the
// resolution of the model's curves, for every family of table sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <ostream>
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

// Half the step between the curve's values around the byte that encodes y,
// rounded up: the most an ideal encoding can be off.
int32_t LocalHalfStep(const p99::Curve& curve, int32_t y) {
  int x = InverseCurve(curve, y);
  int32_t here = p99::CurveLookup(curve, static_cast<int16_t>(x));
  int32_t step = 0;
  if (x > 0) {
    step = std::max(step, std::abs(here - p99::CurveLookup(curve, x - 1)));
  }
  if (x < 255) {
    step = std::max(step, std::abs(p99::CurveLookup(curve, x + 1) - here));
  }
  return (step + 1) / 2;
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

// Readable names in test output, for example "KV700Class2".
std::string CaseName(const ::testing::TestParamInfo<UnitCase>& info) {
  return std::string(info.param.model) + "Class" +
         std::to_string(info.param.voltage_class) + "Case" +
         std::to_string(info.index);
}

void PrintTo(const UnitCase& c, std::ostream* out) {
  *out << c.model << " class " << c.voltage_class;
}

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

TEST_P(P99RoundTripTest, MeasurementsDecodeToWhatWasSet) {
  std::unique_ptr<P99Protocol> agent = Connect();
  p99::TableSet tables = unit_->Tables();
  int32_t model_class = p99::ModelClassOf(unit_->model_index());
  const UnitCase& c = GetParam();
  int32_t value = 0;

  ASSERT_EQ(0, agent->GetInputVoltage(&value));
  int32_t input = static_cast<int32_t>(c.input);
  EXPECT_LE(std::abs(value - 100 * input),
            100 * LocalHalfStep(*tables.input, input));

  // Units of the fifth class report the output byte; the others report the
  // output through the tap position (or not at all: output = input).
  ASSERT_EQ(0, agent->GetOutputVoltage(&value));
  int32_t output = static_cast<int32_t>(c.output);
  if (model_class == 5) {
    EXPECT_LE(std::abs(value - 100 * output),
              100 * LocalHalfStep(*tables.output, output));
  } else if (c.tapping & 0x10) {
    EXPECT_NEAR(100 * output, value, 100 * output / 10);
  } else {
    int32_t decoded_input = 0;
    agent->GetInputVoltage(&decoded_input);
    EXPECT_EQ(decoded_input, value);
  }

  ASSERT_EQ(0, agent->GetLoad(&value));
  EXPECT_LE(std::abs(value - 4500), LocalHalfStep(tables.load->mains, 4500));
  ASSERT_EQ(0, agent->GetBatteryCapacity(&value));
  EXPECT_LE(std::abs(value - 8000), LocalHalfStep(*tables.capacity, 8000));
  ASSERT_EQ(0, agent->GetTemperature(&value));
  EXPECT_LE(std::abs(value - 3500),
            100 * LocalHalfStep(*tables.temperature, 35));
  ASSERT_EQ(0, agent->GetFrequency(&value));
  int32_t hertz = static_cast<int32_t>(c.frequency * 100);
  EXPECT_LE(std::abs(value - hertz), LocalHalfStep(*tables.frequency, hertz));
}

TEST_P(P99RoundTripTest, FlagsDecodeToWhatWasSet) {
  state_.SetUtilityFail(true);
  state_.battery_low = true;
  state_.buzzer = true;
  state_.shutdown_active = true;
  std::unique_ptr<P99Protocol> agent = Connect();
  int32_t value = -1;
  EXPECT_EQ(0, agent->GetPowerFail(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, agent->GetBatteryLow(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, agent->GetBuzzerActive(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, agent->GetShutdownActive(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, agent->GetTestActive(&value));
  EXPECT_EQ(0, value);
}

TEST_P(P99RoundTripTest, SettingWrittenByAgentReadsBackFromUnit) {
  std::unique_ptr<P99Protocol> agent = Connect();
  // The highest allowed input-high value of this unit's table.
  const p99::CodeTable& table = *unit_->Tables().input_high;
  int32_t wanted =
      std::max(table.pairs[0].value, table.pairs[table.count - 1].value);
  EXPECT_EQ(0, agent->SetInputHigh(wanted));
  int32_t code = 0;
  ASSERT_TRUE(p99::ValueToCode(table, wanted, &code));
  EXPECT_EQ(static_cast<uint8_t>(code), unit_->Register(0x02));

  // A new agent reads the register afresh.
  agent.reset();
  std::unique_ptr<P99Protocol> again = Connect();
  int32_t value = 0;
  EXPECT_EQ(0, again->GetInputHigh(&value, 0));
  EXPECT_EQ(wanted, value);
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
    CaseName);

}  // namespace

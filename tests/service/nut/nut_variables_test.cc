#include "service/nut/nut_variables.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/nut_unit_samples.h"

namespace {

using Strings = std::vector<std::string>;

class NutVariablesTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> Present() const {
    std::map<std::string, std::string> present;
    for (const NutVariableValue& var : NutPresentVariables(data_)) {
      present[var.info->name] = var.value;
    }
    return present;
  }
  std::string Value(const char* name) const {
    const NutVariableInfo* var = FindNutVariable(name);
    std::string value;
    if (var == nullptr || !var->read(data_, &value)) return "<absent>";
    return value;
  }
  std::string Status() const {
    std::string status;
    return NutStatusTokens(data_, &status) ? status : "<absent>";
  }
  void SetSlot(int32_t slot, int32_t value) {
    data_.snapshot.value[slot] = value;
    data_.snapshot.error[slot] = 0;
  }

  NutUnitData data_ = SampleFullUnit();
};

TEST_F(NutVariablesTest, HundredthsDropTrailingZeros) {
  EXPECT_EQ(NutHundredths(23050), "230.5");
  EXPECT_EQ(NutHundredths(23000), "230");
  EXPECT_EQ(NutHundredths(5005), "50.05");
  EXPECT_EQ(NutHundredths(7), "0.07");
  EXPECT_EQ(NutHundredths(0), "0");
  EXPECT_EQ(NutHundredths(-150), "-1.5");
  EXPECT_EQ(NutHundredths(-5), "-0.05");
  EXPECT_EQ(NutHundredths(INT32_MIN), "-21474836.48");
  EXPECT_EQ(NutHundredths(INT32_MAX), "21474836.47");
}

TEST_F(NutVariablesTest, TableIsInNameOrderAndFindable) {
  for (const NutVariableInfo* var = NutVariablesBegin();
       var != NutVariablesEnd(); ++var) {
    if (var + 1 != NutVariablesEnd()) {
      EXPECT_LT(std::string(var->name), std::string((var + 1)->name));
    }
    EXPECT_EQ(FindNutVariable(var->name), var);
  }
  EXPECT_EQ(FindNutVariable("ups.statu"), nullptr);
  EXPECT_EQ(FindNutVariable(""), nullptr);
  EXPECT_EQ(FindNutVariable("zzz"), nullptr);
}

TEST_F(NutVariablesTest, FullUnitValuesInTheirUnits) {
  const std::map<std::string, std::string> expected = {
      {"battery.capacity", "7.2"},
      {"battery.charge", "100"},
      {"battery.charge.low", "20"},
      {"battery.packs", "2"},
      {"battery.packs.external", "0"},
      {"battery.runtime", "1500"},
      {"battery.voltage.nominal", "24"},
      {"device.model", "Model \"X\" 1000"},
      {"device.type", "ups"},
      {"driver.name", "upsagent"},
      {"input.frequency", "50.05"},
      {"input.frequency.high", "65"},
      {"input.frequency.low", "45"},
      {"input.transfer.high", "260"},
      {"input.transfer.low", "170"},
      {"input.voltage", "230.5"},
      {"input.voltage.nominal", "230"},
      {"output.voltage", "230"},
      {"output.voltage.nominal", "230"},
      {"ups.beeper.status", "enabled"},
      {"ups.delay.shutdown", "120"},
      {"ups.delay.start", "60"},
      {"ups.firmware", "FW 2.1"},
      {"ups.load", "23.5"},
      {"ups.model", "Model \"X\" 1000"},
      {"ups.power.nominal", "1000"},
      {"ups.realpower.nominal", "600"},
      {"ups.start.battery", "yes"},
      {"ups.status", "OL"},
      {"ups.temperature", "31"},
      {"ups.test.result", "No test initiated"},
  };
  EXPECT_EQ(Present(), expected);
}

TEST_F(NutVariablesTest, LeavesOutWhatTheUnitDoesNotReport) {
  data_.model.error = 1;
  data_.rated_watt.error = 1;
  data_.settings[NutUnitData::kColdStart] = NutReading::Of(7);
  data_.snapshot.error[StatusSnapshot::kSlotTemperature] = 1;
  data_.snapshot.error[6] = 1;  // S6
  const auto present = Present();
  for (const char* name :
       {"device.model", "ups.model", "ups.realpower.nominal",
        "ups.start.battery", "ups.temperature", "battery.runtime"}) {
    EXPECT_EQ(present.count(name), 0u) << name;
  }
  EXPECT_EQ(present.count("ups.status"), 1u);
}

TEST_F(NutVariablesTest, BasicUnitHasNoBeeperStatus) {
  SetSlot(StatusSnapshot::kSlotPortType, 1);
  EXPECT_EQ(Value("ups.beeper.status"), "<absent>");
  data_.buzzer_on = false;
  SetSlot(StatusSnapshot::kSlotPortType, 2);
  EXPECT_EQ(Value("ups.beeper.status"), "disabled");
}

TEST_F(NutVariablesTest, TestResultFollowsSelfTestAndLastOutcome) {
  data_.last_test = NutTestOutcome::kDone;
  EXPECT_EQ(Value("ups.test.result"), "Done");
  data_.last_test = NutTestOutcome::kAborted;
  EXPECT_EQ(Value("ups.test.result"), "Aborted");
  SetSlot(9, 1);
  EXPECT_EQ(Value("ups.test.result"), "In progress");
}

TEST_F(NutVariablesTest, StatusTokensForPowerBatteryAndCharger) {
  EXPECT_EQ(Status(), "OL");
  SetSlot(StatusSnapshot::kSlotCapacity, 9950);  // 99.5 % is still charging
  EXPECT_EQ(Status(), "OL CHRG");
  SetSlot(StatusSnapshot::kSlotPowerFail, 1);
  EXPECT_EQ(Status(), "OB DISCHRG");
  SetSlot(StatusSnapshot::kSlotBatteryLow, 1);
  EXPECT_EQ(Status(), "OB LB DISCHRG");
  data_.forced_shutdown = true;
  EXPECT_EQ(Status(), "FSD OB LB DISCHRG");
}

TEST_F(NutVariablesTest, StatusTokensForVoltageCorrectionAndOverload) {
  SetSlot(StatusSnapshot::kSlotInputVoltage, 22000);
  SetSlot(StatusSnapshot::kSlotOutputVoltage, 22400);
  EXPECT_EQ(Status(), "OL BOOST");
  SetSlot(StatusSnapshot::kSlotOutputVoltage, 21600);
  EXPECT_EQ(Status(), "OL TRIM");
  SetSlot(StatusSnapshot::kSlotOutputVoltage, 22300);  // within 3 V
  EXPECT_EQ(Status(), "OL");
  SetSlot(StatusSnapshot::kSlotOutputVoltage, 21600);
  SetSlot(9, 1);  // a self-test moves the output on purpose
  EXPECT_EQ(Status(), "OL");
  SetSlot(9, 0);
  SetSlot(StatusSnapshot::kSlotPowerFail, 1);  // on battery: no correction
  EXPECT_EQ(Status(), "OB DISCHRG");
  SetSlot(StatusSnapshot::kSlotPowerFail, 0);
  SetSlot(StatusSnapshot::kSlotOutputVoltage, 22000);
  SetSlot(StatusSnapshot::kSlotLoad, 10000);
  EXPECT_EQ(Status(), "OL");
  SetSlot(StatusSnapshot::kSlotLoad, 10001);
  EXPECT_EQ(Status(), "OL OVER");
}

TEST_F(NutVariablesTest, BasicUnitShowsNoChargingOrCorrection) {
  SetSlot(StatusSnapshot::kSlotPortType, 1);
  SetSlot(StatusSnapshot::kSlotCapacity, 5000);
  SetSlot(StatusSnapshot::kSlotOutputVoltage, 25000);
  EXPECT_EQ(Status(), "OL");
}

TEST_F(NutVariablesTest, StatusWithoutPowerStateIsAbsentUnlessForced) {
  data_.snapshot.error[StatusSnapshot::kSlotPowerFail] = 1;
  EXPECT_EQ(Status(), "<absent>");
  data_.forced_shutdown = true;
  EXPECT_EQ(Status(), "FSD");
}

TEST_F(NutVariablesTest, AllowedValuesReadLikeTheToolReadsThem) {
  EXPECT_EQ(NutParseAllowedValues("250,260,270"),
            (std::vector<int32_t>{250, 260, 270}));
  EXPECT_EQ(NutParseAllowedValues(" 10 20 -5"),
            (std::vector<int32_t>{10, 20, -5}));
  EXPECT_EQ(NutParseAllowedValues("1,,2"), (std::vector<int32_t>{1}));
  EXPECT_EQ(NutParseAllowedValues(""), (std::vector<int32_t>{}));
  EXPECT_EQ(NutParseAllowedValues("x1"), (std::vector<int32_t>{}));
  EXPECT_EQ(NutParseAllowedValues("7,99999999999,8"),
            (std::vector<int32_t>{7}));
}

TEST_F(NutVariablesTest, WritableVariablesAndTheirAgentCommands) {
  struct Case {
    const char* name;
    const char* value;
    const char* line;
  };
  const Case cases[] = {
      {"input.transfer.high", "270", "W0 270"},
      {"input.transfer.low", "160", "W1 160"},
      {"battery.charge.low", "30", "W2 30"},
      {"output.voltage.nominal", "220", "W3 220"},
      {"ups.start.battery", "no", "W4 0"},
      {"ups.start.battery", "yes", "W4 1"},
  };
  for (const Case& c : cases) {
    const NutVariableInfo* var = FindNutVariable(c.name);
    ASSERT_NE(var, nullptr) << c.name;
    EXPECT_TRUE(NutWritable(data_, *var)) << c.name;
    std::string line;
    EXPECT_EQ(NutWriteCommand(data_, *var, c.value, &line), NutWriteResult::kOk)
        << c.name;
    EXPECT_EQ(line, c.line);
  }
  EXPECT_EQ(NutEnumValues(data_, *FindNutVariable("input.transfer.high")),
            (Strings{"250", "260", "270"}));
  EXPECT_EQ(NutEnumValues(data_, *FindNutVariable("ups.start.battery")),
            (Strings{"no", "yes"}));
}

TEST_F(NutVariablesTest, RefusesValuesOutsideTheListAndReadOnlyVariables) {
  const NutVariableInfo& high = *FindNutVariable("input.transfer.high");
  std::string line = "untouched";
  for (const char* value : {"265", "260.0", " 260", "+260", "", "0260"}) {
    EXPECT_EQ(NutWriteCommand(data_, high, value, &line),
              NutWriteResult::kInvalidValue)
        << value;
  }
  EXPECT_EQ(NutWriteCommand(data_, *FindNutVariable("ups.load"), "1", &line),
            NutWriteResult::kReadOnly);
  EXPECT_EQ(line, "untouched");
  // Without the allowed values, or the current value, nothing can be set.
  data_.setting_ranges[NutUnitData::kInputHigh].error = 1;
  EXPECT_FALSE(NutWritable(data_, high));
  EXPECT_EQ(NutWriteCommand(data_, high, "260", &line),
            NutWriteResult::kReadOnly);
  data_.settings[NutUnitData::kInputLow].error = 8;
  EXPECT_FALSE(NutWritable(data_, *FindNutVariable("input.transfer.low")));
}

}  // namespace

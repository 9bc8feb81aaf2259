#include "service/nut/nut_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/nut_unit_samples.h"

namespace {

class NutCommandsTest : public ::testing::Test {
 protected:
  std::string LineOf(const char* name, const char* param = "") {
    NutCommandAction action;
    if (NutCommandActionOf(data_, name, param, &action) !=
        NutCommandResult::kOk) {
      return "<refused>";
    }
    if (action.kind == NutCommandAction::Kind::kBuzzer) {
      return action.buzzer_on ? "<buzzer on>" : "<buzzer off>";
    }
    return action.agent_line;
  }
  void MakeBasicUnit() {
    data_.snapshot.value[StatusSnapshot::kSlotPortType] = 1;
  }

  NutUnitData data_ = SampleFullUnit();
};

TEST_F(NutCommandsTest, EachCommandMapsToItsAgentLine) {
  EXPECT_EQ(LineOf("test.battery.start.quick"), "C0 10");
  EXPECT_EQ(LineOf("test.battery.start"), "C0 10");
  EXPECT_EQ(LineOf("test.battery.start", "600"), "C0 600");
  EXPECT_EQ(LineOf("test.battery.stop"), "C0 -1");
  EXPECT_EQ(LineOf("shutdown.return"), "C1 120 60");
  EXPECT_EQ(LineOf("shutdown.stayoff"), "C2 120");
  EXPECT_EQ(LineOf("shutdown.stop"), "C3");
  EXPECT_EQ(LineOf("beeper.enable"), "<buzzer on>");
  EXPECT_EQ(LineOf("beeper.disable"), "<buzzer off>");
}

TEST_F(NutCommandsTest, ShutdownUsesTheServiceDelaysOfTheMoment) {
  data_.shutdown_delay_s = 30;
  data_.restore_after_s = 0;
  EXPECT_EQ(LineOf("shutdown.return"), "C1 30 0");
  EXPECT_EQ(LineOf("shutdown.stayoff"), "C2 30");
}

TEST_F(NutCommandsTest, RefusesBadParameters) {
  NutCommandAction action;
  for (const char* param : {"0", "-1", "7201", "ten", "10s", " 10"}) {
    EXPECT_EQ(NutCommandActionOf(data_, "test.battery.start", param, &action),
              NutCommandResult::kInvalidArgument)
        << param;
  }
  EXPECT_EQ(LineOf("test.battery.start", "7200"), "C0 7200");
  EXPECT_EQ(NutCommandActionOf(data_, "shutdown.stop", "1", &action),
            NutCommandResult::kInvalidArgument);
  EXPECT_EQ(NutCommandActionOf(data_, "load.off", "", &action),
            NutCommandResult::kNotSupported);
}

TEST_F(NutCommandsTest, BasicUnitOffersOnlyShutdownCommands) {
  EXPECT_EQ(NutAvailableCommands(data_).size(), NutCommandTable().size());
  MakeBasicUnit();
  EXPECT_EQ(NutAvailableCommands(data_),
            (std::vector<std::string>{"shutdown.return", "shutdown.stayoff",
                                      "shutdown.stop"}));
  NutCommandAction action;
  EXPECT_EQ(NutCommandActionOf(data_, "test.battery.start.quick", "", &action),
            NutCommandResult::kNotSupported);
  EXPECT_EQ(NutCommandActionOf(data_, "beeper.enable", "", &action),
            NutCommandResult::kNotSupported);
  EXPECT_EQ(LineOf("shutdown.stop"), "C3");
}

}  // namespace

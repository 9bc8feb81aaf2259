#include "sim/control_commands.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/sim_state.h"

namespace {

class ControlCommandsTest : public ::testing::Test {
 protected:
  ControlCommandsTest() : control_(&state_, nullptr) {}

  SimState state_;
  ControlCommands control_;
};

TEST_F(ControlCommandsTest, SetChangesEachQuantity) {
  struct Case {
    const char* line;
    double SimState::*field;
    double value;
  };
  const Case cases[] = {
      {"set output 118", &SimState::output_volts, 118},
      {"set load 200", &SimState::load_percent, 200},
      {"set temperature -10", &SimState::temperature_celsius, -10},
      {"set frequency 49.9", &SimState::frequency_hertz, 49.9},
      {"  set   input\t99  ", &SimState::input_volts, 99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ("ok\n", control_.Execute(c.line));
    EXPECT_EQ(c.value, state_.*c.field);
  }
}

TEST_F(ControlCommandsTest, SwitchesSetAndClearTheirFlags) {
  struct Case {
    const char* on;
    const char* off;
    bool SimState::*flag;
  };
  const Case cases[] = {
      {"utility fail", "utility restore", &SimState::utility_fail},
      {"battery low", "battery normal", &SimState::battery_low},
      {"garbage on", "garbage off", &SimState::garbage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.on);
    EXPECT_EQ("ok\n", control_.Execute(c.on));
    EXPECT_TRUE(state_.*c.flag);
    EXPECT_EQ("ok\n", control_.Execute(c.off));
    EXPECT_FALSE(state_.*c.flag);
  }
}

TEST_F(ControlCommandsTest, BadLinesAreOneErrorLineAndChangeNothing) {
  const char* lines[] = {
      "set input 401", "set load -1",   "set capacity 100.5",  "set input 12x",
      "set input nan", "set input inf", "set frequency 1e999", "set input",
      "set input 1 2", "set voltage 5", "utility down",        "silent yes",
      "jump",          "status now",    "quit later",          "SET input 5"};
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    std::string answer = control_.Execute(line);
    EXPECT_EQ(0u, answer.rfind("error: ", 0)) << answer;
    EXPECT_EQ(answer.size() - 1, answer.find('\n'));
  }
  SimState fresh;
  EXPECT_EQ(fresh.input_volts, state_.input_volts);
  EXPECT_EQ(fresh.load_percent, state_.load_percent);
  EXPECT_EQ(fresh.capacity_percent, state_.capacity_percent);
  EXPECT_FALSE(control_.quit());
}

TEST_F(ControlCommandsTest, CapacitySetAcrossLevelSwitchesBatteryLow) {
  state_.battery_low_level_percent = 28;
  control_.Execute("set capacity 20");
  EXPECT_TRUE(state_.battery_low);
  control_.Execute("set capacity 90");
  EXPECT_FALSE(state_.battery_low);
}

}  // namespace

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

TEST_F(ControlCommandsTest, GoodLinesChangeTheState) {
  // Each line and the line of the state description it must produce.
  const char* const cases[][2] = {
      {"set output 118", "output 118.0"},
      {"set load 200", "load 200.0"},
      {"set temperature -10", "temperature -10.0"},
      {"set frequency 49.9", "frequency 49.90"},
      {"  set   input\t99  ", "input 99.0"},
      {"utility fail", "utility fail"},
      {"utility restore", "utility normal"},
      {"battery low", "battery low"},
      {"battery normal", "battery normal"},
      {"garbage on", "garbage on"},
      {"garbage off", "garbage off"},
      // Capacity set across the battery-low level (28 %) switches the flag.
      {"set capacity 20", "battery low"},
      {"set capacity 90", "battery normal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    EXPECT_EQ("ok\n", control_.Execute(c[0]));
    std::string state = "\n" + state_.Describe();
    EXPECT_NE(std::string::npos, state.find("\n" + std::string(c[1]) + "\n"))
        << state;
  }
}

TEST_F(ControlCommandsTest, BadLinesAreOneErrorLineAndChangeNothing) {
  const char* lines[] = {
      "set input 401", "set load -1",   "set capacity 100.5",  "set input 12x",
      "set input nan", "set input inf", "set frequency 1e999", "set input",
      "set input 1 2", "set voltage 5", "utility down",        "silent yes",
      "jump",          "status now",    "quit later",          "SET input 5"};
  const std::string before = state_.Describe();
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    std::string answer = control_.Execute(line);
    EXPECT_EQ(0u, answer.rfind("error: ", 0)) << answer;
    EXPECT_EQ(answer.size() - 1, answer.find('\n'));
  }
  EXPECT_EQ(before, state_.Describe());
  EXPECT_FALSE(control_.quit());
}

}  // namespace

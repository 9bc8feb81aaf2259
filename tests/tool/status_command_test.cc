#include "tool/status_command.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"

namespace {

class StatusCommandTest : public ToolTestBase {
 protected:
  // A UPS with the full property set, on mains, fully charged.
  void AnswerFullUps() {
    const char* const answers[][2] = {
        {"DEV PROP_PORTTYPE", "2"},       {"DEV STATUS_POWERFAIL", "0"},
        {"DEV STATUS_CAPACITY", "10000"}, {"DEV STATUS_TEST", "0"},
        {"DEV STATUS_BATTERYLO", "0"},    {"DEV STATUS_INVOLT", "22000"},
        {"DEV STATUS_OUTVOLT", "22400"},  {"DEV STATUS_LOAD", "3500"},
        {"DEV STATUS_FREQ", "5005"},      {"DEV STATUS_TEMP", "3000"},
        {"DEV STATUS_BACKUP", "125"}};
    for (const auto& answer : answers) Answer(answer[0], answer[1]);
  }
};

TEST_F(StatusCommandTest, FullUpsShowsElevenLinesAskingSharedValuesOnce) {
  AnswerFullUps();
  EXPECT_EQ(Lines({"utility state : normal", "charger state : bypass",
                   "battery state : normal", "input voltage : 220 volts",
                   "output voltage : 224 volts", "AVR level : boost",
                   "battery capacity : 100 %", "load level : 35 %",
                   "frequency : 50.05 Hz", "temperature : 30 C",
                   "backup time : 2 minute 5 seconds."}),
            RunOk({"status"}));
  EXPECT_EQ(
      (Strings{"DEV PROP_PORTTYPE", "DEV STATUS_POWERFAIL",
               "DEV STATUS_CAPACITY", "DEV STATUS_TEST", "DEV STATUS_BATTERYLO",
               "DEV STATUS_INVOLT", "DEV STATUS_OUTVOLT", "DEV STATUS_LOAD",
               "DEV STATUS_FREQ", "DEV STATUS_TEMP", "DEV STATUS_BACKUP"}),
      requests());
}

TEST_F(StatusCommandTest, BasicUpsShowsTheThreeStatesAndRefusesOthers) {
  AnswerFullUps();
  Answer("DEV PROP_PORTTYPE", "1");
  Answer("DEV STATUS_POWERFAIL", "1");
  Answer("DEV STATUS_BATTERYLO", "3");
  EXPECT_EQ(Lines({"utility state : fail", "charger state : discharging",
                   "battery state : critical low"}),
            RunOk({"status"}));
  EXPECT_EQ((Strings{"DEV PROP_PORTTYPE", "DEV STATUS_POWERFAIL",
                     "DEV STATUS_BATTERYLO"}),
            requests());
  Clear();
  EXPECT_EQ(Lines({"this UPS is not support -load."}),
            RunOk({"status", "-load"}));
}

TEST_F(StatusCommandTest, NamedItemsShowInTableOrderOnce) {
  AnswerFullUps();
  EXPECT_EQ(Lines({"input voltage : 220 volts", "load level : 35 %"}),
            RunOk({"STATUS", "-LOAD", "-input_volt", "-load"}));
}

TEST_F(StatusCommandTest, ComputedLinesAndFormats) {
  struct Case {
    Strings answers;  // request, reply, ...
    const char* item;
    const char* expected;
  };
  const Case cases[] = {
      {{"DEV STATUS_CAPACITY", "9950"},
       "-charger_state",
       "charger state : charging"},
      {{"DEV STATUS_POWERFAIL", "1"},
       "-charger_state",
       "charger state : discharging"},
      {{"DEV STATUS_OUTVOLT", "21600"}, "-avr_level", "AVR level : buck"},
      {{"DEV STATUS_OUTVOLT", "22300"}, "-avr_level", "AVR level : normal"},
      {{"DEV STATUS_OUTVOLT", "24000", "DEV STATUS_TEST", "1"},
       "-avr_level",
       "AVR level : normal"},
      // Sums beyond 32 bits must not wrap.
      {{"DEV STATUS_INVOLT", "2147483647", "DEV STATUS_OUTVOLT", "-2147483648"},
       "-avr_level",
       "AVR level : buck"},
      {{"DEV STATUS_INVOLT", "-2147483648", "DEV STATUS_OUTVOLT", "2147483647"},
       "-avr_level",
       "AVR level : boost"},
      {{"DEV STATUS_FREQ", "5000"}, "-frequency", "frequency : 50.00 Hz"},
      {{"DEV STATUS_FREQ", "-5"}, "-frequency", "frequency : -0.05 Hz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Clear();
    AnswerFullUps();
    for (size_t i = 0; i + 1 < c.answers.size(); i += 2) {
      Answer(c.answers[i], c.answers[i + 1]);
    }
    EXPECT_EQ(Lines({c.expected}), RunOk({"status", c.item}));
  }
}

TEST_F(StatusCommandTest, FailedItemAsksWhetherTheServiceHasContact) {
  struct Case {
    const char* connect_reply;
    Strings items;
    std::string expected;
  };
  const Case cases[] = {
      {"ERR 8",
       {"-utility_state", "-input_volt", "-load"},
       Lines({"utility state : normal",
              "the service can't connect with UPS uint."})},
      {"1", {"-input_volt", "-load"}, Lines({"load level : 35 %"})},
      {"ERR 5",
       {"-input_volt", "-load"},
       Lines({" error. (5)", "load level : 35 %"})},
      // The battery-low answer 0 is the last value read before the failure.
      {"ERR 5",
       {"-battery_state", "-input_volt", "-load"},
       Lines({"battery state : normal",
              "the service can't connect with UPS uint."})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Clear();
    AnswerFullUps();
    Fail("DEV STATUS_INVOLT", 4);
    Answer("DEV STATUS_CONNECT", c.connect_reply);
    Strings args = {"status"};
    args.insert(args.end(), c.items.begin(), c.items.end());
    EXPECT_EQ(c.expected, RunOk(args));
  }
}

TEST_F(StatusCommandTest, ContactQueryFailingBeforeAnyValueShowsItsCode) {
  Fail("DEV PROP_PORTTYPE", 3);
  Fail("DEV STATUS_CONNECT", 5);
  Answer("DEV STATUS_POWERFAIL", "0");
  EXPECT_EQ(Lines({" error. (5)", "utility state : normal"}),
            RunOk({"status", "-utility_state"}));
}

TEST_F(StatusCommandTest, TemperatureAndBackupFailuresAreSilent) {
  AnswerFullUps();
  Fail("DEV STATUS_TEMP", 8);
  Fail("DEV STATUS_BACKUP", 8);
  EXPECT_EQ(Lines({"load level : 35 %"}),
            RunOk({"status", "-temperature", "-backup_time", "-load"}));
  EXPECT_EQ((Strings{"DEV PROP_PORTTYPE", "DEV STATUS_LOAD", "DEV STATUS_TEMP",
                     "DEV STATUS_BACKUP"}),
            requests());
}

TEST_F(StatusCommandTest, RepeatSeparatesPassesAndPausesTheGivenSeconds) {
  AnswerFullUps();
  CommandContext context = Prepare({"status", "-t", "5", "-load"});
  context.max_status_passes = 3;
  RunStatus(context);
  EXPECT_EQ(Lines({"to display UPS status continually for every 5 seconds "
                   "until Ctrl-C are pressed.",
                   "load level : 35 %", "", "load level : 35 %", "",
                   "load level : 35 %"}),
            output());
  EXPECT_EQ((std::vector<int32_t>{5000, 5000}), clock_.pauses());
}

TEST_F(StatusCommandTest, LongRepeatPauseIsSplitWithoutOverflow) {
  AnswerFullUps();
  CommandContext context = Prepare({"status", "-t", "2000000000", "-load"});
  context.max_status_passes = 2;
  RunStatus(context);
  int64_t total = 0;
  for (int32_t pause : clock_.pauses()) total += pause;
  EXPECT_EQ(int64_t{2000000000} * 1000, total);
}

}  // namespace

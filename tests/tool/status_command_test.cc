#include "tool/status_command.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"

namespace {

class StatusCommandTest : public ToolTestBase {
 protected:
  // A UPS with the full property set, on mains, fully charged; then
  // `answers` (request, reply, ...) on top.
  void AnswerUps(const Strings& answers = {}) {
    AnswerAll(Strings{
        "DEV PROP_PORTTYPE",    "2",     "DEV STATUS_POWERFAIL", "0",
        "DEV STATUS_CAPACITY",  "10000", "DEV STATUS_TEST",      "0",
        "DEV STATUS_BATTERYLO", "0",     "DEV STATUS_INVOLT",    "22000",
        "DEV STATUS_OUTVOLT",   "22400", "DEV STATUS_LOAD",      "3500",
        "DEV STATUS_FREQ",      "5005",  "DEV STATUS_TEMP",      "3000",
        "DEV STATUS_BACKUP",    "125"});
    AnswerAll(answers);
  }
};

TEST_F(StatusCommandTest, FullUpsShowsElevenLinesAskingSharedValuesOnce) {
  AnswerUps();
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

TEST_F(StatusCommandTest, BasicUpsShowsTheThreeStates) {
  AnswerUps({"DEV PROP_PORTTYPE", "1", "DEV STATUS_POWERFAIL", "1",
             "DEV STATUS_BATTERYLO", "3"});
  EXPECT_EQ(Lines({"utility state : fail", "charger state : discharging",
                   "battery state : critical low"}),
            RunOk({"status"}));
  EXPECT_EQ((Strings{"DEV PROP_PORTTYPE", "DEV STATUS_POWERFAIL",
                     "DEV STATUS_BATTERYLO"}),
            requests());
}

TEST_F(StatusCommandTest, ItemsComputedLinesAndFailures) {
  struct Case {
    Strings answers;  // request, reply, ... over the full UPS
    Strings items;
    std::string expected;
  };
  const Case cases[] = {
      {{},
       {"-LOAD", "-input_volt", "-load"},  // table order, once
       Lines({"input voltage : 220 volts", "load level : 35 %"})},
      {{"DEV PROP_PORTTYPE", "1"},
       {"-load"},
       "this UPS is not support -load.\n"},
      {{"DEV STATUS_CAPACITY", "9950"},
       {"-charger_state"},
       "charger state : charging\n"},
      {{"DEV STATUS_OUTVOLT", "21600"}, {"-avr_level"}, "AVR level : buck\n"},
      {{"DEV STATUS_OUTVOLT", "22300"}, {"-avr_level"}, "AVR level : normal\n"},
      {{"DEV STATUS_OUTVOLT", "24000", "DEV STATUS_TEST", "1"},
       {"-avr_level"},
       "AVR level : normal\n"},
      // Sums beyond 32 bits must not wrap.
      {{"DEV STATUS_INVOLT", "2147483647", "DEV STATUS_OUTVOLT", "-2147483648"},
       {"-avr_level"},
       "AVR level : buck\n"},
      {{"DEV STATUS_INVOLT", "-2147483648", "DEV STATUS_OUTVOLT", "2147483647"},
       {"-avr_level"},
       "AVR level : boost\n"},
      {{"DEV STATUS_FREQ", "5000"}, {"-frequency"}, "frequency : 50.00 Hz\n"},
      {{"DEV STATUS_FREQ", "-5"}, {"-frequency"}, "frequency : -0.05 Hz\n"},
      // Temperature and backup time fail silently.
      {{"DEV STATUS_TEMP", "ERR 8", "DEV STATUS_BACKUP", "ERR 8"},
       {"-temperature", "-backup_time", "-load"},
       "load level : 35 %\n"},
      // Any other failure asks whether the service has contact; without it
      // the rest of the items are not shown.
      {{"DEV STATUS_INVOLT", "ERR 4", "DEV STATUS_CONNECT", "ERR 8"},
       {"-utility_state", "-input_volt", "-load"},
       Lines({"utility state : normal",
              "the service can't connect with UPS uint."})},
      {{"DEV STATUS_INVOLT", "ERR 4", "DEV STATUS_CONNECT", "1"},
       {"-input_volt", "-load"},
       "load level : 35 %\n"},
      // A failed contact query shows its code only when no value was read
      // in this run (the battery-low 0 counts as one).
      {{"DEV STATUS_INVOLT", "ERR 4", "DEV STATUS_CONNECT", "ERR 5"},
       {"-input_volt", "-load"},
       Lines({" error. (5)", "load level : 35 %"})},
      {{"DEV STATUS_INVOLT", "ERR 4", "DEV STATUS_CONNECT", "ERR 5"},
       {"-battery_state", "-input_volt", "-load"},
       Lines({"battery state : normal",
              "the service can't connect with UPS uint."})},
      {{"DEV PROP_PORTTYPE", "ERR 3", "DEV STATUS_CONNECT", "ERR 5"},
       {"-utility_state"},
       Lines({" error. (5)", "utility state : normal"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Clear();
    AnswerUps(c.answers);
    Strings args = {"status"};
    args.insert(args.end(), c.items.begin(), c.items.end());
    EXPECT_EQ(c.expected, RunOk(args));
  }
}

TEST_F(StatusCommandTest,
       RepeatPausesTheGivenSecondsSplittingLongOnesWithoutOverflow) {
  AnswerUps();
  CommandContext context = Prepare({"status", "-t", "5", "-load"});
  context.max_status_passes = 3;
  RunStatus(context);
  EXPECT_EQ(Lines({"to display UPS status continually for every 5 seconds "
                   "until Ctrl-C are pressed.",
                   "load level : 35 %", "", "load level : 35 %", "",
                   "load level : 35 %"}),
            output());
  EXPECT_EQ((std::vector<int32_t>{5000, 5000}), clock_.pauses());
  // A long repeat pause is split without overflow.
  clock_.ClearPauses();
  options_.status_repeat_seconds = 2000000000;
  context.max_status_passes = 2;
  RunStatus(context);
  int64_t total = 0;
  for (int32_t pause : clock_.pauses()) total += pause;
  EXPECT_EQ(int64_t{2000000000} * 1000, total);
}

// A reply that comes after its request timed out must not be shown as the
// value of the next request ("battery capacity : 230 %" from an output
// voltage): every later request on the connection fails instead.
TEST_F(StatusCommandTest, LateReplyIsNotShownAsTheNextValue) {
  AnswerUps({"DEV STATUS_CONNECT", "1"});
  const CommandContext context =
      Prepare({"status", "-output_volt", "-capacity", "-load"});
  connection_.SetTimeouts(3000, 200);
  peer_.SetHandler([this](const std::string& request) {
    if (request == "DEV STATUS_OUTVOLT\r") {
      return PeerReply{{"", "23000\r"}, 600};
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = answers_.find(request.substr(0, request.size() - 1));
    return PeerReply{{it == answers_.end() ? "ERR 99\r" : it->second}};
  });
  RunStatus(context);
  EXPECT_EQ(Lines({" error. (21)", " error. (21)", " error. (21)"}), output());
  EXPECT_EQ((Strings{"DEV PROP_PORTTYPE", "DEV STATUS_OUTVOLT"}), requests());
}

}  // namespace

#include "tool/status_command.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/tool/tool_test_base.h"

namespace {

class StatusCommandTest : public ToolTestBase {
 protected:
  // A UPS with the full property set, on mains, fully charged.
  void AnswerFullUps() {
    service_.Answer("DEV PROP_PORTTYPE", "2");
    service_.Answer("DEV STATUS_POWERFAIL", "0");
    service_.Answer("DEV STATUS_CAPACITY", "10000");
    service_.Answer("DEV STATUS_TEST", "0");
    service_.Answer("DEV STATUS_BATTERYLO", "0");
    service_.Answer("DEV STATUS_INVOLT", "22000");
    service_.Answer("DEV STATUS_OUTVOLT", "22400");
    service_.Answer("DEV STATUS_LOAD", "3500");
    service_.Answer("DEV STATUS_FREQ", "5005");
    service_.Answer("DEV STATUS_TEMP", "3000");
    service_.Answer("DEV STATUS_BACKUP", "125");
  }

  // One pass over the named items against a service of the test's own.
  std::string RunItems(FakeService* service, uint32_t items) {
    ServiceConnection connection;
    connection.SetTimeouts(3000, 3000);
    EXPECT_TRUE(connection.Connect("127.0.0.1", service->port()));
    std::ostringstream out;
    ToolOptions options;
    options.status_items = items;
    CommandContext context{&options, &connection, &out, &clock_, 0};
    RunStatus(context);
    return out.str();
  }

  std::string RunStatusWith(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"status"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(0, Run(args));
    return output();
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
            RunStatusWith({}));
  EXPECT_EQ(
      (std::vector<std::string>{
          "DEV PROP_PORTTYPE", "DEV STATUS_POWERFAIL", "DEV STATUS_CAPACITY",
          "DEV STATUS_TEST", "DEV STATUS_BATTERYLO", "DEV STATUS_INVOLT",
          "DEV STATUS_OUTVOLT", "DEV STATUS_LOAD", "DEV STATUS_FREQ",
          "DEV STATUS_TEMP", "DEV STATUS_BACKUP"}),
      service_.command_requests());
}

TEST_F(StatusCommandTest, BasicUpsShowsOnlyTheThreeStates) {
  AnswerFullUps();
  service_.Answer("DEV PROP_PORTTYPE", "1");
  service_.Answer("DEV STATUS_POWERFAIL", "1");
  service_.Answer("DEV STATUS_BATTERYLO", "3");
  EXPECT_EQ(Lines({"utility state : fail", "charger state : discharging",
                   "battery state : critical low"}),
            RunStatusWith({}));
  EXPECT_EQ(
      (std::vector<std::string>{"DEV PROP_PORTTYPE", "DEV STATUS_POWERFAIL",
                                "DEV STATUS_BATTERYLO"}),
      service_.command_requests());
}

TEST_F(StatusCommandTest, BasicUpsRefusesNamedFullUpsItem) {
  AnswerFullUps();
  service_.Answer("DEV PROP_PORTTYPE", "1");
  EXPECT_EQ(Lines({"utility state : normal", "this UPS is not support -load."}),
            RunStatusWith({"-load", "-utility_state"}));
  EXPECT_EQ(
      (std::vector<std::string>{"DEV PROP_PORTTYPE", "DEV STATUS_POWERFAIL"}),
      service_.command_requests());
}

TEST_F(StatusCommandTest, NamedItemsShowInTableOrderOnce) {
  AnswerFullUps();
  EXPECT_EQ(Lines({"input voltage : 220 volts", "load level : 35 %"}),
            RunStatusWith({"-LOAD", "-input_volt", "-load"}));
}

TEST_F(StatusCommandTest, ChargerState) {
  struct Case {
    const char* power_fail;
    const char* capacity;
    const char* port_type;
    const char* expected;
  };
  const Case cases[] = {
      {"0", "10000", "2", "charger state : bypass"},
      {"0", "9950", "2", "charger state : charging"},
      {"1", "10000", "2", "charger state : discharging"},
      {"0", "5000", "1", "charger state : bypass"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.power_fail) + " " + c.capacity);
    FakeService service;
    ASSERT_TRUE(service.Start());
    service.Answer("DEV PROP_PORTTYPE", c.port_type);
    service.Answer("DEV STATUS_POWERFAIL", c.power_fail);
    service.Answer("DEV STATUS_CAPACITY", c.capacity);
    service.Answer("DEV STATUS_TEST", "0");
    EXPECT_EQ(std::string(c.expected) + "\n",
              RunItems(&service, 1u << kStatusChargerState));
  }
}

TEST_F(StatusCommandTest, AvrLevel) {
  struct Case {
    const char* self_test;
    const char* input;
    const char* output;
    const char* expected;
  };
  const Case cases[] = {
      {"0", "22000", "22400", "AVR level : boost"},
      {"0", "22000", "21600", "AVR level : buck"},
      {"0", "22000", "22300", "AVR level : normal"},
      {"0", "22000", "21700", "AVR level : normal"},
      {"1", "22000", "24000", "AVR level : normal"},
      // Sums beyond 32 bits must not wrap.
      {"0", "2147483647", "-2147483648", "AVR level : buck"},
      {"0", "-2147483648", "2147483647", "AVR level : boost"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.output);
    FakeService service;
    ASSERT_TRUE(service.Start());
    service.Answer("DEV PROP_PORTTYPE", "2");
    service.Answer("DEV STATUS_TEST", c.self_test);
    service.Answer("DEV STATUS_INVOLT", c.input);
    service.Answer("DEV STATUS_OUTVOLT", c.output);
    EXPECT_EQ(std::string(c.expected) + "\n",
              RunItems(&service, 1u << kStatusAvrLevel));
    EXPECT_EQ(
        (std::vector<std::string>{"DEV PROP_PORTTYPE", "DEV STATUS_TEST",
                                  "DEV STATUS_INVOLT", "DEV STATUS_OUTVOLT"}),
        service.requests());
  }
}

TEST_F(StatusCommandTest, FrequencyAndBackupFormats) {
  struct Case {
    const char* frequency;
    const char* backup;
    std::string expected;
  };
  const Case cases[] = {
      {"5005", "125",
       Lines({"frequency : 50.05 Hz", "backup time : 2 minute 5 seconds."})},
      {"5000", "60",
       Lines({"frequency : 50.00 Hz", "backup time : 1 minute 0 seconds."})},
      {"5", "59",
       Lines({"frequency : 0.05 Hz", "backup time : 0 minute 59 seconds."})},
      {"-5", "0",
       Lines({"frequency : -0.05 Hz", "backup time : 0 minute 0 seconds."})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frequency);
    FakeService service;
    ASSERT_TRUE(service.Start());
    service.Answer("DEV PROP_PORTTYPE", "2");
    service.Answer("DEV STATUS_FREQ", c.frequency);
    service.Answer("DEV STATUS_BACKUP", c.backup);
    EXPECT_EQ(c.expected, RunItems(&service, (1u << kStatusFrequency) |
                                                 (1u << kStatusBackupTime)));
  }
}

TEST_F(StatusCommandTest, NoContactWithUnitEndsThePass) {
  AnswerFullUps();
  service_.Fail("DEV STATUS_INVOLT", 8);
  service_.Fail("DEV STATUS_CONNECT", 8);
  EXPECT_EQ(Lines({"utility state : normal",
                   "the service can't connect with UPS uint."}),
            RunStatusWith({"-utility_state", "-input_volt", "-load"}));
  EXPECT_EQ(
      (std::vector<std::string>{"DEV PROP_PORTTYPE", "DEV STATUS_POWERFAIL",
                                "DEV STATUS_INVOLT", "DEV STATUS_CONNECT"}),
      service_.command_requests());
}

TEST_F(StatusCommandTest, ContactQueryAnsweringLeavesTheRowSilent) {
  AnswerFullUps();
  service_.Fail("DEV STATUS_INVOLT", 4);
  service_.Answer("DEV STATUS_CONNECT", "1");
  EXPECT_EQ(Lines({"load level : 35 %"}),
            RunStatusWith({"-input_volt", "-load"}));
}

TEST_F(StatusCommandTest, ContactQueryErrorPrintsItsCodeAndGoesOn) {
  AnswerFullUps();
  service_.Fail("DEV STATUS_INVOLT", 4);
  service_.Fail("DEV STATUS_CONNECT", 5);
  EXPECT_EQ(Lines({" error. (5)", "load level : 35 %"}),
            RunStatusWith({"-input_volt", "-load"}));
}

TEST_F(StatusCommandTest, ContactQueryErrorAfterAZeroValueMeansNoContact) {
  AnswerFullUps();
  service_.Fail("DEV STATUS_INVOLT", 4);
  service_.Fail("DEV STATUS_CONNECT", 5);
  // The battery-low answer 0 is the last value read before the failure.
  EXPECT_EQ(Lines({"battery state : normal",
                   "the service can't connect with UPS uint."}),
            RunStatusWith({"-battery_state", "-input_volt", "-load"}));
}

TEST_F(StatusCommandTest, ContactQueryFailingBeforeAnyValueShowsItsCode) {
  service_.Fail("DEV PROP_PORTTYPE", 3);
  service_.Fail("DEV STATUS_CONNECT", 5);
  service_.Answer("DEV STATUS_POWERFAIL", "0");
  EXPECT_EQ(Lines({" error. (5)", "utility state : normal"}),
            RunStatusWith({"-utility_state"}));
}

TEST_F(StatusCommandTest, TemperatureAndBackupFailuresAreSilent) {
  AnswerFullUps();
  service_.Fail("DEV STATUS_TEMP", 8);
  service_.Fail("DEV STATUS_BACKUP", 8);
  EXPECT_EQ(Lines({"load level : 35 %"}),
            RunStatusWith({"-temperature", "-backup_time", "-load"}));
  EXPECT_EQ((std::vector<std::string>{"DEV PROP_PORTTYPE", "DEV STATUS_LOAD",
                                      "DEV STATUS_TEMP", "DEV STATUS_BACKUP"}),
            service_.command_requests());
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
  // The cached values are asked afresh in every pass.
  EXPECT_EQ(6u, service_.command_requests().size());
}

TEST_F(StatusCommandTest, LongRepeatPauseIsSplitWithoutOverflow) {
  AnswerFullUps();
  CommandContext context = Prepare({"status", "-t", "2000000000", "-load"});
  context.max_status_passes = 2;
  RunStatus(context);
  int64_t total = 0;
  for (int32_t pause : clock_.pauses()) {
    EXPECT_GT(pause, 0);
    total += pause;
  }
  EXPECT_EQ(int64_t{2000000000} * 1000, total);
}

}  // namespace

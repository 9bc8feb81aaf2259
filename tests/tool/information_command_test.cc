#include "tool/information_command.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"

namespace {

class InformationCommandTest : public ToolTestBase {
 protected:
  void SetUp() override {
    ToolTestBase::SetUp();
    AnswerFullUps();
  }

  // A full UPS, answered in the order the command asks.
  void AnswerFullUps() {
    for (const auto& answer : kFullUps) Answer(answer[0], answer[1]);
  }

  static constexpr const char* kFullUps[][2] = {
      {"DEV PROP_PORTTYPE", "2"},
      {"DEV PROP_MODEL", "Model X 1000"},
      {"DEV PROP_FWVER", "1.02"},
      {"DEV PROP_VOLT", "22000"},
      {"DEV PROP_FREQLO", "5000"},
      {"DEV PROP_FREQHI", "6000"},
      {"DEV PROP_VA", "100000"},
      {"DEV PROP_WATT", "60000"},
      {"DEV PROP_BATVOLT", "2400"},
      {"DEV PROP_BATAH", "720"},
      {"DEV PROP_BATNUM", "2"},
      {"DEV PROP_BATEXT", "0"},
      {"POL service.buzzer on", "1"},
      {"DEV PROP_COLDSTART", "0"},
      {"POL service.rec by period", "2"},
      {"PTC powerfail.shutdown.happen.max count", "5"},
      {"POL service.auto save", "0"},
      {"POL service.record rate", "30"},
      {"PTC powerfail.shutdown.happen.delay", "90"},
      {"POL service.shutdown delay", "3600"},
      {"DEV PROP_MEDIADEVICES", "1:0:ttyS0\n1:1:ttyS1"},
      {"DEV PROP_MEDIATYPE", "1"},
      {"DEV PROP_MEDIAIDX", "1"},
      {"DEV PROP_INPUTHI", "270"},
      {"DEV PROP_INPUTHI_RANGE", "260,270,280,270"},
      {"DEV PROP_INPUTLO", "170"},
      {"DEV PROP_INPUTLO_RANGE", "160, 170, 180"},
      {"DEV PROP_BATTERYLO", "20"},
      {"DEV PROP_BATTERYLO_RANGE", "10,20"},
      {"DEV PROP_BATOUT", "230"},
      {"DEV PROP_BATOUT_RANGE", "220,240"}};
};

TEST_F(InformationCommandTest, FullUpsShowsEveryItemInTableOrder) {
  EXPECT_EQ(Lines({"UPS model : Model X 1000", "UPS version : 1.02",
                   "output format : 220 V, 50 ~ 60 Hz, 1000 VA, 600 Watt.",
                   "battery format : 24 V, 7.2 Ah, 2 pack, 0 pack.",
                   "buzzer : [on],off", "cold start : on,[off]",
                   "enable status record : on,off",
                   "shutdown system after power fails : [on],off",
                   "enable auto save function :on,[off]",
                   "status record interval : 30 seconds.",
                   "power failure causes system shutdown after : 1 minute 30 "
                   "seconds.",
                   "time to wait system complete shutdown : 1 hour 0 minute 0 "
                   "seconds.",
                   "communication port : [ttyS0],[ttyS1]",
                   "high input voltage configuration : 260,[270],280,[270]",
                   "low input voltage configuration : 160,[170],180",
                   "percentage of battery critical capacity configuration : "
                   "10,[20]",
                   "battery mode output voltage configuration : 220,240"}),
            RunOk({"information"}));
  Strings expected;
  for (const auto& answer : kFullUps) expected.push_back(answer[0]);
  EXPECT_EQ(expected, requests());
}

TEST_F(InformationCommandTest, BasicUpsShowsOnlyTheServiceSettings) {
  Answer("DEV PROP_PORTTYPE", "1");
  EXPECT_EQ(Lines({"shutdown system after power fails : [on],off",
                   "enable auto save function :on,[off]",
                   "power failure causes system shutdown after : 1 minute "
                   "30 seconds.",
                   "communication port : [ttyS0],[ttyS1]"}),
            RunOk({"information"}));
  // A failed port-type query counts as a basic UPS.
  Clear();
  Fail("DEV PROP_PORTTYPE", 21);
  EXPECT_EQ(Lines({"-model is not supported by this UPS.",
                   "shutdown system after power fails : [on],off"}),
            RunOk({"information", "-shutdown", "-MODEL"}));
}

TEST_F(InformationCommandTest, ServiceSettingsAloneSkipThePortTypeQuery) {
  EXPECT_EQ(Lines({"enable auto save function :on,[off]"}),
            RunOk({"information", "-auto_save"}));
  EXPECT_EQ(Strings{"POL service.auto save"}, requests());
}

TEST_F(InformationCommandTest, ValueForms) {
  struct Case {
    const char* option;
    const char* request;
    const char* reply;
    const char* expected;
  };
  const Case cases[] = {
      {"-buzzer", "POL service.buzzer on", "0", "buzzer : on,[off]"},
      // A setting text that is not a number leaves the label alone.
      {"-buzzer", "POL service.buzzer on", "on", "buzzer : "},
      {"-buzzer", "POL service.buzzer on", "-1", "buzzer : "},
      {"-buzzer", "POL service.buzzer on", "99999999999", "buzzer : "},
      {"-shutdown", "PTC powerfail.shutdown.happen.max count", "0",
       "shutdown system after power fails : on,[off]"},
      {"-cold_start", "DEV PROP_COLDSTART", "3", "cold start : on,off"},
      {"-record_interval", "POL service.record rate", "3725",
       "status record interval : 1 hour 2 minute 5 seconds."},
      {"-output_format", "DEV PROP_FREQHI", "5000",
       "output format : 220 V, 50 Hz, 1000 VA, 600 Watt."},
      {"-battery_format", "DEV PROP_BATVOLT", "1250",
       "battery format : 12.5 V, 7.2 Ah, 2 pack, 0 pack."},
      // Code 1 is a missing value; any other code is shown after what was
      // already printed.
      {"-model", "DEV PROP_MODEL", "ERR 1", "UPS model : "},
      {"-version", "DEV PROP_FWVER", "ERR 9", "UPS version :  error. (9)"},
      {"-output_format", "DEV PROP_FREQHI", "ERR 7",
       "output format : 220 V error. (7)"},
      {"-input_lo", "DEV PROP_INPUTLO_RANGE", "ERR 1",
       "low input voltage configuration : "},
      {"-port", "DEV PROP_MEDIADEVICES",
       "0.0.None\n1.0.Auto\n2.1.ttyS0\n2.2.ttyS1",
       "communication port : None,[Auto],ttyS0,ttyS1"},
      // The comma goes by position: an unreadable first line leaves one.
      {"-port", "DEV PROP_MEDIADEVICES", "garbage\n2.1.ttyS0\nx.y\n1.1.ttyS1",
       "communication port : ,ttyS0,[ttyS1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Clear();
    AnswerFullUps();
    Answer(c.request, c.reply);
    EXPECT_EQ(Lines({c.expected}), RunOk({"information", c.option}));
  }
}

}  // namespace

#include "tool/information_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tool/tool_test_base.h"

namespace {

class InformationCommandTest : public ToolTestBase {
 protected:
  void AnswerFullUps() {
    service_.Answer("DEV PROP_PORTTYPE", "2");
    service_.Answer("DEV PROP_MODEL", "Model X 1000");
    service_.Answer("DEV PROP_FWVER", "1.02");
    service_.Answer("DEV PROP_VOLT", "22000");
    service_.Answer("DEV PROP_FREQLO", "5000");
    service_.Answer("DEV PROP_FREQHI", "6000");
    service_.Answer("DEV PROP_VA", "100000");
    service_.Answer("DEV PROP_WATT", "60000");
    service_.Answer("DEV PROP_BATVOLT", "2400");
    service_.Answer("DEV PROP_BATAH", "720");
    service_.Answer("DEV PROP_BATNUM", "2");
    service_.Answer("DEV PROP_BATEXT", "0");
    service_.Answer("POL service.buzzer on", "1");
    service_.Answer("DEV PROP_COLDSTART", "0");
    service_.Answer("POL service.rec by period", "2");
    service_.Answer("PTC powerfail.shutdown.happen.max count", "5");
    service_.Answer("POL service.auto save", "0");
    service_.Answer("POL service.record rate", "30");
    service_.Answer("PTC powerfail.shutdown.happen.delay", "90");
    service_.Answer("POL service.shutdown delay", "3600");
    service_.Answer("DEV PROP_MEDIADEVICES", "1:0:ttyS0\n1:1:ttyS1");
    service_.Answer("DEV PROP_MEDIATYPE", "1");
    service_.Answer("DEV PROP_MEDIAIDX", "1");
    service_.Answer("DEV PROP_INPUTHI", "270");
    service_.Answer("DEV PROP_INPUTHI_RANGE", "260,270,280");
    service_.Answer("DEV PROP_INPUTLO", "170");
    service_.Answer("DEV PROP_INPUTLO_RANGE", "160, 170, 180");
    service_.Answer("DEV PROP_BATTERYLO", "20");
    service_.Answer("DEV PROP_BATTERYLO_RANGE", "10,20");
    service_.Answer("DEV PROP_BATOUT", "230");
    service_.Answer("DEV PROP_BATOUT_RANGE", "220,240");
  }

  std::string RunInformationWith(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"information"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(0, Run(args));
    return output();
  }
};

TEST_F(InformationCommandTest, FullUpsShowsEveryItemInTableOrder) {
  AnswerFullUps();
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
                   "high input voltage configuration : 260,[270],280",
                   "low input voltage configuration : 160,[170],180",
                   "percentage of battery critical capacity configuration : "
                   "10,[20]",
                   "battery mode output voltage configuration : 220,240"}),
            RunInformationWith({}));
  EXPECT_EQ((std::vector<std::string>{"DEV PROP_PORTTYPE",
                                      "DEV PROP_MODEL",
                                      "DEV PROP_FWVER",
                                      "DEV PROP_VOLT",
                                      "DEV PROP_FREQLO",
                                      "DEV PROP_FREQHI",
                                      "DEV PROP_VA",
                                      "DEV PROP_WATT",
                                      "DEV PROP_BATVOLT",
                                      "DEV PROP_BATAH",
                                      "DEV PROP_BATNUM",
                                      "DEV PROP_BATEXT",
                                      "POL service.buzzer on",
                                      "DEV PROP_COLDSTART",
                                      "POL service.rec by period",
                                      "PTC powerfail.shutdown.happen.max count",
                                      "POL service.auto save",
                                      "POL service.record rate",
                                      "PTC powerfail.shutdown.happen.delay",
                                      "POL service.shutdown delay",
                                      "DEV PROP_MEDIADEVICES",
                                      "DEV PROP_MEDIATYPE",
                                      "DEV PROP_MEDIAIDX",
                                      "DEV PROP_INPUTHI",
                                      "DEV PROP_INPUTHI_RANGE",
                                      "DEV PROP_INPUTLO",
                                      "DEV PROP_INPUTLO_RANGE",
                                      "DEV PROP_BATTERYLO",
                                      "DEV PROP_BATTERYLO_RANGE",
                                      "DEV PROP_BATOUT",
                                      "DEV PROP_BATOUT_RANGE"}),
            service_.command_requests());
}

TEST_F(InformationCommandTest, BasicUpsShowsOnlyTheServiceSettings) {
  AnswerFullUps();
  service_.Answer("DEV PROP_PORTTYPE", "1");
  EXPECT_EQ(Lines({"shutdown system after power fails : [on],off",
                   "enable auto save function :on,[off]",
                   "power failure causes system shutdown after : 1 minute "
                   "30 seconds.",
                   "communication port : [ttyS0],[ttyS1]"}),
            RunInformationWith({}));
}

TEST_F(InformationCommandTest, FailedPortTypeQueryHidesFullUpsItems) {
  AnswerFullUps();
  service_.Fail("DEV PROP_PORTTYPE", 21);
  EXPECT_EQ(Lines({"-model is not supported by this UPS.",
                   "shutdown system after power fails : [on],off"}),
            RunInformationWith({"-shutdown", "-MODEL"}));
}

TEST_F(InformationCommandTest, ServiceSettingsAloneSkipThePortTypeQuery) {
  AnswerFullUps();
  EXPECT_EQ(Lines({"enable auto save function :on,[off]"}),
            RunInformationWith({"-auto_save"}));
  EXPECT_EQ(std::vector<std::string>{"POL service.auto save"},
            service_.command_requests());
}

TEST_F(InformationCommandTest, ChoiceForms) {
  struct Case {
    const char* option;
    const char* key;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"-buzzer", "POL service.buzzer on", "1", "buzzer : [on],off"},
      {"-buzzer", "POL service.buzzer on", "0", "buzzer : on,[off]"},
      {"-buzzer", "POL service.buzzer on", "2", "buzzer : on,off"},
      // Not a number: the label stands alone.
      {"-buzzer", "POL service.buzzer on", "on", "buzzer : "},
      {"-buzzer", "POL service.buzzer on", "-1", "buzzer : "},
      {"-buzzer", "POL service.buzzer on", "99999999999", "buzzer : "},
      {"-shutdown", "PTC powerfail.shutdown.happen.max count", "5",
       "shutdown system after power fails : [on],off"},
      {"-shutdown", "PTC powerfail.shutdown.happen.max count", "0",
       "shutdown system after power fails : on,[off]"},
      {"-cold_start", "DEV PROP_COLDSTART", "1", "cold start : [on],off"},
      {"-cold_start", "DEV PROP_COLDSTART", "3", "cold start : on,off"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.text);
    ClearOutput();
    AnswerFullUps();
    service_.Answer(c.key, c.text);
    EXPECT_EQ(Lines({c.expected}), RunInformationWith({c.option}));
  }
}

TEST_F(InformationCommandTest, DurationForms) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"30", "status record interval : 30 seconds."},
      {"90", "status record interval : 1 minute 30 seconds."},
      {"3600", "status record interval : 1 hour 0 minute 0 seconds."},
      {"3725", "status record interval : 1 hour 2 minute 5 seconds."},
      {"0", "status record interval : 0 seconds."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ClearOutput();
    AnswerFullUps();
    service_.Answer("POL service.record rate", c.text);
    EXPECT_EQ(Lines({c.expected}), RunInformationWith({"-record_interval"}));
  }
}

TEST_F(InformationCommandTest, OutputAndBatteryFormats) {
  AnswerFullUps();
  service_.Answer("DEV PROP_FREQHI", "5000");
  service_.Answer("DEV PROP_BATVOLT", "1250");
  service_.Answer("DEV PROP_BATAH", "900");
  EXPECT_EQ(Lines({"output format : 220 V, 50 Hz, 1000 VA, 600 Watt.",
                   "battery format : 12.5 V, 9 Ah, 2 pack, 0 pack."}),
            RunInformationWith({"-output_format", "-battery_format"}));
}

TEST_F(InformationCommandTest, FailedRequestEndsTheLineWithItsCode) {
  AnswerFullUps();
  service_.Fail("DEV PROP_FREQHI", 7);
  service_.Fail("DEV PROP_MODEL", 1);
  service_.Fail("DEV PROP_FWVER", 9);
  EXPECT_EQ(Lines({"UPS model : ", "UPS version :  error. (9)",
                   "output format : 220 V error. (7)",
                   "battery format : 24 V, 7.2 Ah, 2 pack, 0 pack."}),
            RunInformationWith(
                {"-model", "-version", "-output_format", "-battery_format"}));
}

TEST_F(InformationCommandTest, PortListMarksTheSelectedPorts) {
  struct Case {
    const char* devices;
    const char* type;
    const char* index;
    const char* expected;
  };
  const Case cases[] = {
      {"0.0.None\n1.0.Auto\n2.1.ttyS0\n2.2.ttyS1", "2", "2",
       "communication port : None,Auto,ttyS0,[ttyS1]"},
      {"0.0.None\n1.0.Auto\n2.1.ttyS0", "1", "0",
       "communication port : None,[Auto],ttyS0"},
      // Any index 0 of the current type is marked.
      {"2.0.any\n2.1.ttyS0", "2", "1", "communication port : [any],[ttyS0]"},
      // The comma goes by position: an unreadable first line leaves one.
      {"garbage\n2.1.ttyS0\nx.y\n2.2.ttyS1", "1", "1",
       "communication port : ,ttyS0,ttyS1"},
      {"", "1", "1", "communication port : "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.devices);
    ClearOutput();
    AnswerFullUps();
    service_.Answer("DEV PROP_MEDIADEVICES", c.devices);
    service_.Answer("DEV PROP_MEDIATYPE", c.type);
    service_.Answer("DEV PROP_MEDIAIDX", c.index);
    EXPECT_EQ(Lines({c.expected}), RunInformationWith({"-port"}));
  }
}

TEST_F(InformationCommandTest, RangeMarksEveryValueEqualToTheCurrentOne) {
  AnswerFullUps();
  service_.Answer("DEV PROP_INPUTHI_RANGE", "270,280,270");
  service_.Fail("DEV PROP_INPUTLO_RANGE", 1);
  service_.Fail("DEV PROP_BATTERYLO", 4);
  EXPECT_EQ(Lines({"high input voltage configuration : [270],280,[270]",
                   "low input voltage configuration : ",
                   "percentage of battery critical capacity configuration :  "
                   "error. (4)"}),
            RunInformationWith({"-input_hi", "-input_lo", "-battery_lo"}));
  // The current value is read before the range; a failed read stops the row.
  EXPECT_EQ(
      (std::vector<std::string>{
          "DEV PROP_PORTTYPE", "DEV PROP_INPUTHI", "DEV PROP_INPUTHI_RANGE",
          "DEV PROP_INPUTLO", "DEV PROP_INPUTLO_RANGE", "DEV PROP_BATTERYLO"}),
      service_.command_requests());
}

}  // namespace

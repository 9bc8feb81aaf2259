#include "tool/information_command.h"

#include <gtest/gtest.h>

#include <iterator>

#include "tests/tool/tool_test_base.h"

namespace {

// A full UPS: request, reply, ... in the order the command asks.
// clang-format off
constexpr const char* kFullUps[] = {
    "DEV PROP_PORTTYPE", "2", "DEV PROP_MODEL", "Model X 1000",
    "DEV PROP_FWVER", "1.02", "DEV PROP_VOLT", "22000",
    "DEV PROP_FREQLO", "5000", "DEV PROP_FREQHI", "6000",
    "DEV PROP_VA", "100000", "DEV PROP_WATT", "60000",
    "DEV PROP_BATVOLT", "2400", "DEV PROP_BATAH", "720", "DEV PROP_BATNUM", "2",
    "DEV PROP_BATEXT", "0", "POL service.buzzer on", "1",
    "DEV PROP_COLDSTART", "0", "POL service.rec by period", "2",
    "PTC powerfail.shutdown.happen.max count", "5",
    "POL service.auto save", "0", "POL service.record rate", "30",
    "PTC powerfail.shutdown.happen.delay", "90",
    "POL service.shutdown delay", "3600",
    "DEV PROP_MEDIADEVICES", "1:0:ttyS0\n1:1:ttyS1", "DEV PROP_MEDIATYPE", "1",
    "DEV PROP_MEDIAIDX", "1", "DEV PROP_INPUTHI", "270",
    "DEV PROP_INPUTHI_RANGE", "260,270,280,270", "DEV PROP_INPUTLO", "170",
    "DEV PROP_INPUTLO_RANGE", "160, 170, 180", "DEV PROP_BATTERYLO", "20",
    "DEV PROP_BATTERYLO_RANGE", "10,20", "DEV PROP_BATOUT", "230",
    "DEV PROP_BATOUT_RANGE", "220,240",
};
// clang-format on

class InformationCommandTest : public ToolTestBase {
 protected:
  void SetUp() override {
    ToolTestBase::SetUp();
    AnswerAll(kFullUps);
  }
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
  for (size_t i = 0; i < std::size(kFullUps); i += 2) {
    expected.push_back(kFullUps[i]);
  }
  EXPECT_EQ(expected, requests());
  // Service settings alone need no port type.
  Clear();
  EXPECT_EQ("enable auto save function :on,[off]\n",
            RunOk({"information", "-auto_save"}));
  EXPECT_EQ(Strings{"POL service.auto save"}, requests());
}

TEST_F(InformationCommandTest, ValueForms) {
  struct Case {
    Strings answers;  // request, reply, ... over the full UPS
    Strings options;
    std::string expected;
  };
  const Case cases[] = {
      // A basic UPS, or a failed port-type query, shows the service
      // settings only.
      {{"DEV PROP_PORTTYPE", "1"},
       {},
       Lines({"shutdown system after power fails : [on],off",
              "enable auto save function :on,[off]",
              "power failure causes system shutdown after : 1 minute 30 "
              "seconds.",
              "communication port : [ttyS0],[ttyS1]"})},
      {{"DEV PROP_PORTTYPE", "ERR 21"},
       {"-shutdown", "-MODEL"},
       Lines({"-model is not supported by this UPS.",
              "shutdown system after power fails : [on],off"})},
      {{"POL service.buzzer on", "0"}, {"-buzzer"}, "buzzer : on,[off]\n"},
      // A setting text that is not a small number leaves the label alone.
      {{"POL service.buzzer on", "on"}, {"-buzzer"}, "buzzer : \n"},
      {{"POL service.buzzer on", "99999999999"}, {"-buzzer"}, "buzzer : \n"},
      {{"DEV PROP_COLDSTART", "3"}, {"-cold_start"}, "cold start : on,off\n"},
      {{"POL service.record rate", "3725"},
       {"-record_interval"},
       "status record interval : 1 hour 2 minute 5 seconds.\n"},
      {{"DEV PROP_FREQHI", "5000"},
       {"-output_format"},
       "output format : 220 V, 50 Hz, 1000 VA, 600 Watt.\n"},
      {{"DEV PROP_BATVOLT", "1250"},
       {"-battery_format"},
       "battery format : 12.5 V, 7.2 Ah, 2 pack, 0 pack.\n"},
      // Code 1 is a missing value; any other code is shown after what was
      // already printed.
      {{"DEV PROP_MODEL", "ERR 1"}, {"-model"}, "UPS model : \n"},
      {{"DEV PROP_FWVER", "ERR 9"},
       {"-version"},
       "UPS version :  error. (9)\n"},
      {{"DEV PROP_FREQHI", "ERR 7"},
       {"-output_format"},
       "output format : 220 V error. (7)\n"},
      {{"DEV PROP_MEDIADEVICES", "0.0.None\n1.0.Auto\n2.1.ttyS0\n2.2.ttyS1"},
       {"-port"},
       "communication port : None,[Auto],ttyS0,ttyS1\n"},
      // The comma goes by position: an unreadable first line leaves one.
      {{"DEV PROP_MEDIADEVICES", "garbage\n2.1.ttyS0\nx.y\n1.1.ttyS1"},
       {"-port"},
       "communication port : ,ttyS0,[ttyS1]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Clear();
    AnswerAll(kFullUps);
    AnswerAll(c.answers);
    Strings args = {"information"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(c.expected, RunOk(args));
  }
}

// A NUL inside a received setting text is not the end of the text: "1\0zz"
// is not all digits.
TEST_F(InformationCommandTest, SettingTextWithNulIsNotANumber) {
  AnswerAll(kFullUps);
  Answer("POL service.buzzer on", std::string("1\0zz", 4));
  Answer("POL service.record rate", std::string("30\0", 3));
  EXPECT_EQ(Lines({"buzzer : ", "status record interval : "}),
            RunOk({"information", "-buzzer", "-record_interval"}));
}

}  // namespace

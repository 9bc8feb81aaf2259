#include "tool/configure_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tool/tool_test_base.h"

namespace {

class ConfigureCommandTest : public ToolTestBase {
 protected:
  std::string RunConfigureWith(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"configure"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(0, Run(args));
    return output();
  }
};

TEST_F(ConfigureCommandTest, EverySettingPrintsItsMessageAndSendsItsRequest) {
  struct Case {
    std::vector<std::string> options;
    const char* message;
    const char* request;
  };
  const Case cases[] = {
      {{"-buzzer", "off"}, "set buzzer off", "POL service.buzzer on=0"},
      {{"-cold_start", "ON"},
       "set cold start configuration to on",
       "DEV SET_PROP_COLDSTART 1"},
      {{"-status_record", "on"},
       "set status record function to on",
       "POL service.rec by period=1"},
      {{"-shutdown", "on"},
       "set shutdown system while power fails to on",
       "PTC powerfail.shutdown.happen.max count=1"},
      {{"-auto_save", "off"},
       "set the auto save function to off",
       "POL service.auto save=0"},
      {{"-record_interval", "1:30"},
       "set status record interval to 1 minute 30 second.",
       "POL service.record rate=90"},
      {{"-record_interval", "3600"},
       "set status record interval to 1 hour 0 minute 0 second.",
       "POL service.record rate=3600"},
      {{"-shutdown_delay", "45"},
       "set system shutdown delay in 45 second after power failed.",
       "PTC powerfail.shutdown.happen.delay=45"},
      {{"-poweroff_delay", "1:0:5"},
       "set system complete shutdown necessary time 1 hour 0 minute 5 "
       "second.",
       "POL service.shutdown delay=3605"},
      {{"-input_hi", "270"},
       "set high input voltage configuration to 270",
       "DEV SET_PROP_INPUTHI 270"},
      {{"-input_lo", "170"},
       "set low Input voltage configuration to 170",
       "DEV SET_PROP_INPUTLO 170"},
      {{"-battery_lo", "20"},
       "set battery critical configuration in percentage to 20",
       "DEV SET_PROP_BATTERYLO 20"},
      {{"-battery_out", "230"},
       "set battery mode output voltage configuration to 230",
       "DEV SET_PROP_BATOUT 230"},
  };
  service_.Answer("DEV PROP_PORTTYPE", "2");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ClearOutput();
    service_.Answer(c.request, "OK");
    EXPECT_EQ(std::string(c.message) + ", success.\n",
              RunConfigureWith(c.options));
    EXPECT_EQ(c.request, service_.requests().back());
    service_.Fail(c.request, 4);
    ClearOutput();
    EXPECT_EQ(std::string(c.message) + ", fail.\n",
              RunConfigureWith(c.options));
  }
}

TEST_F(ConfigureCommandTest, SettingsRunInTableOrder) {
  service_.Answer("DEV PROP_PORTTYPE", "2");
  service_.Answer("DEV SET_PROP_INPUTLO 170", "OK");
  service_.Answer("POL service.buzzer on=1", "OK");
  EXPECT_EQ(Lines({"set buzzer on, success.",
                   "set low Input voltage configuration to 170, success."}),
            RunConfigureWith({"-input_lo", "170", "-buzzer", "on"}));
  EXPECT_EQ(
      (std::vector<std::string>{"DEV PROP_PORTTYPE", "POL service.buzzer on=1",
                                "DEV SET_PROP_INPUTLO 170"}),
      service_.command_requests());
}

TEST_F(ConfigureCommandTest, LaterRepetitionOfAnOptionWins) {
  service_.Answer("DEV PROP_PORTTYPE", "2");
  service_.Answer("POL service.buzzer on=1", "OK");
  EXPECT_EQ(Lines({"set buzzer on, success."}),
            RunConfigureWith({"-buzzer", "off", "-buzzer", "on"}));
}

TEST_F(ConfigureCommandTest, BasicUpsRefusesFullUpsSettingsAskingOnce) {
  service_.Answer("DEV PROP_PORTTYPE", "1");
  service_.Answer("PTC powerfail.shutdown.happen.max count=0", "OK");
  EXPECT_EQ(Lines({"set shutdown system while power fails to off, success.",
                   "-input_hi don't be supported by this UPS.",
                   "-input_lo don't be supported by this UPS."}),
            RunConfigureWith(
                {"-input_lo", "170", "-shutdown", "off", "-input_hi", "270"}));
  EXPECT_EQ(
      (std::vector<std::string>{"PTC powerfail.shutdown.happen.max count=0",
                                "DEV PROP_PORTTYPE"}),
      service_.command_requests());
}

TEST_F(ConfigureCommandTest, FailedPortTypeQueryCountsAsBasicUps) {
  service_.Fail("DEV PROP_PORTTYPE", 21);
  EXPECT_EQ(Lines({"-buzzer don't be supported by this UPS."}),
            RunConfigureWith({"-buzzer", "on"}));
}

TEST_F(ConfigureCommandTest, PortIsChosenIgnoringCaseIndexFirst) {
  service_.Answer("DEV PROP_MEDIADEVICES", "1:0:ttyS0\n1:1:TTYS1\n2.2.ttyS1");
  service_.Answer("DEV PROP_MEDIATYPE", "1");
  service_.Answer("DEV PROP_MEDIAIDX", "0");
  service_.Answer("POL service.media index=1", "OK");
  service_.Answer("POL service.media type=1", "OK");
  EXPECT_EQ(Lines({"set UPS communication port to ttyS1, success."}),
            RunConfigureWith({"-port", "ttyS1"}));
  EXPECT_EQ(
      (std::vector<std::string>{
          "DEV PROP_MEDIADEVICES", "DEV PROP_MEDIATYPE", "DEV PROP_MEDIAIDX",
          "POL service.media index=1", "POL service.media type=1"}),
      service_.command_requests());
}

TEST_F(ConfigureCommandTest, PortFailures) {
  struct Case {
    const char* failing;  // request that fails, or null
    const char* port;
    std::vector<std::string> requests;
  };
  const Case cases[] = {
      // A name not in the list.
      {nullptr,
       "ttyS9",
       {"DEV PROP_MEDIADEVICES", "DEV PROP_MEDIATYPE", "DEV PROP_MEDIAIDX"}},
      {"DEV PROP_MEDIADEVICES", "ttyS0", {"DEV PROP_MEDIADEVICES"}},
      {"DEV PROP_MEDIAIDX",
       "ttyS0",
       {"DEV PROP_MEDIADEVICES", "DEV PROP_MEDIATYPE", "DEV PROP_MEDIAIDX"}},
      // The type is not set once setting the index failed.
      {"POL service.media index=1",
       "ttyS0",
       {"DEV PROP_MEDIADEVICES", "DEV PROP_MEDIATYPE", "DEV PROP_MEDIAIDX",
        "POL service.media index=1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing == nullptr ? c.port : c.failing);
    FakeService service;
    ASSERT_TRUE(service.Start());
    service.Answer("DEV PROP_MEDIADEVICES", "garbage\n2.1.ttyS0");
    service.Answer("DEV PROP_MEDIATYPE", "2");
    service.Answer("DEV PROP_MEDIAIDX", "1");
    service.Answer("POL service.media index=1", "OK");
    service.Answer("POL service.media type=2", "OK");
    if (c.failing != nullptr) service.Fail(c.failing, 6);
    ServiceConnection connection;
    connection.SetTimeouts(3000, 3000);
    ASSERT_TRUE(connection.Connect("127.0.0.1", service.port()));
    ToolOptions options;
    options.setting_given[kItemPort] = true;
    options.port_name = c.port;
    std::ostringstream out;
    CommandContext context{&options, &connection, &out, &clock_, 0};
    RunConfigure(context);
    EXPECT_EQ(
        "set UPS communication port to " + std::string(c.port) + ", fail.\n",
        out.str());
    EXPECT_EQ(c.requests, service.requests());
  }
}

// A setting whose value equals the "not given" mark is still carried out.
TEST_F(ConfigureCommandTest, GivenFlagNotTheValueMarksASetting) {
  service_.Answer("DEV SET_PROP_INPUTHI -1", "OK");
  service_.Answer("DEV PROP_PORTTYPE", "2");
  CommandContext context = Prepare({"configure", "-input_hi", "0"});
  options_.setting_values[kItemInputHi] = -1;
  RunConfigure(context);
  EXPECT_EQ(Lines({"set high input voltage configuration to -1, success."}),
            output());
}

}  // namespace

#include "tool/configure_command.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"

namespace {

class ConfigureCommandTest : public ToolTestBase {};

TEST_F(ConfigureCommandTest, EverySettingPrintsItsMessageAndSendsItsRequest) {
  const char* const cases[][4] = {
      {"-buzzer", "off", "set buzzer off", "POL service.buzzer on=0"},
      {"-cold_start", "ON", "set cold start configuration to on",
       "DEV SET_PROP_COLDSTART 1"},
      {"-status_record", "on", "set status record function to on",
       "POL service.rec by period=1"},
      {"-shutdown", "on", "set shutdown system while power fails to on",
       "PTC powerfail.shutdown.happen.max count=1"},
      {"-auto_save", "off", "set the auto save function to off",
       "POL service.auto save=0"},
      {"-record_interval", "1:30",
       "set status record interval to 1 minute 30 second.",
       "POL service.record rate=90"},
      {"-shutdown_delay", "45",
       "set system shutdown delay in 45 second after power failed.",
       "PTC powerfail.shutdown.happen.delay=45"},
      {"-poweroff_delay", "3600",
       "set system complete shutdown necessary time 1 hour 0 minute 0 "
       "second.",
       "POL service.shutdown delay=3600"},
      {"-input_hi", "270", "set high input voltage configuration to 270",
       "DEV SET_PROP_INPUTHI 270"},
      {"-input_lo", "170", "set low Input voltage configuration to 170",
       "DEV SET_PROP_INPUTLO 170"},
      {"-battery_lo", "20",
       "set battery critical configuration in percentage to 20",
       "DEV SET_PROP_BATTERYLO 20"},
      {"-battery_out", "230",
       "set battery mode output voltage configuration to 230",
       "DEV SET_PROP_BATOUT 230"},
  };
  Answer("DEV PROP_PORTTYPE", "2");
  for (const auto& c : cases) {
    SCOPED_TRACE(c[2]);
    Clear();
    Answer(c[3], "OK");
    EXPECT_EQ(std::string(c[2]) + ", success.\n",
              RunOk({"configure", c[0], c[1]}));
    EXPECT_EQ(c[3], requests().back());
    Clear();
    Fail(c[3], 4);
    EXPECT_EQ(std::string(c[2]) + ", fail.\n",
              RunOk({"configure", c[0], c[1]}));
  }
}

TEST_F(ConfigureCommandTest, SettingsRunInTableOrderLaterValuesWinning) {
  AnswerAll(Strings{"DEV PROP_PORTTYPE", "2", "DEV SET_PROP_INPUTLO 170", "OK",
                    "POL service.buzzer on=1", "OK"});
  EXPECT_EQ(Lines({"set buzzer on, success.",
                   "set low Input voltage configuration to 170, success."}),
            RunOk({"configure", "-input_lo", "170", "-buzzer", "off", "-buzzer",
                   "on"}));
  EXPECT_EQ((Strings{"DEV PROP_PORTTYPE", "POL service.buzzer on=1",
                     "DEV SET_PROP_INPUTLO 170"}),
            requests());
}

TEST_F(ConfigureCommandTest, BasicUpsRefusesFullUpsSettingsAskingOnce) {
  Answer("DEV PROP_PORTTYPE", "1");
  Answer("PTC powerfail.shutdown.happen.max count=0", "OK");
  EXPECT_EQ(Lines({"set shutdown system while power fails to off, success.",
                   "-input_hi don't be supported by this UPS.",
                   "-input_lo don't be supported by this UPS."}),
            RunOk({"configure", "-input_lo", "170", "-shutdown", "off",
                   "-input_hi", "270"}));
  EXPECT_EQ((Strings{"PTC powerfail.shutdown.happen.max count=0",
                     "DEV PROP_PORTTYPE"}),
            requests());
}

TEST_F(ConfigureCommandTest, PortIsChosenIgnoringCaseIndexFirst) {
  AnswerAll(Strings{
      "DEV PROP_MEDIADEVICES", "junk\n1:0:ttyS0\n1:1:TTYS1\n2.2.ttyS1",
      "DEV PROP_MEDIATYPE", "1", "DEV PROP_MEDIAIDX", "0",
      "POL service.media index=1", "OK", "POL service.media type=1", "OK"});
  EXPECT_EQ(Lines({"set UPS communication port to ttyS1, success."}),
            RunOk({"configure", "-port", "ttyS1"}));
  EXPECT_EQ((Strings{"DEV PROP_MEDIADEVICES", "DEV PROP_MEDIATYPE",
                     "DEV PROP_MEDIAIDX", "POL service.media index=1",
                     "POL service.media type=1"}),
            requests());
  // A name not in the list.
  Clear();
  EXPECT_EQ(Lines({"set UPS communication port to ttyS9, fail."}),
            RunOk({"configure", "-port", "ttyS9"}));
  EXPECT_EQ(3u, requests().size());
  // The type is not set once setting the index failed.
  Clear();
  Fail("POL service.media index=1", 6);
  EXPECT_EQ(Lines({"set UPS communication port to ttys1, fail."}),
            RunOk({"configure", "-port", "ttys1"}));
  EXPECT_EQ("POL service.media index=1", requests().back());
}

// The whole name in a device line must match, not just what comes before a
// NUL in it.
TEST_F(ConfigureCommandTest, PortNameWithNulDoesNotMatchItsPrefix) {
  AnswerAll(Strings{"DEV PROP_MEDIADEVICES",
                    std::string("1:3:ttyS0\0evil\n1:4:ttyS0x", 25),
                    "DEV PROP_MEDIATYPE", "1", "DEV PROP_MEDIAIDX", "0"});
  EXPECT_EQ(Lines({"set UPS communication port to ttyS0, fail."}),
            RunOk({"configure", "-port", "ttyS0"}));
  EXPECT_EQ(3u, requests().size());
}

}  // namespace

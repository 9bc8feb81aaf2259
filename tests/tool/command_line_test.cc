#include "tool/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/tool/tool_test_base.h"
#include "tool/option_tables.h"
#include "tool/tool_options.h"

namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  // Parses `args` (the program name is added) as the entry does, with the
  // please-use line after a failure.
  bool Parse(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"kovra"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    bool ok = ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                               &options_, out_);
    if (!ok) PrintPleaseUse(options_, out_);
    return ok;
  }

  ToolOptions options_;
  std::ostringstream out_;
};

TEST_F(CommandLineTest, RefusedCommandLines) {
  const std::string please_status =
      "please use \"kovra help status\" to get more detail.";
  const std::string please_configure =
      "please use \"kovra help configure\" to get more detail.";
  const std::string please_test =
      "please use \"kovra help test\" to get more detail.";
  const std::string instruction =
      Lines({"this command's instruction is :", "",
             "kovra [status | information | log | configure | test | help]", "",
             "please use \"kovra help\" to get more detail."});
  const std::string status_t =
      "the status -t need a positive digital number to indicate repeat "
      "second.";
  const std::string duration =
      "the configure -record_interval require positive digital number to "
      "indicate seconds or use ':' to separate hour,minute,second.";
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {{}, instruction},
      {{"stat"}, instruction},
      {{"status", "-x"},
       Lines({"the status paramenter : -x is not acceptable.", please_status})},
      {{"status", "-t", "abc"}, Lines({status_t, please_status})},
      {{"status", "-t", "-load"}, Lines({status_t, please_status})},
      {{"status", "-t", "-5"}, Lines({status_t, please_status})},
      {{"information", "-event"},
       Lines({"the information paramenter : -event is not acceptable.",
              "please use \"kovra help information\" to get more detail."})},
      {{"log", "-event", "-e"},
       Lines({"the event_log, data_record or saved_file must be follow by -e.",
              "please use \"kovra help log\" to get more detail."})},
      {{"log", "-model"},
       Lines({"the log parameter : -model is not acceptable.",
              "please use \"kovra help log\" to get more detail."})},
      {{"configure", "-model", "x"},
       Lines({"the configure paramenter : -model is not acceptable.",
              please_configure})},
      {{"configure", "-BUZZER", "maybe"},
       Lines({"the configure -buzzer require value of \"on\" or \"off\".",
              please_configure})},
      {{"configure", "-auto_save"},
       Lines({"the configure -auto_save require value of \"on\" or \"off\".",
              please_configure})},
      {{"configure", "-record_interval", "1x"},
       Lines({duration, please_configure})},
      {{"configure", "-record_interval", "-5"},
       Lines({duration, please_configure})},
      {{"configure", "-input_hi", "-5"},
       Lines({"the configure -input_hi require positive digital number.",
              please_configure})},
      {{"configure", "-battery_out", "99999999999"},
       Lines({"the configure -battery_out require positive digital number.",
              please_configure})},
      {{"configure", "-port"}, Lines({please_configure})},
      {{"configure", "-port", std::string(256, 'p')},
       Lines({"the configure -port require a port name of at most 255 "
              "characters.",
              please_configure})},
      {{"test", "-t"},
       Lines({"the test -t need a positive digital number to indicate repeat "
              "second.",
              please_test})},
      {{"test", "-t", "1.5"},
       Lines({"the test -t need a positive digital number to indicate repeat "
              "second.",
              please_test})},
      {{"test", "now"},
       Lines({"the test paramenter : now is not acceptable.", please_test})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.back());
    options_ = ToolOptions();
    out_.str("");
    EXPECT_FALSE(Parse(c.args));
    EXPECT_EQ(c.expected, out_.str());
  }
}

TEST_F(CommandLineTest, StatusOptions) {
  ASSERT_TRUE(Parse({"STATUS", "-LOAD", "-Input_Volt"}));
  EXPECT_EQ(kCommandStatus, options_.command);
  EXPECT_EQ((1u << kStatusLoad) | (1u << kStatusInputVolt),
            options_.status_items);
  EXPECT_EQ(0, options_.status_repeat_seconds);
  EXPECT_EQ("", out_.str());
}

TEST_F(CommandLineTest, StatusRepeatSeconds) {
  struct Case {
    std::vector<std::string> args;
    int32_t seconds;
  };
  const Case cases[] = {
      {{"status", "-t"}, 3},
      {{"status", "-t", "0"}, 0},
      {{"status", "-t", "7", "-load"}, 7},
      {{"status", "-load", "-t"}, 3},
  };
  for (const Case& c : cases) {
    options_ = ToolOptions();
    ASSERT_TRUE(Parse(c.args));
    EXPECT_EQ(c.seconds, options_.status_repeat_seconds);
    EXPECT_EQ(0u, options_.status_items & 1u);
  }
}

TEST_F(CommandLineTest, InformationItems) {
  ASSERT_TRUE(Parse({"information", "-model", "-BATTERY_OUT", "-model"}));
  EXPECT_EQ((1u << kItemModel) | (1u << kItemBatteryOut),
            options_.information_items);
}

TEST_F(CommandLineTest, LogLists) {
  struct Case {
    std::vector<std::string> args;
    uint32_t lists;
    uint32_t erase;
  };
  const Case cases[] = {
      {{"log", "-status", "-event"}, 5, 0},
      {{"log", "-e", "-event"}, 0, 1},
      {{"log", "-e", "-saved_file", "-e", "-status"}, 0, 6},
      {{"log", "-e"}, 0, 0},
  };
  for (const Case& c : cases) {
    options_ = ToolOptions();
    ASSERT_TRUE(Parse(c.args));
    EXPECT_EQ(kCommandLog, options_.command);
    EXPECT_EQ(c.lists, options_.log_lists);
    EXPECT_EQ(c.erase, options_.log_erase);
  }
}

TEST_F(CommandLineTest, LogAndConfigureWithoutOptionsBecomeHelp) {
  ASSERT_TRUE(Parse({"log"}));
  EXPECT_EQ(kCommandHelp, options_.command);
  EXPECT_EQ(kCommandLog, options_.help_topic);
  options_ = ToolOptions();
  ASSERT_TRUE(Parse({"Configure"}));
  EXPECT_EQ(kCommandHelp, options_.command);
  EXPECT_EQ(kCommandConfigure, options_.help_topic);
}

TEST_F(CommandLineTest, ConfigureValues) {
  ASSERT_TRUE(Parse({"configure", "-buzzer", "OFF", "-record_interval", "1:30",
                     "-shutdown_delay", "1:", "-poweroff_delay", "1:0:5",
                     "-input_hi", "", "-port", "TtyS1", "-buzzer", "on"}));
  EXPECT_EQ(kCommandConfigure, options_.command);
  EXPECT_EQ(1, options_.setting_values[kItemBuzzer]);
  EXPECT_EQ(90, options_.setting_values[kItemRecordInterval]);
  EXPECT_EQ(1, options_.setting_values[kItemShutdownDelay]);
  EXPECT_EQ(3605, options_.setting_values[kItemPoweroffDelay]);
  EXPECT_EQ(0, options_.setting_values[kItemInputHi]);
  EXPECT_EQ("TtyS1", options_.port_name);
  for (int32_t row = 0; row < kSettingSlotCount; ++row) {
    const bool given = row == kItemBuzzer || row == kItemRecordInterval ||
                       row == kItemShutdownDelay || row == kItemPoweroffDelay ||
                       row == kItemInputHi || row == kItemPort;
    EXPECT_EQ(given, options_.setting_given[row]) << row;
    if (!given) {
      EXPECT_EQ(-1, options_.setting_values[row]) << row;
    }
  }
}

TEST_F(CommandLineTest, PortNameOfTheLongestLengthIsKept) {
  const std::string name(kMaxPortNameLength, 'p');
  ASSERT_TRUE(Parse({"configure", "-port", name}));
  EXPECT_EQ(name, options_.port_name);
}

TEST_F(CommandLineTest, TestSeconds) {
  struct Case {
    std::vector<std::string> args;
    int32_t seconds;
  };
  const Case cases[] = {
      {{"test"}, 10},
      {{"test", "-c"}, -1},
      {{"test", "-T", "30"}, 30},
      {{"test", "-t", "30", "-c"}, 30},
      {{"test", "-c", "junk"}, -1},
  };
  for (const Case& c : cases) {
    options_ = ToolOptions();
    ASSERT_TRUE(Parse(c.args));
    EXPECT_EQ(c.seconds, options_.test_seconds);
  }
}

TEST_F(CommandLineTest, HelpTopic) {
  struct Case {
    std::vector<std::string> args;
    int32_t topic;
  };
  const Case cases[] = {
      {{"help"}, -1},
      {{"help", "bogus"}, -1},
      {{"help", "LOG", "status"}, kCommandLog},
      {{"help", "help"}, kCommandHelp},
  };
  for (const Case& c : cases) {
    options_ = ToolOptions();
    ASSERT_TRUE(Parse(c.args));
    EXPECT_EQ(kCommandHelp, options_.command);
    EXPECT_EQ(c.topic, options_.help_topic);
  }
}

}  // namespace

#include "tool/command_line.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"
#include "tool/option_tables.h"

namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  // Parses `args` as the entry does, with the please-use line after a
  // failure.
  bool Parse(const Strings& args) {
    options_ = ToolOptions();
    out_.str("");
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

TEST_F(CommandLineTest, UnknownCommandShowsTheInstruction) {
  for (const Strings& args : {Strings{}, Strings{"stat", "-load"}}) {
    EXPECT_FALSE(Parse(args));
    EXPECT_EQ(Lines({"this command's instruction is :", "",
                     "kovra [status | information | log | configure | test | "
                     "help]",
                     "", "please use \"kovra help\" to get more detail."}),
              out_.str());
  }
}

TEST_F(CommandLineTest, RefusedOptionsPointAtTheCommandsHelp) {
  const std::string number = " require positive digital number.";
  const std::string duration =
      " require positive digital number to indicate seconds or use ':' to "
      "separate hour,minute,second.";
  const std::string repeat =
      " need a positive digital number to indicate repeat second.";
  const std::pair<Strings, std::string> cases[] = {
      {{"status", "-x"}, "the status paramenter : -x is not acceptable."},
      {{"status", "-t", "-load"}, "the status -t" + repeat},
      {{"information", "-event"},
       "the information paramenter : -event is not acceptable."},
      {{"log", "-event", "-e"},
       "the event_log, data_record or saved_file must be follow by -e."},
      {{"log", "-model"}, "the log parameter : -model is not acceptable."},
      {{"configure", "-model", "x"},
       "the configure paramenter : -model is not acceptable."},
      {{"configure", "-BUZZER", "maybe"},
       "the configure -buzzer require value of \"on\" or \"off\"."},
      {{"configure", "-record_interval", "1x"},
       "the configure -record_interval" + duration},
      {{"configure", "-shutdown_delay", "-5"},
       "the configure -shutdown_delay" + duration},
      {{"configure", "-input_hi", "-5"}, "the configure -input_hi" + number},
      {{"configure", "-battery_out", "99999999999"},
       "the configure -battery_out" + number},
      {{"configure", "-port", std::string(256, 'p')},
       "the configure -port require a port name of at most 255 characters."},
      {{"test", "-t"}, "the test -t" + repeat},
      {{"test", "now"}, "the test paramenter : now is not acceptable."},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    EXPECT_FALSE(Parse(args));
    EXPECT_EQ(Lines({message, "please use \"kovra help " + args[0] +
                                  "\" to get more detail."}),
              out_.str());
  }
  // A missing port name has no message of its own.
  EXPECT_FALSE(Parse({"configure", "-port"}));
  EXPECT_EQ("please use \"kovra help configure\" to get more detail.\n",
            out_.str());
}

TEST_F(CommandLineTest, StatusOptions) {
  ASSERT_TRUE(Parse({"STATUS", "-LOAD", "-Input_Volt"}));
  EXPECT_EQ((1u << kStatusLoad) | (1u << kStatusInputVolt),
            options_.status_items);
  EXPECT_EQ(0, options_.status_repeat_seconds);
  const std::pair<Strings, int32_t> repeats[] = {
      {{"status", "-t"}, 3},
      {{"status", "-t", "0"}, 0},
      {{"status", "-t", "7", "-load"}, 7}};
  for (const auto& [args, seconds] : repeats) {
    ASSERT_TRUE(Parse(args));
    EXPECT_EQ(seconds, options_.status_repeat_seconds);
  }
}

TEST_F(CommandLineTest, LogLists) {
  const std::tuple<Strings, uint32_t, uint32_t> cases[] = {
      {{"log", "-status", "-event"}, 5, 0},
      {{"log", "-e", "-event"}, 0, 1},
      {{"log", "-e", "-saved_file", "-e", "-status"}, 0, 6},
      {{"log", "-e"}, 0, 0}};
  for (const auto& [args, lists, erase] : cases) {
    ASSERT_TRUE(Parse(args));
    EXPECT_EQ(lists, options_.log_lists);
    EXPECT_EQ(erase, options_.log_erase);
  }
}

TEST_F(CommandLineTest, ConfigureValues) {
  ASSERT_TRUE(Parse({"configure", "-buzzer", "OFF", "-record_interval", "1:30",
                     "-shutdown_delay", "1:", "-input_hi", "", "-port",
                     std::string(255, 'p'), "-buzzer", "on"}));
  EXPECT_EQ(1, options_.setting_values[kItemBuzzer]);
  EXPECT_EQ(90, options_.setting_values[kItemRecordInterval]);
  EXPECT_EQ(1, options_.setting_values[kItemShutdownDelay]);
  EXPECT_EQ(0, options_.setting_values[kItemInputHi]);
  EXPECT_EQ(std::string(255, 'p'), options_.port_name);
  int32_t given = 0;
  for (bool flag : options_.setting_given) given += flag ? 1 : 0;
  EXPECT_EQ(5, given);
  EXPECT_TRUE(options_.setting_given[kItemPort]);
  EXPECT_EQ(-1, options_.setting_values[kItemAutoSave]);
}

TEST_F(CommandLineTest, TestSecondsAndHelpTopic) {
  const std::pair<Strings, int32_t> tests[] = {
      {{"test"}, 10}, {{"test", "-c"}, -1}, {{"test", "-T", "30", "-c"}, 30}};
  for (const auto& [args, seconds] : tests) {
    ASSERT_TRUE(Parse(args));
    EXPECT_EQ(seconds, options_.test_seconds);
  }
  const std::pair<Strings, int32_t> helps[] = {{{"help"}, -1},
                                               {{"help", "bogus"}, -1},
                                               {{"help", "LOG", "x"}, 2},
                                               {{"log"}, 2},
                                               {{"configure"}, 3}};
  for (const auto& [args, topic] : helps) {
    ASSERT_TRUE(Parse(args));
    EXPECT_EQ(kCommandHelp, options_.command);
    EXPECT_EQ(topic, options_.help_topic);
  }
}

}  // namespace

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
    Argv argv(args);
    bool ok = ParseCommandLine(argv.count(), argv.data(), &options_, out_);
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
      // A negative duration is refused, not taken for "not given".
      {{"configure", "-shutdown_delay", "-5"},
       "the configure -shutdown_delay" + duration},
      {{"configure", "-battery_out", "99999999999"},
       "the configure -battery_out" + number},
      {{"configure", "-port", std::string(256, 'p')},
       "the configure -port require a port name of at most 255 characters."},
      {{"test", "-t"}, "the test -t" + repeat},
      {{"test", "now"}, "the test paramenter : now is not acceptable."},
      // A missing port name has no message of its own.
      {{"configure", "-port"}, ""},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(message);
    EXPECT_FALSE(Parse(args));
    EXPECT_EQ((message.empty() ? "" : message + "\n") +
                  "please use \"kovra help " + args[0] +
                  "\" to get more detail.\n",
              out_.str());
  }
}

// The commands' own tests cover the common forms; these are the defaults and
// orders they do not reach.
TEST_F(CommandLineTest, OptionValuesDefaultsAndOrder) {
  ASSERT_TRUE(Parse({"status", "-t"}));
  EXPECT_EQ(3, options_.status_repeat_seconds);
  ASSERT_TRUE(Parse({"help", "bogus"}));
  EXPECT_EQ(-1, options_.help_topic);

  ASSERT_TRUE(Parse({"configure", "-buzzer", "OFF", "-record_interval", "1:30",
                     "-input_hi", "", "-port", std::string(255, 'p'), "-buzzer",
                     "on"}));
  EXPECT_EQ(1, options_.setting_values[kItemBuzzer]);
  EXPECT_EQ(90, options_.setting_values[kItemRecordInterval]);
  EXPECT_EQ(0, options_.setting_values[kItemInputHi]);
  EXPECT_EQ(std::string(255, 'p'), options_.port_name);
  EXPECT_TRUE(options_.setting_given[kItemPort]);
  EXPECT_FALSE(options_.setting_given[kItemAutoSave]);
  EXPECT_EQ(-1, options_.setting_values[kItemAutoSave]);
}

}  // namespace

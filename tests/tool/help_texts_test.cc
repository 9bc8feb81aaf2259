#include "tool/help_texts.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tool/option_tables.h"

namespace {

std::vector<std::string> HelpLines(int32_t topic) {
  std::ostringstream out;
  PrintHelp(topic, out);
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ('\n', out.str().back());
  return lines;
}

TEST(HelpTextsTest, EachTopicHasItsText) {
  // Topic, line count, first line, one line with quotes or odd spacing.
  struct Case {
    int32_t topic;
    size_t count;
    const char* first;
    size_t line;
    const char* text;
  };
  const Case cases[] = {
      {-1, 11, "Command : kovra [options] ...", 3,
       "  use the \"kovra help [options]\" to read detail explanation of each "
       "options."},
      {kCommandStatus, 16, "Command : kovra status [options]", 2,
       " to display current UPS status. If options are not specifically "
       "entered, all status info od each option will be shown."},
      {kCommandInformation, 22, "Command : kovra information [options]", 9,
       "  -input_hi, to display configuration of high input voltage."},
      {kCommandLog, 8, "Command : kovra log [options]", 2,
       " to list or erase(with -e) the UPS log data specified by options."},
      {kCommandConfigure, 18, "Command : kovra configure [options]", 3,
       "  only the items shown in the \"kovra informaion [options]\" section "
       "can be configured."},
      {kCommandTest, 6, "Command : kovra test [options]", 5,
       "  -c : to cancel current UPS testing."},
      {kCommandHelp, 4, "Command : kovra help [options]", 3,
       "  the options includes status, information, log, configure, test, "
       "help."},
      {6, 11, "Command : kovra [options] ...", 10,
       "  help, to provide detail contents of options."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.topic);
    std::vector<std::string> lines = HelpLines(c.topic);
    ASSERT_EQ(c.count, lines.size());
    EXPECT_EQ(c.first, lines[0]);
    EXPECT_EQ("description :", lines[1]);
    EXPECT_EQ(c.text, lines[c.line]);
  }
}

}  // namespace

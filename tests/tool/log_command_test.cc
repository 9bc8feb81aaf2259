#include "tool/log_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tool/tool_test_base.h"

namespace {

class LogCommandTest : public ToolTestBase {
 protected:
  std::string RunLogWith(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"log"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(0, Run(args));
    return output();
  }
};

TEST_F(LogCommandTest, EventEntryForms) {
  struct Case {
    const char* entry;
    bool printed;
    const char* expected;
  };
  const Case cases[] = {
      {"2004/01/05 08:30:00 4", true, "2004/01/05 08:30:00 UPS power failure."},
      {"2004/01/05 08:30:00 0", true,
       "2004/01/05 08:30:00 UPS service started."},
      {"2004/01/05 08:30:00 11", true,
       "2004/01/05 08:30:00 UPS temperature is recover."},
      // Codes without a description are shown as they came.
      {"2004/01/05 08:30:00 12", true, "2004/01/05 08:30:00 12"},
      {"2004/01/05 08:30:00 -1", true, "2004/01/05 08:30:00 -1"},
      {"2004/01/05 08:30:00 99999999999", true,
       "2004/01/05 08:30:00 99999999999"},
      // atoi rules: digits up to the first other character.
      {"t 3x", true, "t UPS communication established."},
      {"nocode", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    std::string line = "unchanged";
    EXPECT_EQ(c.printed, FormatEventEntry(c.entry, &line));
    if (c.printed) {
      EXPECT_EQ(c.expected, line);
    } else {
      EXPECT_EQ("unchanged", line);
    }
  }
}

TEST_F(LogCommandTest, StatusRecordForms) {
  struct Case {
    const char* entry;
    const char* expected;
  };
  const Case cases[] = {
      {"2004/01/05 08:30:00 22000 22000 10000 3500 5000 3000",
       "2004/01/05 08:30:00 220V  220V   100%      35%   50.0Hz    30C"},
      {"2004/01/05 08:30:00 23050 21999 9950 0 6075 2599",
       "2004/01/05 08:30:00 230V  219V   99%      0%   60.7Hz    25C"},
      // Anything but a date, a time and six numbers is shown unchanged.
      {"2004/01/05 08:30:00 22000 22000 10000 3500 5000",
       "2004/01/05 08:30:00 22000 22000 10000 3500 5000"},
      {"2004/01/05 08:30:00 22000 22000 10000 3500 5000 3000 1",
       "2004/01/05 08:30:00 22000 22000 10000 3500 5000 3000 1"},
      {"2004/01/05 08:30:00 22000 x 10000 3500 5000 3000",
       "2004/01/05 08:30:00 22000 x 10000 3500 5000 3000"},
      {"2004/01/05 08:30:00 1 2 3 4 5 99999999999",
       "2004/01/05 08:30:00 1 2 3 4 5 99999999999"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(c.expected, FormatStatusRecord(c.entry));
  }
}

TEST_F(LogCommandTest, EmptyEventLogSaysSo) {
  service_.Answer("LOG KEY 0", "0");
  service_.Answer("LOG PRV 0 0", "0\n");
  EXPECT_EQ(Lines({"Event Log List :", "date       time     event description",
                   "content is empty.", ""}),
            RunLogWith({"-event"}));
}

TEST_F(LogCommandTest, PagesAreShownNewestFirstUntilAnEmptyPage) {
  service_.Answer("LOG KEY 2", "300");
  service_.Answer("LOG PRV 2 300",
                  "200\n2004/01/05 08:00:00 1 2 3 4 5 6\n"
                  "2004/01/05 08:10:00 100 200 300 400 500 600\n"
                  "third line");
  service_.Answer("LOG PRV 2 200", "100\nolder");
  service_.Answer("LOG PRV 2 100", "0\n");
  EXPECT_EQ(Lines({"Data Record List :",
                   "date       time     input output capacity load "
                   "frequency temperature",
                   "third line",
                   "2004/01/05 08:10:00 1V  2V   3%      4%   5.0Hz    6C",
                   "2004/01/05 08:00:00 0V  0V   0%      0%   0.0Hz    0C",
                   "older", ""}),
            RunLogWith({"-status"}));
  EXPECT_EQ((std::vector<std::string>{"LOG KEY 2", "LOG PRV 2 300",
                                      "LOG PRV 2 200", "LOG PRV 2 100"}),
            service_.command_requests());
}

TEST_F(LogCommandTest, ListsInListOrderWithTheirOwnHeaders) {
  service_.Answer("LOG KEY 0", "7");
  service_.Answer("LOG PRV 0 7", "6\n2004/01/05 08:30:00 4\nno-blank");
  service_.Answer("LOG PRV 0 6", "5\n");
  service_.Answer("LOG KEY 1", "2");
  service_.Answer("LOG PRV 1 2", "1\nkovra\tsave1.txt");
  service_.Answer("LOG PRV 1 1", "0\n");
  service_.Answer("LOG KEY 2", "0");
  service_.Answer("LOG PRV 2 0", "0\n");
  EXPECT_EQ(Lines({"Event Log List :", "date       time     event description",
                   "2004/01/05 08:30:00 UPS power failure.", "",
                   "Saved Files List :", "program name\tsaved filename",
                   "kovra\tsave1.txt", "", "Data Record List :",
                   "date       time     input output capacity load "
                   "frequency temperature",
                   "content is empty.", ""}),
            RunLogWith({"-status", "-saved_file", "-event"}));
}

TEST_F(LogCommandTest, FailedRequestsEndTheListQuietly) {
  service_.Fail("LOG KEY 0", 8);
  service_.Fail("LOG PRV 0 0", 8);
  EXPECT_EQ(Lines({"Event Log List :", "date       time     event description",
                   "content is empty.", ""}),
            RunLogWith({"-event"}));
}

TEST_F(LogCommandTest, ServiceRepeatingItsKeyDoesNotLoopForever) {
  service_.Answer("LOG KEY 1", "5");
  service_.Answer("LOG PRV 1 5", "5\nsame page");
  EXPECT_EQ(Lines({"Saved Files List :", "program name\tsaved filename",
                   "same page", ""}),
            RunLogWith({"-saved_file"}));
  EXPECT_EQ((std::vector<std::string>{"LOG KEY 1", "LOG PRV 1 5"}),
            service_.command_requests());
}

TEST_F(LogCommandTest, EraseClearsTheNamedListsSilently) {
  service_.Answer("LOG CLR 0", "OK");
  service_.Answer("LOG CLR 2", "OK");
  EXPECT_EQ("", RunLogWith({"-e", "-status", "-event"}));
  EXPECT_EQ((std::vector<std::string>{"LOG CLR 0", "LOG CLR 2"}),
            service_.command_requests());
}

TEST_F(LogCommandTest, EraseWinsOverListing) {
  service_.Fail("LOG CLR 1", 3);
  CommandContext context = Prepare({"log", "-e", "-saved_file"});
  options_.log_lists = 1;
  RunLog(context);
  EXPECT_EQ("", output());
  EXPECT_EQ(std::vector<std::string>{"LOG CLR 1"}, service_.command_requests());
}

TEST_F(LogCommandTest, EraseAloneDoesNothing) {
  EXPECT_EQ("", RunLogWith({"-e"}));
  EXPECT_TRUE(service_.command_requests().empty());
}

}  // namespace

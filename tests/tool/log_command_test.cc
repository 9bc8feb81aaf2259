#include "tool/log_command.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/tool/tool_test_base.h"

namespace {

class LogCommandTest : public ToolTestBase {};

TEST_F(LogCommandTest, EventEntryForms) {
  const char* const cases[][2] = {
      {"2004/01/05 08:30:00 4", "2004/01/05 08:30:00 UPS power failure."},
      {"d t 11", "d t UPS temperature is recover."},
      {"t 3x", "t UPS communication established."},
      // Codes without a description are shown as they came.
      {"d t 12", "d t 12"},
      {"d t -1", "d t -1"},
      {"d t 99999999999", "d t 99999999999"},
  };
  for (const auto& c : cases) {
    std::string line;
    EXPECT_TRUE(FormatEventEntry(c[0], &line));
    EXPECT_EQ(c[1], line);
  }
  std::string line = "unchanged";
  EXPECT_FALSE(FormatEventEntry("nocode", &line));
  EXPECT_EQ("unchanged", line);
}

TEST_F(LogCommandTest, StatusRecordForms) {
  const char* const cases[][2] = {
      {"2004/01/05 08:30:00 22000 22000 10000 3500 5000 3000",
       "2004/01/05 08:30:00 220V  220V   100%      35%   50.0Hz    30C"},
      {"2004/01/05 08:30:00 23050 21999 9950 0 6075 2599",
       "2004/01/05 08:30:00 230V  219V   99%      0%   60.7Hz    25C"},
      // Anything but a date, a time and six numbers is shown unchanged.
      {"2004/01/05 08:30:00 22000 22000 10000 3500 5000", nullptr},
      {"2004/01/05 08:30:00 22000 22000 10000 3500 5000 3000 1", nullptr},
      {"2004/01/05 08:30:00 22000 x 10000 3500 5000 3000", nullptr},
      {"2004/01/05 08:30:00 1 2 3 4 5 99999999999", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c[1] == nullptr ? c[0] : c[1], FormatStatusRecord(c[0]));
  }
}

TEST_F(LogCommandTest, PagesAreShownNewestFirstListByList) {
  AnswerAll(
      Strings{"LOG KEY 0", "7", "LOG PRV 0 7",
              "6\n2004/01/05 08:30:00 4\nno-blank\nb 5", "LOG PRV 0 6",
              "5\na 3", "LOG PRV 0 5", "4\n", "LOG KEY 1", "2", "LOG PRV 1 2",
              "1\nkovra\tsave1.txt", "LOG PRV 1 1", "0\n",
              // A failed key request starts at 0; a failed page ends the list.
              "LOG KEY 2", "ERR 8", "LOG PRV 2 0", "ERR 8"});
  EXPECT_EQ(
      Lines({"Event Log List :", "date       time     event description",
             "b UPS power restore.", "2004/01/05 08:30:00 UPS power failure.",
             "a UPS communication established.", "",
             "Saved Files List :", "program name\tsaved filename",
             "kovra\tsave1.txt", "", "Data Record List :",
             "date       time     input output capacity load "
             "frequency temperature",
             "content is empty.", ""}),
      RunOk({"log", "-status", "-saved_file", "-event"}));
  EXPECT_EQ((Strings{"LOG KEY 0", "LOG PRV 0 7", "LOG PRV 0 6", "LOG PRV 0 5",
                     "LOG KEY 1", "LOG PRV 1 2", "LOG PRV 1 1", "LOG KEY 2",
                     "LOG PRV 2 0"}),
            requests());
}

TEST_F(LogCommandTest, ServiceRepeatingItsKeyDoesNotLoopForever) {
  AnswerAll(Strings{"LOG KEY 1", "5", "LOG PRV 1 5", "5\nsame page"});
  LogPagingLimits limits;
  limits.max_pages = 3;
  RunLog(Prepare({"log", "-saved_file"}), limits);
  EXPECT_EQ(Lines({"Saved Files List :", "program name\tsaved filename",
                   "same page", "same page", "same page", ""}),
            output());
  EXPECT_EQ((Strings{"LOG KEY 1", "LOG PRV 1 5", "LOG PRV 1 5", "LOG PRV 1 5"}),
            requests());
}

// Only an empty page ends a list: a page whose next key is the key sent is
// followed by the next page all the same.
TEST_F(LogCommandTest, RepeatedKeyWithEntriesDoesNotEndTheList) {
  const CommandContext context = Prepare({"log", "-saved_file"});
  for (const char* reply : {"5\r", "5\nnewer\r", "4\nolder\r", "4\r"}) {
    peer_.Reply(reply);
  }
  RunLog(context);
  EXPECT_EQ(Lines({"Saved Files List :", "program name\tsaved filename",
                   "newer", "older", ""}),
            output());
  EXPECT_EQ((Strings{"LOG KEY 1", "LOG PRV 1 5", "LOG PRV 1 5", "LOG PRV 1 4"}),
            requests());
}

TEST_F(LogCommandTest, ServiceHandingOutNewKeysForeverEndsAtTheEntryBound) {
  // Every page leads to another key, each with two entries.
  peer_.SetHandler([](const std::string& request) {
    int32_t key = 0;
    if (std::sscanf(request.c_str(), "LOG PRV 1 %d", &key) != 1) {
      return PeerReply{{"1000\r"}};
    }
    return PeerReply{{std::to_string(key - 1) + "\na\nb\r"}};
  });
  LogPagingLimits limits;
  limits.max_entries = 5;
  RunLog(Prepare({"log", "-saved_file"}), limits);
  EXPECT_EQ(Lines({"Saved Files List :", "program name\tsaved filename", "b",
                   "a", "b", "a", "b", "a", ""}),
            output());
  EXPECT_EQ((Strings{"LOG KEY 1", "LOG PRV 1 1000", "LOG PRV 1 999",
                     "LOG PRV 1 998"}),
            requests());
}

TEST_F(LogCommandTest, EraseClearsTheNamedListsSilently) {
  Answer("LOG CLR 0", "OK");  // the failed clear of list 2 is not shown
  EXPECT_EQ("", RunOk({"log", "-e", "-status", "-event"}));
  EXPECT_EQ((Strings{"LOG CLR 0", "LOG CLR 2"}), requests());
  Clear();
  EXPECT_EQ("", RunOk({"log", "-e"}));
  EXPECT_TRUE(requests().empty());
}

}  // namespace

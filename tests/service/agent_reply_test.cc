#include "service/agent_reply.h"

#include <gtest/gtest.h>

#include "service/dev_request.h"

namespace {

using Kind = AgentReply::Kind;

TEST(AgentReplyTest, SplitsEchoFromValueOrError) {
  const struct {
    const char* command;
    const char* line;
    Kind kind;
    int32_t code;
    const char* text;
  } kCases[] = {
      {"S0", "S0 22000", Kind::kValue, 0, "22000"},
      {"R12", "R12 Line Int 1000", Kind::kValue, 0, "Line Int 1000"},
      {"R12", "R12 ", Kind::kValue, 0, ""},
      {"W7 1", "W7", Kind::kNoValue, 0, ""},
      {"S0", "S0E 8", Kind::kError, 8, ""},
      {"C4 2 1", "C4E 20", Kind::kError, 20, ""},
      // Out of step or garbled: the echo of another command, a missing
      // echo, an error without a usable number.
      {"S1", "S13 1", Kind::kMismatch, 0, ""},
      {"S0", "", Kind::kMismatch, 0, ""},
      {"S0", "S0E", Kind::kMismatch, 0, ""},
      {"S0", "S0E x", Kind::kMismatch, 0, ""},
      {"S0", "S0E 0", Kind::kMismatch, 0, ""},
      {"S0", "S0E 99999999999", Kind::kMismatch, 0, ""},
      {"S0", "S0X", Kind::kMismatch, 0, ""},
  };
  for (const auto& entry : kCases) {
    AgentReply reply = ParseAgentReply(entry.command, entry.line);
    EXPECT_EQ(entry.kind, reply.kind) << entry.line;
    EXPECT_EQ(entry.code, reply.code) << entry.line;
    EXPECT_EQ(entry.text, reply.text) << entry.line;
  }
}

TEST(DevRequestTest, SettingsNeedOneWholeNumber) {
  DevRequest request;
  EXPECT_EQ(0, MapDevRequest("SET_PROP_BATOUT -230", &request));
  EXPECT_EQ("W3 -230", request.command);
  EXPECT_TRUE(request.changes_unit);
  EXPECT_EQ(1, MapDevRequest("SET_PROP_BATOUT", &request));
  EXPECT_EQ(4, MapDevRequest("SET_PROP_BATOUT ", &request));
  EXPECT_EQ(4, MapDevRequest("SET_PROP_BATOUT 2 3", &request));
  EXPECT_EQ(4, MapDevRequest("CMD_SELFTEST 4294967306", &request));
  EXPECT_EQ(1, MapDevRequest("PROP_MODEL DEFAULT", &request));
  EXPECT_EQ(1, MapDevRequest("status_involt", &request));
  EXPECT_EQ(1, MapDevRequest("", &request));
}

}  // namespace

// upsagent against a simulated text-protocol unit: detection after the byte
// protocol's probe fails, the status poll, a setting write and a self-test,
// all through the agent's pipe commands and the real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/sim_agent_rig.h"

namespace {

class TextProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(rig_.StartSim({"--protocol", "text"}, &error)) << error;
    ASSERT_TRUE(rig_.StartAgent({"2", "1"}, &error)) << error;
    // The first reply comes once detection and the first poll are through.
    std::string last;
    ASSERT_TRUE(rig_.AgentUntil(
        "S12", [](const std::string& reply) { return reply == "S12 1"; },
        SimAgentRig::kReplyTimeoutMs, &last))
        << last << "\n"
        << rig_.Diagnostics();
  }

  int64_t Number(const std::string& command) {
    const std::string reply = rig_.Agent(command);
    int64_t value = -1;
    const std::string echo = command.substr(0, command.find(' '));
    EXPECT_TRUE(SimAgentRig::ReplyNumber(reply, echo, &value))
        << command << " -> " << reply;
    return value;
  }

  SimAgentRig rig_;
};

TEST_F(TextProtocolTest, DetectsTheUnitAndServesItsStatus) {
  EXPECT_EQ("R12 KT1000", rig_.Agent("R12"));
  std::string last;
  EXPECT_TRUE(rig_.AgentUntil(
      "S0", [](const std::string& reply) { return reply == "S0 23000"; }, 10000,
      &last))
      << last;
  EXPECT_EQ(5000, Number("S5"));
  EXPECT_EQ(0, Number("S7"));

  EXPECT_EQ("ok", rig_.Sim("utility fail"));
  EXPECT_TRUE(rig_.AgentUntil(
      "S7", [](const std::string& reply) { return reply == "S7 1"; }, 10000,
      &last))
      << last;
}

TEST_F(TextProtocolTest, WritesASettingAndRunsASelfTest) {
  EXPECT_EQ(20, Number("R2 0"));
  EXPECT_EQ("W2", rig_.Agent("W2 5"));
  EXPECT_TRUE(rig_.WireLogHas(" request C4:05<0D>\n", 2000));
  EXPECT_EQ(5, Number("R2 0"));
  EXPECT_EQ(20, Number("R2 1"));  // the middle of 10,20,30,40

  EXPECT_EQ("C0", rig_.Agent("C0 60"));
  EXPECT_TRUE(rig_.WireLogHas(" request T01<0D>\n", 2000));
  std::string last;
  EXPECT_TRUE(rig_.AgentUntil(
      "S9", [](const std::string& reply) { return reply == "S9 1"; }, 10000,
      &last))
      << last;
}

}  // namespace

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

TEST_F(TextProtocolTest, ServesStatusWritesASettingAndRunsASelfTest) {
  auto wait_for = [this](const char* command, const char* expected) {
    std::string last;
    bool seen = rig_.AgentUntil(
        command,
        [expected](const std::string& reply) { return reply == expected; },
        10000, &last);
    if (!seen) ADD_FAILURE() << command << ": last reply " << last;
    return seen;
  };
  EXPECT_EQ("R12 KT1000", rig_.Agent("R12"));
  EXPECT_TRUE(wait_for("S0", "S0 23000"));
  EXPECT_EQ(5000, Number("S5"));

  EXPECT_EQ(20, Number("R2 0"));
  EXPECT_EQ("W2", rig_.Agent("W2 5"));
  EXPECT_TRUE(rig_.WireLogHas(" request C4:05<0D>\n", 2000));
  EXPECT_EQ(5, Number("R2 0"));
  EXPECT_EQ(20, Number("R2 1"));  // the middle of 10,20,30,40

  EXPECT_EQ("C0", rig_.Agent("C0 60"));
  EXPECT_TRUE(rig_.WireLogHas(" request T01<0D>\n", 2000));
  EXPECT_TRUE(wait_for("S9", "S9 1"));

  EXPECT_EQ("ok", rig_.Sim("utility fail"));
  EXPECT_TRUE(wait_for("S7", "S7 1"));
}

}  // namespace

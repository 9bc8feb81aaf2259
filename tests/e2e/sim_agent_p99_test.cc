// upsagent against upssim playing a P99 unit: detection, status, settings,
// commands on the wire, utility failure and re-detection after silence.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/sim_agent_rig.h"

namespace {

// One poll period of the agent plus the slowest exchange, with room to
// spare on a loaded machine.
constexpr int kNextPollMs = 10000;
// A lost unit is noticed at the next poll; detection is then retried once
// per period.
constexpr int kRedetectMs = 30000;
// The simulator logs an exchange as it answers; this absorbs load only.
constexpr int kLogMs = 5000;

class SimAgentP99Test : public ::testing::Test {
 protected:
  // Starts the simulator, runs the control lines, then starts the agent on
  // automatic selection.
  void Start(const std::vector<std::string>& sim_args,
             const std::vector<std::string>& control = {}) {
    std::string error;
    ASSERT_TRUE(rig_.StartSim(sim_args, &error)) << error;
    for (const std::string& line : control) ASSERT_EQ("ok", rig_.Sim(line));
    ASSERT_TRUE(rig_.StartAgent({"1", "0"}, &error)) << error;
  }

  int64_t Number(const std::string& command) {
    std::string reply = rig_.Agent(command);
    int64_t value = -1;
    EXPECT_TRUE(SimAgentRig::ReplyNumber(reply, command, &value))
        << command << " -> " << reply << rig_.Diagnostics();
    return value;
  }

  void Until(const std::string& command, const std::string& expected,
             int timeout_ms = kNextPollMs) {
    std::string last;
    EXPECT_TRUE(rig_.AgentUntil(
        command, [&](const std::string& reply) { return reply == expected; },
        timeout_ms, &last))
        << command << ": last reply " << last << rig_.Diagnostics();
  }

  void ExpectOnWire(const std::string& line) {
    EXPECT_TRUE(rig_.WireLogHas(line, kLogMs)) << line << rig_.Diagnostics();
  }

  SimAgentRig rig_;
};

TEST_F(SimAgentP99Test, DetectsAndIdentifiesTheUnit) {
  Start({"--model", "KV1000", "--firmware", "2047", "--info", "LAB RACK 3"});
  EXPECT_EQ("S12 1", rig_.Agent("S12")) << rig_.Diagnostics();
  EXPECT_EQ("R12 KV1000", rig_.Agent("R12"));
  EXPECT_EQ("R13 2.047", rig_.Agent("R13"));
  EXPECT_EQ("R21 1200", rig_.Agent("R21"));
  EXPECT_EQ(0u, rig_.Agent("R15").rfind("R15 LAB RACK 3", 0));
  // The port scan's zero byte may be flushed before it reaches the unit, so
  // only the request is checked; the unit tests cover stray bytes.
  ExpectOnWire(" request F<0D>\n");
}

TEST_F(SimAgentP99Test, StatusAfterTheFirstPollAndASettingWriteReadsBack) {
  Start({}, {"set input 115", "set load 45", "set capacity 80",
             "set temperature 35", "set frequency 60"});
  // The 650VA's curves: about 0.8 V, 3 % load and 2.2 % capacity per step
  // around these values.
  EXPECT_NEAR(11500, Number("S0"), 100);
  EXPECT_NEAR(8000, Number("S2"), 110);
  EXPECT_NEAR(4500, Number("S3"), 160);
  EXPECT_NEAR(3500, Number("S4"), 200);
  EXPECT_EQ(6000, Number("S5"));
  EXPECT_EQ(0, Number("S7"));

  EXPECT_EQ("R0 136", rig_.Agent("R0 0"));
  EXPECT_EQ("W0", rig_.Agent("W0 140"));
  ExpectOnWire(" request Q<02><04><0D>\n");
  EXPECT_NE(std::string::npos, rig_.Sim("status").find("register 0x02 0x04\n"));
  EXPECT_EQ("R0 140", rig_.Agent("R0 0"));
  // A value outside the table never reaches the wire.
  EXPECT_EQ("W0E 14", rig_.Agent("W0 150"));
}

TEST_F(SimAgentP99Test, SelfTestAndShutdownBytesOnTheWire) {
  Start({});
  // A 30 s test: the flag stays on for three times the wait for the next
  // poll, so a late poll on a loaded machine still sees it.
  EXPECT_EQ("C0", rig_.Agent("C0 30")) << rig_.Diagnostics();
  // 229 ticks of 0.131 s.
  ExpectOnWire(" request T<E5><0D>\n");
  Until("S9", "S9 1");
  EXPECT_EQ("C0", rig_.Agent("C0 -1"));
  ExpectOnWire(" request CT<0D>\n");
  EXPECT_EQ("C2", rig_.Agent("C2 60"));
  ExpectOnWire(" request S<01><CA>W<0D>\n");
  Until("S10", "S10 1");
  EXPECT_EQ("C1", rig_.Agent("C1 60 3600"));
  ExpectOnWire(" request S<01><CA>R<00>m\"<0D>\n");
  EXPECT_EQ("C1", rig_.Agent("C1 -1 -1"));
  ExpectOnWire(" request CS<0D>\n");
  EXPECT_EQ("C3", rig_.Agent("C3"));
  ExpectOnWire(" request B<0D>\n");
  Until("S10", "S10 0");
}

TEST_F(SimAgentP99Test, UtilityFailureIsSeenInS7) {
  Start({});
  EXPECT_EQ("S7 0", rig_.Agent("S7")) << rig_.Diagnostics();
  ASSERT_EQ("ok", rig_.Sim("utility fail"));
  Until("S7", "S7 1");
  // On battery the output is the battery-out setting (120 V at code 0).
  EXPECT_EQ(12000, Number("S1"));
  ASSERT_EQ("ok", rig_.Sim("utility restore"));
  Until("S7", "S7 0");
}

TEST_F(SimAgentP99Test, SilentUnitIsDetectedAgainWhenItAnswers) {
  Start({});
  EXPECT_EQ("S12 1", rig_.Agent("S12")) << rig_.Diagnostics();
  ASSERT_EQ("ok", rig_.Sim("silent on"));
  Until("S0", "S0E 8", kRedetectMs);
  ASSERT_EQ("ok", rig_.Sim("silent off"));
  std::string last;
  EXPECT_TRUE(rig_.AgentUntil(
      "S0", [](const std::string& reply) { return reply.rfind("S0 ", 0) == 0; },
      kRedetectMs, &last))
      << last << rig_.Diagnostics();
  EXPECT_EQ("R12 650VA", rig_.Agent("R12"));
}

}  // namespace

#include "service/shutdown_sequence.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_agent_commands.h"

namespace {

using Lines = std::vector<std::string>;

// Records the calls the sequence makes to the operating system.
class RecordingActions final : public ShutdownActions {
 public:
  void StartSaveHooks() override { calls.push_back("hooks"); }
  void RunShutdownCommand() override { calls.push_back("shutdown"); }
  std::vector<std::string> calls;
};

class ShutdownSequenceTest : public ::testing::Test {
 protected:
  ShutdownSequenceTest() : sequence_(&agent_, &actions_) {
    inputs_.enabled = true;
    inputs_.delay_s = 10;
    inputs_.ups_off_delay_s = 120;
    inputs_.restore_after_s = 60;
  }

  // One tick a second for the given seconds.
  void Run(int32_t seconds) {
    for (int32_t i = 0; i < seconds; ++i) {
      now_ += 1000;
      sequence_.Tick(now_, inputs_);
    }
  }

  FakeAgentCommands agent_;
  RecordingActions actions_;
  ShutdownSequence sequence_;
  ShutdownInputs inputs_;
  int64_t now_ = 1000000;
};

TEST_F(ShutdownSequenceTest, ShutsDownAfterTheDelayUnlessUtilityReturns) {
  inputs_.on_battery = true;
  sequence_.Tick(now_, inputs_);  // armed
  Run(9);
  inputs_.on_battery = false;  // back before the delay ended
  Run(5);
  EXPECT_TRUE(agent_.lines().empty());
  // A new failure runs a new delay of its own.
  inputs_.on_battery = true;
  Run(1);
  Run(9);
  EXPECT_TRUE(agent_.lines().empty());
  EXPECT_EQ(ShutdownSequence::Stage::kWatching, sequence_.stage());
  Run(1);
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
  EXPECT_EQ(ShutdownSequence::Stage::kTellingUps, sequence_.stage());
  // The shutdown command waits for the UPS to have its orders.
  EXPECT_TRUE(actions_.calls.empty());
  ASSERT_TRUE(agent_.Reply("C1"));
  EXPECT_EQ(std::vector<std::string>{"shutdown"}, actions_.calls);
  EXPECT_EQ(ShutdownSequence::Stage::kShuttingDown, sequence_.stage());
}

TEST_F(ShutdownSequenceTest,
       LowBatteryRunsTheSaveHooksFirstThenShutsDownAtOnce) {
  inputs_.save_files = true;
  inputs_.on_battery = true;
  inputs_.battery_low = true;
  Run(1);
  EXPECT_EQ(std::vector<std::string>{"hooks"}, actions_.calls);
  EXPECT_EQ(ShutdownSequence::Stage::kSavingFiles, sequence_.stage());
  Run(30);  // the hooks take their time; nothing else happens meanwhile
  EXPECT_TRUE(agent_.lines().empty());
  sequence_.OnSaveHooksDone();
  // A unit without the shutdown-and-restore command gets the plain one.
  ASSERT_TRUE(agent_.Reply("C1E 1"));
  EXPECT_EQ((Lines{"C1 120 60", "C2 120"}), agent_.lines());
  ASSERT_TRUE(agent_.Reply("C2"));
  EXPECT_EQ((std::vector<std::string>{"hooks", "shutdown"}), actions_.calls);
}

TEST_F(ShutdownSequenceTest,
       UpsThatRefusesOrIsOutOfReachStillGetsTheSystemDown) {
  const struct {
    bool agent_running;
    std::vector<std::string> replies;
    Lines commands;
  } kCases[] = {
      {true, {"C1E 5"}, {"C1 120 60"}},
      {true, {"C1E 1", "C2E 4"}, {"C1 120 60", "C2 120"}},
      {false, {}, {"C1 120 60"}},  // not in contact: error 8 at once
  };
  for (const auto& entry : kCases) {
    FakeAgentCommands agent;
    agent.set_running(entry.agent_running);
    RecordingActions actions;
    ShutdownSequence sequence(&agent, &actions);
    inputs_.on_battery = true;
    inputs_.delay_s = 0;  // at once
    sequence.Tick(now_, inputs_);
    for (const std::string& reply : entry.replies) {
      ASSERT_TRUE(agent.Reply(reply)) << reply;
    }
    EXPECT_EQ(entry.commands, agent.lines());
    EXPECT_EQ(std::vector<std::string>{"shutdown"}, actions.calls);
  }
}

TEST_F(ShutdownSequenceTest, OnceBegunItIsNeverTakenBackNorRepeated) {
  inputs_.on_battery = true;
  inputs_.battery_low = true;
  Run(1);
  inputs_.on_battery = false;
  inputs_.battery_low = false;
  Run(5);
  inputs_.on_battery = true;
  inputs_.battery_low = true;
  Run(5);
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
  ASSERT_TRUE(agent_.Reply("C1"));
  sequence_.OnSaveHooksDone();  // a late report changes nothing
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
  EXPECT_EQ(std::vector<std::string>{"shutdown"}, actions_.calls);
}

TEST_F(ShutdownSequenceTest, NothingHappensWhenSwitchedOffOrOnUtility) {
  inputs_.enabled = false;
  inputs_.on_battery = true;
  inputs_.battery_low = true;
  Run(100);
  inputs_.enabled = true;
  inputs_.on_battery = false;
  Run(100);
  EXPECT_TRUE(agent_.lines().empty());
  EXPECT_TRUE(actions_.calls.empty());
  // Switched off while armed: cancelled.
  inputs_.on_battery = true;
  inputs_.battery_low = false;
  Run(5);
  inputs_.enabled = false;
  Run(1);
  inputs_.enabled = true;
  Run(9);
  EXPECT_TRUE(agent_.lines().empty());
}

TEST_F(ShutdownSequenceTest, LowBatteryWhileArmedBeginsAtOnce) {
  inputs_.delay_s = 600;
  inputs_.on_battery = true;
  Run(5);
  EXPECT_FALSE(sequence_.begun());
  inputs_.battery_low = true;
  Run(1);
  EXPECT_TRUE(sequence_.begun());
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
}

TEST_F(ShutdownSequenceTest,
       OtherHostsSeeTheFlagThenHooksAndTheirWaitThenUpsThenCommand) {
  inputs_.save_files = true;
  inputs_.secondaries = 2;
  inputs_.secondary_wait_s = 15;
  inputs_.on_battery = true;
  inputs_.delay_s = 0;
  Run(1);
  // The flag is up and the hooks run while the other hosts log out.
  EXPECT_TRUE(sequence_.begun());
  EXPECT_EQ(std::vector<std::string>{"hooks"}, actions_.calls);
  Run(3);
  sequence_.OnSaveHooksDone();
  EXPECT_EQ(ShutdownSequence::Stage::kWaitingForSecondaries, sequence_.stage());
  inputs_.secondaries = 1;
  Run(3);
  EXPECT_TRUE(agent_.lines().empty());
  inputs_.secondaries = 0;  // the last one logged out
  Run(1);
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
  EXPECT_EQ(std::vector<std::string>{"hooks"}, actions_.calls);
  ASSERT_TRUE(agent_.Reply("C1"));
  EXPECT_EQ((std::vector<std::string>{"hooks", "shutdown"}), actions_.calls);
}

TEST_F(ShutdownSequenceTest, WaitForOtherHostsEndsAtItsLimitFromTheBeginning) {
  inputs_.secondaries = 1;
  inputs_.secondary_wait_s = 15;
  inputs_.save_files = true;
  inputs_.on_battery = true;
  inputs_.delay_s = 0;
  Run(1);
  int64_t begun = now_;
  Run(10);  // hooks take 10 s of the 15
  sequence_.OnSaveHooksDone();
  EXPECT_EQ(ShutdownSequence::Stage::kWaitingForSecondaries, sequence_.stage());
  Run(4);
  EXPECT_TRUE(agent_.lines().empty());
  Run(1);
  EXPECT_EQ(begun + 15000, now_);
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
}

TEST_F(ShutdownSequenceTest, HooksLongerThanTheWaitAreNotFollowedByAnother) {
  inputs_.secondaries = 3;
  inputs_.secondary_wait_s = 15;
  inputs_.save_files = true;
  inputs_.on_battery = true;
  inputs_.delay_s = 0;
  Run(1);
  Run(40);
  EXPECT_TRUE(agent_.lines().empty());  // the hooks still run
  sequence_.OnSaveHooksDone();
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
}

TEST_F(ShutdownSequenceTest, ForcedByThePrimaryBeginsEvenOffOrOnUtility) {
  inputs_.enabled = false;
  inputs_.on_battery = false;
  Run(3);
  EXPECT_FALSE(sequence_.begun());
  inputs_.forced = true;
  Run(1);
  EXPECT_TRUE(sequence_.begun());
  EXPECT_EQ(Lines{"C1 120 60"}, agent_.lines());
  inputs_.forced = false;  // never taken back
  Run(3);
  ASSERT_TRUE(agent_.Reply("C1"));
  EXPECT_EQ(std::vector<std::string>{"shutdown"}, actions_.calls);
}

}  // namespace

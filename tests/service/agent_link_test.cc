#include "service/agent_link.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/pipe_agent_process.h"

namespace {

using Commands = std::vector<std::string>;

class AgentLinkTest : public ::testing::Test {
 protected:
  AgentLinkTest()
      : link_(config_, &agent_, [](int32_t* type, int32_t* index) {
          *type = 2;
          *index = 1;
        }) {
    link_.SetOnReset([this] { ++resets_; });
  }

  // Queues a command whose reply is kept in replies_.
  void Send(const std::string& line) {
    link_.Enqueue(
        line, [this](const AgentReply& reply) { replies_.push_back(reply); });
  }

  // Starts the agent at the present time.
  void StartNow() {
    link_.Tick(now_);
    ASSERT_TRUE(link_.running());
  }

  // Breaks the running agent with a line nobody asked for.
  void BreakNow() {
    ASSERT_TRUE(agent_.WriteLine("S0 1"));
    link_.OnReadable(now_);
    ASSERT_FALSE(link_.running());
  }

  AgentLinkConfig config_;
  PipeAgentProcess agent_;
  AgentLink link_;
  int64_t now_ = 1000000;
  int32_t resets_ = 0;
  std::vector<AgentReply> replies_;
};

TEST_F(AgentLinkTest, OneCommandAtATimeAndRepliesMatchedByExactEcho) {
  StartNow();
  EXPECT_EQ((std::pair<int32_t, int32_t>(2, 1)), agent_.starts()[0]);
  Send("S1");
  Send("S13");
  link_.Tick(now_);
  EXPECT_EQ(Commands{"S1"}, agent_.TakeCommands());  // S13 waits its turn
  ASSERT_TRUE(agent_.WriteLine("S1 22400"));
  link_.OnReadable(now_);
  ASSERT_EQ(1u, replies_.size());
  EXPECT_EQ(AgentReply::Kind::kValue, replies_[0].kind);
  EXPECT_EQ("22400", replies_[0].text);
  link_.SendQueued(now_);
  EXPECT_EQ(Commands{"S13"}, agent_.TakeCommands());
  // A reply split over two reads, and an agent error.
  ASSERT_TRUE(agent_.Write("S13E"));
  link_.OnReadable(now_);
  EXPECT_EQ(1u, replies_.size());
  ASSERT_TRUE(agent_.Write(" 8\n"));
  link_.OnReadable(now_);
  ASSERT_EQ(2u, replies_.size());
  EXPECT_EQ(AgentReply::Kind::kError, replies_[1].kind);
  EXPECT_EQ(8, replies_[1].code);
  EXPECT_TRUE(link_.running());
}

TEST_F(AgentLinkTest, ReplyOutOfStepFailsEveryWaitingCommandWithNoContact) {
  StartNow();
  Send("S1");
  Send("S2");
  link_.Tick(now_);
  // "S13 1" starts with "S1" but is not its echo.
  ASSERT_TRUE(agent_.WriteLine("S13 1"));
  int32_t resets_before = resets_;
  link_.OnReadable(now_);
  EXPECT_FALSE(link_.running());
  EXPECT_EQ(1, agent_.kills());
  EXPECT_EQ(resets_before + 1, resets_);
  ASSERT_EQ(2u, replies_.size());
  for (const AgentReply& reply : replies_) {
    EXPECT_EQ(AgentReply::Kind::kError, reply.kind);
    EXPECT_EQ(8, reply.code);
  }
  // While down, a command is answered at once.
  Send("R12");
  ASSERT_EQ(3u, replies_.size());
  EXPECT_EQ(8, replies_[2].code);
}

TEST_F(AgentLinkTest, UnaskedEndlessAndClosedOutputBreakTheAgent) {
  StartNow();
  BreakNow();  // a line nobody asked for
  now_ += config_.restart_backoff_min_ms;
  StartNow();
  Send("R37");
  link_.Tick(now_);
  // More than the pipe holds at once, so in two writes.
  ASSERT_TRUE(agent_.Write(std::string(40000, 'x')));
  link_.OnReadable(now_);
  EXPECT_TRUE(link_.running());
  ASSERT_TRUE(agent_.Write(std::string(30000, 'x')));
  link_.OnReadable(now_);
  EXPECT_FALSE(link_.running());
  now_ += 2 * config_.restart_backoff_min_ms;
  StartNow();
  agent_.CloseReplies();
  link_.OnReadable(now_);
  EXPECT_FALSE(link_.running());
  EXPECT_EQ(3, agent_.kills());
}

TEST_F(AgentLinkTest,
       LateReplyBreaksAfterItsBoundWhichIsLongerUntilFirstReply) {
  StartNow();
  Send("S0");
  link_.Tick(now_);
  // The first reply may wait for the agent to find the unit.
  now_ += config_.detect_timeout_ms - 1;
  link_.Tick(now_);
  EXPECT_TRUE(link_.running());
  ASSERT_TRUE(agent_.WriteLine("S0 1"));
  link_.OnReadable(now_);
  Send("S1");
  link_.Tick(now_);
  EXPECT_EQ(now_ + config_.reply_timeout_ms, link_.NextDeadline(now_ + 999999));
  now_ += config_.reply_timeout_ms - 1;
  link_.Tick(now_);
  EXPECT_TRUE(link_.running());
  now_ += 1;
  link_.Tick(now_);
  EXPECT_FALSE(link_.running());
  ASSERT_EQ(2u, replies_.size());
  EXPECT_EQ(8, replies_[1].code);
  // After a port change that the agent answered with error 20, the long
  // bound applies again.
  now_ += config_.restart_backoff_min_ms;
  StartNow();
  Send("C4 1 0");
  link_.Tick(now_);
  ASSERT_TRUE(agent_.WriteLine("C4E 20"));
  link_.OnReadable(now_);
  link_.ExpectDetection();
  Send("S0");
  link_.Tick(now_);
  now_ += config_.reply_timeout_ms;
  link_.Tick(now_);
  EXPECT_TRUE(link_.running());
}

TEST_F(AgentLinkTest, RestartBackOffDoublesToItsBoundAndResetsAfterAStableRun) {
  StartNow();
  const int64_t kExpected[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
  for (int64_t backoff : kExpected) {
    SCOPED_TRACE(backoff);
    BreakNow();
    EXPECT_EQ(now_ + backoff, link_.NextDeadline(now_ + 999999));
    now_ += backoff - 1;
    link_.Tick(now_);
    EXPECT_FALSE(link_.running());
    now_ += 1;
    StartNow();
  }
  now_ += config_.stable_ms;
  link_.Tick(now_);
  BreakNow();
  EXPECT_EQ(now_ + config_.restart_backoff_min_ms,
            link_.NextDeadline(now_ + 999999));
}

TEST_F(AgentLinkTest, FailedStartIsRetriedWithBackOff) {
  agent_.FailNextStarts(2);
  link_.Tick(now_);
  EXPECT_FALSE(link_.running());
  now_ += 1000;
  link_.Tick(now_);
  EXPECT_FALSE(link_.running());
  now_ += 1999;
  link_.Tick(now_);
  EXPECT_FALSE(link_.running());
  now_ += 1;
  link_.Tick(now_);
  EXPECT_TRUE(link_.running());
  EXPECT_EQ(3u, agent_.starts().size());
}

TEST_F(AgentLinkTest, StopDropsQueuedCommandsUnanswered) {
  StartNow();
  Send("S0");
  Send("S1");
  link_.Tick(now_);
  link_.Stop(100);
  EXPECT_EQ(1, agent_.stops());
  EXPECT_FALSE(link_.running());
  EXPECT_TRUE(replies_.empty());
}

}  // namespace

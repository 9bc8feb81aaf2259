#include "agent/protocol/serial_exchange.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/scripted_media.h"

namespace {

class SerialExchangeTest : public ::testing::Test {
 protected:
  SerialExchangeTest() : exchange_(&media_, &clock_) {
    media_.AttachClock(&clock_);
  }

  // Accepts replies that start with '#'.
  static int32_t StartsWithHash(const CommandFrame& frame) {
    return frame.read_length > 0 && frame.reply[0] == '#' ? 0 : 9;
  }

  FakeClock clock_;
  ScriptedMedia media_;
  SerialExchange exchange_;
};

TEST_F(SerialExchangeTest, FixedLengthShortReadGivesSevenAndCountsBytes) {
  media_.AddReply(std::string(13, 'x'));
  CommandFrame frame;
  frame.SetText("D\r", 14);
  EXPECT_EQ(exchange_.Exchange(&frame), 7);
  EXPECT_EQ(frame.read_length, 13);

  media_.AddReply(std::string(13, 'x'));
  frame.SetText("D\r", -1);
  EXPECT_EQ(exchange_.Exchange(&frame), 0);
  EXPECT_EQ(frame.read_length, 13);
  EXPECT_EQ(media_.WrittenTexts(), (std::vector<std::string>{"D\\x0D",
                                                             "D\\x0D"}));
}

TEST_F(SerialExchangeTest, ReplyLongerThanTheBufferIsCutAtTheBuffer) {
  media_.AddReply(std::string(300, 'y'));
  CommandFrame frame;
  frame.SetText("N\r", -1);
  EXPECT_EQ(exchange_.Exchange(&frame), 0);
  EXPECT_EQ(frame.read_length, CommandFrame::kBufferSize);
}

TEST_F(SerialExchangeTest, ShortWriteRetriesAfterPauseWhileDsrIsHigh) {
  media_.SetInputPins(pin::kDsr);
  media_.LimitNextWrite(1);
  media_.AddReply("#ok\r");  // consumed by the short write
  media_.AddReply("#ok\r");
  CommandFrame frame;
  frame.SetText("P1\r", -1);
  EXPECT_EQ(exchange_.Run(&frame, 2, StartsWithHash), 0);
  EXPECT_EQ(clock_.pauses(), std::vector<int32_t>{100});
  EXPECT_EQ(media_.Writes().size(), 2u);
}

TEST_F(SerialExchangeTest, ShortWriteWithDsrLowEndsAtOnceWithNoAnswer) {
  media_.SetInputPins(0);
  media_.LimitNextWrite(0);
  CommandFrame frame;
  frame.SetText("P1\r", -1);
  EXPECT_EQ(exchange_.Run(&frame, 3, StartsWithHash), 8);
  EXPECT_TRUE(clock_.pauses().empty());
  EXPECT_EQ(media_.Writes().size(), 1u);

  // A failing pin read counts as a failed link check too.
  media_.SetInputPins(pin::kDsr);
  media_.FailPinReads(1);
  media_.LimitNextWrite(0);
  EXPECT_EQ(exchange_.Run(&frame, 3, StartsWithHash), 8);
}

TEST_F(SerialExchangeTest, LastAttemptCodeIsReturnedAfterAllAttemptsFail) {
  // A silent line: every exchange succeeds with an empty reply, which the
  // check rejects; the link check is never consulted.
  CommandFrame frame;
  frame.SetText("D\r", -1);
  EXPECT_EQ(exchange_.Run(&frame, 3, StartsWithHash), 9);
  EXPECT_EQ(clock_.pauses(), (std::vector<int32_t>{100, 100}));
  EXPECT_EQ(media_.Writes().size(), 3u);

  // A short fixed read on the last attempt makes the result 7.
  media_.ClearEvents();
  media_.AddReply("#bad");
  media_.AddReply("#");
  frame.SetText("D\r", 2);
  EXPECT_EQ(exchange_.Run(&frame, 2, [](const CommandFrame& f) {
              return f.reply[1] == 'x' ? 0 : 9;
            }),
            7);
}

TEST_F(SerialExchangeTest, EveryAttemptExpectsTheSameReadLength) {
  media_.AddReply("#12");   // three bytes: fails the check below
  media_.AddReply("R\x05");
  CommandFrame frame;
  frame.SetText("R\x05\r", 2);
  int attempts = 0;
  EXPECT_EQ(exchange_.Run(&frame, 2,
                          [&](const CommandFrame& f) {
                            ++attempts;
                            return f.reply[0] == 'R' ? 0 : 9;
                          }),
            0);
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(frame.read_length, 2);
}

TEST_F(SerialExchangeTest, BeforeRetryRunsAfterThePauseOfLaterAttempts) {
  std::vector<int32_t> hooks;
  CommandFrame frame;
  frame.SetText("D\r", -1);
  exchange_.Run(
      &frame, 3, [&](int32_t attempt) { hooks.push_back(attempt); },
      StartsWithHash);
  EXPECT_EQ(hooks, (std::vector<int32_t>{1, 2}));
}

TEST(PauseTest, FakeClockAdvancesByThePause) {
  FakeClock clock;
  ScriptedMedia media;
  SerialExchange exchange(&media, &clock);
  const int64_t before = clock.MonotonicMillis();
  exchange.Pause(1500);
  EXPECT_EQ(clock.MonotonicMillis() - before, 1500);
}

}  // namespace

#include "agent/protocol/serial_exchange.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/scripted_media.h"

namespace {

using Pauses = std::vector<int32_t>;

TEST(SerialExchangeTest, ExchangeCountsBytesAndCutsAtTheBuffer) {
  FakeClock clock;
  ScriptedMedia media;
  SerialExchange exchange(&media, &clock);
  CommandFrame frame;
  media.AddReply(std::string(13, 'x'));
  frame.SetText("D\r", 14);
  EXPECT_EQ(exchange.Exchange(&frame), 7);
  EXPECT_EQ(frame.read_length, 13);
  media.AddReply(std::string(13, 'x'));
  frame.SetText("D\r", -1);
  EXPECT_EQ(exchange.Exchange(&frame), 0);
  EXPECT_EQ(frame.read_length, 13);
  // A reply longer than the buffer is cut at the buffer.
  media.AddReply(std::string(300, 'y'));
  frame.SetText("D\r", -1);
  EXPECT_EQ(exchange.Exchange(&frame), 0);
  EXPECT_EQ(frame.read_length, CommandFrame::kBufferSize);
  EXPECT_EQ(media.WrittenTexts(),
            (std::vector<std::string>{"D\\x0D", "D\\x0D", "D\\x0D"}));
}

TEST(SerialExchangeTest, RunEndsWithTheLastAttemptsCodeOr8OnADeadLink) {
  // Replies start with '#' to be accepted; empty replies (a silent line)
  // are exchanged fine but rejected.
  const struct {
    const char* name;
    int32_t write_limit;  // bytes the first write takes, -1 all
    bool fail_writes, dsr;
    int32_t failing_pin_reads;
    std::vector<std::string> replies;
    int32_t read_length, attempts, code, retries;
  } rows[] = {
      {"short writes, live link", -1, true, true, 0, {}, -1, 3, 6, 2},
      {"short write, DSR low", 0, false, false, 0, {}, -1, 3, 8, 0},
      {"short write, pin read fails", 0, false, true, 1, {}, -1, 3, 8, 0},
      {"after short write", 1, false, true, 0, {"#ok", "#ok"}, -1, 2, 0, 1},
      {"silent line", -1, false, true, 0, {}, -1, 3, 9, 2},
      {"short fixed read last", -1, false, true, 0, {"x1", "#"}, 2, 2, 7, 1},
      // A short read must not shrink what the next attempt waits for.
      {"same length each time", -1, false, true, 0, {"#", "#1"}, 2, 2, 0, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeClock clock;
    ScriptedMedia media;
    media.AttachClock(&clock);
    media.LimitNextWrite(row.write_limit);
    media.FailWrites(row.fail_writes);
    media.SetInputPins(row.dsr ? pin::kDsr : 0);
    media.FailPinReads(row.failing_pin_reads);
    for (const std::string& reply : row.replies) media.AddReply(reply);
    SerialExchange exchange(&media, &clock);
    CommandFrame frame;
    frame.SetText("D\r", row.read_length);
    int32_t retries = 0;
    const int32_t code = exchange.Run(
        &frame, row.attempts,
        [&](int32_t attempt) {
          // Each retry comes after its pause.
          EXPECT_EQ(++retries, attempt);
          EXPECT_EQ(Pauses(attempt, 100), clock.pauses());
        },
        [](const CommandFrame& f) {
          return f.read_length > 0 && f.reply[0] == '#' ? 0 : 9;
        });
    EXPECT_EQ(row.code, code);
    EXPECT_EQ(row.retries, retries);
    EXPECT_EQ(Pauses(row.retries, 100), clock.pauses());
    if (row.code == 0 && row.read_length > 0) {
      EXPECT_EQ(row.read_length, frame.read_length);
    }
  }
}

}  // namespace

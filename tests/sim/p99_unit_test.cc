#include "sim/p99_unit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_state.h"
#include "sim/wire_log.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text.push_back(static_cast<char>(value));
  return text;
}

constexpr int64_t kTickMs = 131;

class P99UnitTest : public ::testing::Test {
 protected:
  P99UnitTest() : unit_(config_, &state_) {}

  // Sends the bytes one at a time, 50 ms apart like the agent's writes, and
  // returns what the unit completed.
  std::vector<WireExchange> SendPaced(const std::string& bytes) {
    std::vector<WireExchange> exchanges;
    for (char c : bytes) {
      uint8_t byte = static_cast<uint8_t>(c);
      unit_.Receive(&byte, 1, now_, &exchanges);
      now_ += 50;
    }
    return exchanges;
  }

  // Sends a whole request and returns the single answer it must produce.
  // Afterwards now_ - 50 is when its last byte arrived.
  std::string Ask(const std::string& request) {
    std::vector<WireExchange> exchanges = SendPaced(request);
    EXPECT_EQ(1u, exchanges.size()) << "request " << request.size();
    if (exchanges.size() != 1) return std::string();
    EXPECT_FALSE(exchanges[0].ignored);
    EXPECT_EQ(request, exchanges[0].request);
    return exchanges[0].answer;
  }

  P99UnitConfig config_;
  SimState state_;
  P99Unit unit_;
  int64_t now_ = 500000;
};

TEST_F(P99UnitTest, StatusFrameHasMarkersComplementsAndCr) {
  std::string frame = Ask("D\r");
  ASSERT_EQ(14u, frame.size());
  EXPECT_EQ("#..\r", frame.substr(0, 1) + frame[4] + frame[8] + frame[13]);
  EXPECT_EQ(static_cast<char>(~frame[9]), frame[10]);
  EXPECT_EQ(static_cast<char>(~frame[11]), frame[12]);
}

TEST_F(P99UnitTest, RegisterWriteIsEchoedAndReadBack) {
  EXPECT_EQ(Bytes({'R', 0x00}), Ask(Bytes({'R', 0x02, '\r'})));
  EXPECT_EQ(Bytes({'Q', 0x02, 0xFD}), Ask(Bytes({'Q', 0x02, 0xFD, '\r'})));
  EXPECT_EQ(Bytes({'R', 0xFD}), Ask(Bytes({'R', 0x02, '\r'})));
  // BL1: code 0 is 28 percent, code 3 is 34.
  EXPECT_EQ(28.0, state_.battery_low_level_percent);
  Ask(Bytes({'Q', 0x08, 0x03, '\r'}));
  EXPECT_EQ(34.0, state_.battery_low_level_percent);
}

TEST_F(P99UnitTest, SelfTestKeepsFlagOnForItsTicksAndCancelEndsIt) {
  // 0x4C = 76 ticks.
  EXPECT_EQ(Bytes({'T', 0x4C}), Ask(Bytes({'T', 0x4C, '\r'})));
  int64_t started = now_ - 50;
  state_.AdvanceTimers(started + 76 * kTickMs - 1);
  EXPECT_TRUE(state_.test_active);
  state_.AdvanceTimers(started + 76 * kTickMs);
  EXPECT_FALSE(state_.test_active);
  Ask(Bytes({'T', 0x10, '\r'}));
  EXPECT_EQ("B", Ask("B\r"));
  EXPECT_FALSE(state_.test_active);
}

TEST_F(P99UnitTest, ShutdownWithRestoreRunsItsTimeline) {
  // 458 ticks to switch-off, 27938 ticks from now to the restore.
  std::string request = Bytes({'S', 0x01, 0xCA, 'R', 0x00, 0x6D, 0x22, '\r'});
  EXPECT_EQ(request.substr(0, 7), Ask(request));
  int64_t at = now_ - 50;
  EXPECT_TRUE(state_.shutdown_active && state_.output_on);
  state_.AdvanceTimers(at + 458 * kTickMs);
  EXPECT_FALSE(state_.output_on);
  state_.AdvanceTimers(at + 27938 * kTickMs - 1);
  EXPECT_FALSE(state_.output_on);
  state_.AdvanceTimers(at + 27938 * kTickMs);
  EXPECT_TRUE(state_.output_on);
  EXPECT_FALSE(state_.shutdown_active);
}

TEST_F(P99UnitTest, ShutdownWithoutRestoreWaitsForUtilityOrCancel) {
  Ask(Bytes({'S', 0x00, 0x01, 'W', '\r'}));
  EXPECT_EQ("CS", Ask("CS\r"));
  EXPECT_FALSE(state_.shutdown_active);
  // A delay of 0x0D0D ticks puts two CR bytes inside the request.
  std::string request = Bytes({'S', 0x0D, 0x0D, 'W', '\r'});
  EXPECT_EQ(request.substr(0, 4), Ask(request));
  state_.SetUtilityFail(true);
  state_.AdvanceTimers(now_ + 0x0D0D * kTickMs);
  EXPECT_FALSE(state_.output_on);
  state_.AdvanceTimers(now_ + 100000000);
  EXPECT_FALSE(state_.output_on);
  state_.SetUtilityFail(false);
  EXPECT_TRUE(state_.output_on);
  EXPECT_FALSE(state_.shutdown_active);
  EXPECT_EQ(Bytes({'Q', 0x0D, 0x0D}), Ask(Bytes({'Q', 0x0D, 0x0D, '\r'})));
}

TEST_F(P99UnitTest, WakeUpCrGetsNoAnswerButIsNotIgnored) {
  std::vector<WireExchange> exchanges = SendPaced("\r\r");
  ASSERT_EQ(2u, exchanges.size());
  EXPECT_TRUE(exchanges[0].answer.empty());
  EXPECT_FALSE(exchanges[0].ignored);
}

TEST_F(P99UnitTest, StrayBytesAreIgnoredAndFramingRecovers) {
  const std::string cases[] = {
      Bytes({0x00}) + "D\r",            // the port scan's zero byte
      "xyzD\r",                         // unknown letters
      "DD\r",                           // a letter without its CR
      "CXD\r",                          // a bad cancel
      Bytes({'S', 1, 2, 'X'}) + "D\r",  // shutdown with a bad kind byte
  };
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(WireLog::Readable(bytes));
    std::vector<WireExchange> exchanges = SendPaced(bytes);
    ASSERT_FALSE(exchanges.empty());
    for (size_t i = 0; i + 1 < exchanges.size(); ++i) {
      EXPECT_TRUE(exchanges[i].ignored && exchanges[i].answer.empty());
    }
    EXPECT_EQ("D\r", exchanges.back().request);
    EXPECT_EQ(14u, exchanges.back().answer.size());
  }
}

TEST_F(P99UnitTest, StalePartialRequestIsDropped) {
  // A "T" left alone (an agent that died mid-write) must not combine with
  // the next agent's status query into a self-test.
  EXPECT_TRUE(SendPaced("T").empty());
  now_ += P99Unit::kStaleRequestMs + 1;
  std::vector<WireExchange> exchanges = SendPaced("D\r");
  ASSERT_EQ(2u, exchanges.size());
  EXPECT_TRUE(exchanges[0].ignored);
  EXPECT_EQ("T", exchanges[0].request);
  EXPECT_EQ(14u, exchanges[1].answer.size());
  EXPECT_FALSE(state_.test_active);
}

}  // namespace

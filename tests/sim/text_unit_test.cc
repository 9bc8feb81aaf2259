#include "sim/text_unit.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/protocol/t_number.h"
#include "agent/protocol/t_reply.h"
#include "sim/sim_options.h"
#include "sim/sim_state.h"

namespace {

class TextUnitTest : public ::testing::Test {
 protected:
  // Rebuilds the unit with one --text-* option applied.
  void Configure(const char* option, const char* value) {
    std::string error;
    ASSERT_TRUE(ParseTextUnitOption(option, value, &config_, &error));
    ASSERT_TRUE(error.empty()) << error;
    unit_ = std::make_unique<TextUnit>(config_, &state_);
  }

  // Sends the bytes one at a time, 50 ms apart like the agent's writes.
  std::vector<WireExchange> SendPaced(const std::string& bytes) {
    std::vector<WireExchange> exchanges;
    for (char c : bytes) {
      const uint8_t byte = static_cast<uint8_t>(c);
      unit_->Receive(&byte, 1, now_, &exchanges);
      now_ += 50;
    }
    return exchanges;
  }

  // The one answer to `request` (with its '#' and CR).
  std::string Ask(const std::string& request) {
    const std::vector<WireExchange> exchanges = SendPaced(request);
    if (exchanges.size() == 1 && !exchanges[0].ignored) {
      return exchanges[0].answer;
    }
    return "<" + std::to_string(exchanges.size()) + " exchanges>";
  }

  TextUnitConfig config_;
  SimState state_;
  std::unique_ptr<TextUnit> unit_ =
      std::make_unique<TextUnit>(config_, &state_);
  int64_t now_ = 500000;
};

// The decimal status is read end to end; the hexadecimal one must not
// contain a field letter ('B' in 0xbb) inside a number.
TEST_F(TextUnitTest, HexadecimalStatusDecodesWithTheAgentsReaders) {
  Configure("--text-hex", "on");
  state_.capacity_percent = 100.0;
  state_.temperature_celsius = 187.5;  // 0xbb.32
  const std::string answer = Ask("D\r");
  const std::string payload = answer.substr(0, answer.rfind('\r'));
  const TStatusFields fields = SplitStatusFields(payload);
  ASSERT_TRUE(fields.AllPresent()) << answer;
  std::vector<int32_t> values;
  for (int i = TStatusFields::kInput; i < TStatusFields::kStatus; ++i) {
    values.push_back(ParseHundredths(fields.field[i], 16));
  }
  EXPECT_EQ((std::vector<int32_t>{23000, 23000, 3000, 10000, 18750, 5000}),
            values);
  EXPECT_EQ(2u, fields.field[TStatusFields::kStatus].size());
}

TEST_F(TextUnitTest, AnswersQueriesAndSettings) {
  EXPECT_EQ("#KT1000,2.10,KOVRA,SIM\r", Ask("P4\r"));
  // The rating text has the 22 bytes the byte protocol's probe rejects.
  EXPECT_EQ(22u, Ask("F\r").size());

  EXPECT_EQ("#0\r", Ask("C4:05\r"));
  EXPECT_EQ("#0\r", Ask("C2:1000\r"));
  EXPECT_EQ("#230,1000,196,5\r", Ask("P1\r"));
  EXPECT_EQ(5.0, state_.battery_low_level_percent);
  EXPECT_EQ("#0\r", Ask("C6:0\r"));
  // C7:2 silences the buzzer without changing its setting.
  state_.buzzer = true;
  EXPECT_EQ("#0\r", Ask("C7:2\r"));
  EXPECT_FALSE(state_.buzzer);
  EXPECT_EQ("#\xC7\x80\xD0\r", Ask("P9\r"));
  EXPECT_EQ("#1\r", Ask("C9:1\r"));
  EXPECT_EQ("#1\r", Ask("C2:12x\r"));
}

TEST_F(TextUnitTest, TestAndShutdownCommandsDriveTheState) {
  EXPECT_EQ("#0\r", Ask("T.1\r"));
  EXPECT_TRUE(state_.test_active);
  EXPECT_EQ(now_ - 50 + 6000, state_.test_end_ms);
  EXPECT_EQ("#0\r", Ask("CT\r"));
  EXPECT_FALSE(state_.test_active);

  EXPECT_EQ("#0\r", Ask("S02R0012\r"));
  const int64_t sent_at = now_ - 50;
  EXPECT_TRUE(state_.shutdown_active && state_.restore_pending);
  EXPECT_EQ(sent_at + 120000, state_.off_at_ms);
  EXPECT_EQ(sent_at + 12 * 60000, state_.restore_at_ms);
  EXPECT_EQ("#0\r", Ask("C\r"));
  EXPECT_FALSE(state_.shutdown_active);
  EXPECT_EQ("#0\r", Ask("S.5\r"));
  EXPECT_TRUE(state_.restore_on_utility);
}

TEST_F(TextUnitTest, RefusingUnitChangesNothing) {
  Configure("--text-settings", "220,270,180,30");
  Configure("--text-refuse", "on");
  for (const char* request : {"C4:05\r", "T.1\r", "S01\r"}) {
    EXPECT_EQ("#1\r", Ask(request)) << request;
  }
  EXPECT_FALSE(state_.test_active || state_.shutdown_active);
  EXPECT_EQ("#220,270,180,30\r", Ask("P1\r"));
}

TEST_F(TextUnitTest, FramesRequestsAndDropsStrays) {
  // The scan's zero byte and wake-up CRs are dropped without an answer.
  std::vector<WireExchange> exchanges = SendPaced(std::string("\0\r\r", 3));
  ASSERT_EQ(3u, exchanges.size());
  EXPECT_TRUE(exchanges[0].ignored && exchanges[1].ignored);
  // A partial request left over a quiet spell is dropped.
  SendPaced("P");
  now_ += TextUnit::kStaleRequestMs + 1;
  exchanges = SendPaced("P3\r");
  ASSERT_EQ(2u, exchanges.size());
  EXPECT_TRUE(exchanges[0].ignored);
  EXPECT_EQ("#24.0,2,7.2,0\r", exchanges[1].answer);
  // An endless request is cut off; an unknown one gets no answer.
  EXPECT_EQ(3u, SendPaced(std::string(100, 'X')).size());
  now_ += TextUnit::kStaleRequestMs + 1;
  exchanges = SendPaced("Q\r");
  ASSERT_EQ(2u, exchanges.size());  // the stale rest, then Q
  EXPECT_EQ("", exchanges[1].answer);
}

TEST(TextUnitOptionsTest, RejectsBadOptionValues) {
  TextUnitConfig config;
  std::string error;
  const char* bad[][2] = {{"--text-settings", "99999999999999999999,1,2,3"},
                          {"--text-query", "P2=\r"},
                          {"--text-option-a", "0x7F"},
                          {"--text-model", "two words"}};
  for (const auto& c : bad) {
    EXPECT_TRUE(ParseTextUnitOption(c[0], c[1], &config, &error));
    EXPECT_FALSE(error.empty()) << c[0] << " " << c[1];
    error.clear();
  }
  EXPECT_FALSE(ParseTextUnitOption("--model", "650VA", &config, &error));
}

}  // namespace

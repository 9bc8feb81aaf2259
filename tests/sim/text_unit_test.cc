#include "sim/text_unit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/protocol/t_number.h"
#include "agent/protocol/t_reply.h"
#include "sim/sim_state.h"

namespace {

class TextUnitTest : public ::testing::Test {
 protected:
  TextUnitTest() : unit_(config_, &state_) {}

  // Sends the bytes one at a time, 50 ms apart like the agent's writes.
  std::vector<WireExchange> SendPaced(const std::string& bytes) {
    std::vector<WireExchange> exchanges;
    for (char c : bytes) {
      uint8_t byte = static_cast<uint8_t>(c);
      unit_.Receive(&byte, 1, now_, &exchanges);
      now_ += 50;
    }
    return exchanges;
  }

  std::string Ask(const std::string& request) {
    std::vector<WireExchange> exchanges = SendPaced(request);
    EXPECT_EQ(1u, exchanges.size()) << request;
    if (exchanges.size() != 1) return std::string();
    EXPECT_FALSE(exchanges[0].ignored);
    return exchanges[0].answer;
  }

  // The payload of a well-formed answer ('#' ... CR), else "<malformed>".
  static std::string Payload(const std::string& answer) {
    if (answer.size() < 2 || answer.front() != '#' || answer.back() != '\r') {
      return "<malformed>";
    }
    return answer.substr(1, answer.size() - 2);
  }

  TextUnitConfig config_;
  SimState state_;
  TextUnit unit_;
  int64_t now_ = 500000;
};

TEST_F(TextUnitTest, StatusAnswerDecodesWithTheAgentsReaders) {
  state_.load_percent = 25.0;
  state_.utility_fail = true;
  state_.test_active = true;
  const std::string payload = Payload(Ask("D\r"));
  const TStatusFields fields = SplitStatusFields(payload);
  ASSERT_TRUE(fields.AllPresent()) << payload;
  EXPECT_EQ(0, ParseHundredths(fields.field[TStatusFields::kInput], 10));
  EXPECT_EQ(23000, ParseHundredths(fields.field[TStatusFields::kOutput], 10));
  EXPECT_EQ(2500, ParseHundredths(fields.field[TStatusFields::kLoad], 10));
  EXPECT_EQ(5000, ParseHundredths(fields.field[TStatusFields::kFrequency], 10));
  const std::string_view status = fields.field[TStatusFields::kStatus];
  ASSERT_EQ(2u, status.size());
  const TStatusFlags flags = DecodeStatusByte(static_cast<uint8_t>(status[0]));
  EXPECT_EQ(1, flags.power_fail);
  EXPECT_EQ(1, flags.test_active);
  EXPECT_EQ(0, flags.battery_low);
}

TEST_F(TextUnitTest, HexadecimalStatusAvoidsFieldLetters) {
  TextUnitConfig config;
  std::string error;
  ASSERT_TRUE(ParseTextUnitOption("--text-hex", "on", &config, &error));
  SimState state;
  TextUnit unit(config, &state);
  state.capacity_percent = 100.0;     // 0x64
  state.temperature_celsius = 187.5;  // 0xbb.32: a 'B' would split the field
  std::vector<WireExchange> exchanges;
  const std::string request = "D\r";
  unit.Receive(reinterpret_cast<const uint8_t*>(request.data()), 2, 0,
               &exchanges);
  ASSERT_EQ(1u, exchanges.size());
  const std::string payload = Payload(exchanges[0].answer);
  const TStatusFields fields = SplitStatusFields(payload);
  ASSERT_TRUE(fields.AllPresent());
  EXPECT_EQ(23000, ParseHundredths(fields.field[TStatusFields::kInput], 16));
  EXPECT_EQ(10000, ParseHundredths(fields.field[TStatusFields::kCapacity], 16));
  EXPECT_EQ(18750,
            ParseHundredths(fields.field[TStatusFields::kTemperature], 16));
}

TEST_F(TextUnitTest, AnswersThePropertyQueries) {
  EXPECT_EQ("230,264,196,20", Payload(Ask("P1\r")));
  EXPECT_EQ("1000,600,230,45,65", Payload(Ask("P2\r")));
  EXPECT_EQ("24.0,2,7.2,0", Payload(Ask("P3\r")));
  EXPECT_EQ("KT1000,2.10,KOVRA,SIM", Payload(Ask("P4\r")));
  EXPECT_EQ("253,264,276,0", Payload(Ask("P6\r")));
  EXPECT_EQ("\xC7\x80\xF0", Payload(Ask("P9\r")));
  // The rating text has the 22 bytes the byte protocol's probe rejects.
  EXPECT_EQ(22u, Ask("F\r").size());
}

TEST_F(TextUnitTest, SettingsChangeTheAnswers) {
  EXPECT_EQ("0", Payload(Ask("C4:05\r")));
  EXPECT_EQ("0", Payload(Ask("C2:1000\r")));
  EXPECT_EQ("230,1000,196,5", Payload(Ask("P1\r")));
  EXPECT_EQ(5.0, state_.battery_low_level_percent);
  EXPECT_EQ("0", Payload(Ask("C7:0\r")));
  EXPECT_EQ("0", Payload(Ask("C6:0\r")));
  EXPECT_EQ("\xC7\x80\xC0", Payload(Ask("P9\r")));
  state_.buzzer = true;
  EXPECT_EQ("0", Payload(Ask("C7:2\r")));
  EXPECT_FALSE(state_.buzzer);
  EXPECT_EQ("\xC7\x80\xC0", Payload(Ask("P9\r")));
  EXPECT_EQ("1", Payload(Ask("C9:1\r")));
  EXPECT_EQ("1", Payload(Ask("C2:12x\r")));
}

TEST_F(TextUnitTest, TestAndShutdownCommandsDriveTheState) {
  EXPECT_EQ("0", Payload(Ask("T.1\r")));
  EXPECT_TRUE(state_.test_active);
  EXPECT_EQ(now_ - 50 + 6000, state_.test_end_ms);
  EXPECT_EQ("0", Payload(Ask("CT\r")));
  EXPECT_FALSE(state_.test_active);
  EXPECT_EQ("0", Payload(Ask("T02\r")));
  EXPECT_EQ(now_ - 50 + 120000, state_.test_end_ms);

  EXPECT_EQ("0", Payload(Ask("S02R0012\r")));
  EXPECT_TRUE(state_.shutdown_active);
  EXPECT_TRUE(state_.restore_pending);
  const int64_t sent_at = now_ - 50;
  EXPECT_EQ(sent_at + 120000, state_.off_at_ms);
  EXPECT_EQ(sent_at + 12 * 60000, state_.restore_at_ms);
  EXPECT_EQ("0", Payload(Ask("C\r")));
  EXPECT_FALSE(state_.shutdown_active);
  EXPECT_EQ("0", Payload(Ask("S.5\r")));
  EXPECT_TRUE(state_.restore_on_utility);
}

TEST_F(TextUnitTest, RefusingUnitChangesNothing) {
  TextUnitConfig config;
  std::string error;
  ASSERT_TRUE(ParseTextUnitOption("--text-refuse", "on", &config, &error));
  SimState state;
  TextUnit unit(config, &state);
  for (const std::string request : {"C4:05\r", "T.1\r", "S01\r"}) {
    std::vector<WireExchange> exchanges;
    unit.Receive(reinterpret_cast<const uint8_t*>(request.data()),
                 request.size(), 0, &exchanges);
    ASSERT_EQ(1u, exchanges.size());
    EXPECT_EQ("#1\r", exchanges[0].answer) << request;
  }
  EXPECT_FALSE(state.test_active);
  EXPECT_FALSE(state.shutdown_active);
  EXPECT_EQ(20, unit.config().battery_low);
}

TEST_F(TextUnitTest, FramesRequestsAndDropsStrays) {
  // The scan's zero byte and wake-up CRs are dropped without an answer.
  std::vector<WireExchange> exchanges = SendPaced(std::string("\0\r\r", 3));
  ASSERT_EQ(3u, exchanges.size());
  EXPECT_TRUE(exchanges[0].ignored && exchanges[1].ignored);
  // Two requests in one read.
  exchanges.clear();
  const std::string both = "P1\rP3\r";
  unit_.Receive(reinterpret_cast<const uint8_t*>(both.data()), both.size(),
                now_, &exchanges);
  ASSERT_EQ(2u, exchanges.size());
  EXPECT_EQ("#24.0,2,7.2,0\r", exchanges[1].answer);

  // A partial request left over a quiet spell is dropped.
  SendPaced("P");
  now_ += TextUnit::kStaleRequestMs + 1;
  exchanges = SendPaced("D\r");
  ASSERT_EQ(2u, exchanges.size());
  EXPECT_TRUE(exchanges[0].ignored);
  EXPECT_EQ("D\r", exchanges[1].request);

  // An endless request is cut off; unknown requests get no answer.
  exchanges = SendPaced(std::string(100, 'X'));
  EXPECT_EQ(3u, exchanges.size());
  now_ += TextUnit::kStaleRequestMs + 1;
  exchanges = SendPaced("Q\r");
  ASSERT_EQ(2u, exchanges.size());  // the stale rest, then Q
  EXPECT_FALSE(exchanges[1].ignored);
  EXPECT_EQ("", exchanges[1].answer);
}

TEST(TextUnitOptionsTest, ParsesAndRejectsOptionValues) {
  TextUnitConfig config;
  std::string error;
  EXPECT_TRUE(ParseTextUnitOption("--text-settings", "220,270,180,30", &config,
                                  &error));
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(270, config.input_high);
  EXPECT_TRUE(
      ParseTextUnitOption("--text-query", "P6=250,260,270", &config, &error));
  EXPECT_EQ("250,260,270", config.input_high_range);
  EXPECT_TRUE(ParseTextUnitOption("--text-option-a", "0xCF", &config, &error));
  EXPECT_EQ(0xCF, config.option_a);
  EXPECT_TRUE(error.empty());

  const struct {
    const char* option;
    const char* value;
  } bad[] = {
      {"--text-settings", "1,2,3"},
      {"--text-settings", "99999999999999999999,1,2,3"},
      {"--text-query", "P4=x"},
      {"--text-query", "P2=\r"},
      {"--text-option-a", "0x7F"},
      {"--text-model", "two words"},
  };
  for (const auto& c : bad) {
    std::string message;
    EXPECT_TRUE(ParseTextUnitOption(c.option, c.value, &config, &message));
    EXPECT_FALSE(message.empty()) << c.option << " " << c.value;
  }
  EXPECT_FALSE(ParseTextUnitOption("--model", "650VA", &config, &error));
}

}  // namespace

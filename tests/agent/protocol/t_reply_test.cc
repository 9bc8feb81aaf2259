#include "agent/protocol/t_reply.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "agent/protocol/command_frame.h"
#include "gtest/gtest.h"

namespace {

CommandFrame FrameWithReply(std::string_view bytes) {
  CommandFrame frame;
  const size_t length = std::min(bytes.size(), sizeof frame.reply);
  memcpy(frame.reply, bytes.data(), length);
  frame.read_length = static_cast<int32_t>(length);
  return frame;
}

TEST(TReplyTest, ExtractsPayloadOnlyFromWellFormedReplies) {
  std::string_view payload;
  const CommandFrame list = FrameWithReply("#230,264\r");
  EXPECT_TRUE(ExtractPayload(list, &payload));
  EXPECT_EQ("230,264", payload);
  EXPECT_TRUE(ExtractPayload(FrameWithReply("#\r"), &payload));
  EXPECT_TRUE(payload.empty());

  // A buffer filled without the CR is cut, hence malformed.
  const std::string bad[] = {"",
                             "#",
                             "\r",
                             "230\r",
                             "#230",
                             "#230\r\n",
                             "#" + std::string(200, '9') + "\r"};
  for (const std::string& reply : bad) {
    EXPECT_FALSE(ExtractPayload(FrameWithReply(reply), &payload)) << reply;
  }
  CommandFrame overlong = FrameWithReply("#1\r");
  overlong.read_length = 100000;
  EXPECT_FALSE(ExtractPayload(overlong, &payload));

  const CommandFrame exact = FrameWithReply(
      "#" + std::string(CommandFrame::kBufferSize - 2, '9') + "\r");
  ASSERT_TRUE(ExtractPayload(exact, &payload));
  EXPECT_EQ(static_cast<size_t>(CommandFrame::kBufferSize - 2), payload.size());
}

TEST(TReplyTest, SplitsStatusFieldsAtTheSevenLetters) {
  const std::string payload = "junkI230.0O230.0L025.0B100.0T30.0F50.0S\x81\x84";
  const TStatusFields fields = SplitStatusFields(payload);
  EXPECT_TRUE(fields.AllPresent());
  EXPECT_EQ("230.0", fields.field[TStatusFields::kInput]);
  EXPECT_EQ("230.0", fields.field[TStatusFields::kOutput]);
  EXPECT_EQ("025.0", fields.field[TStatusFields::kLoad]);
  EXPECT_EQ("100.0", fields.field[TStatusFields::kCapacity]);
  EXPECT_EQ("30.0", fields.field[TStatusFields::kTemperature]);
  EXPECT_EQ("50.0", fields.field[TStatusFields::kFrequency]);
  EXPECT_EQ("\x81\x84", fields.field[TStatusFields::kStatus]);
}

TEST(TReplyTest, StatusSplitKeepsLastRepeatAndReportsMissingLetters) {
  TStatusFields fields = SplitStatusFields("I1I2O3L4B5T6S78");
  EXPECT_FALSE(fields.AllPresent());
  EXPECT_FALSE(fields.present[TStatusFields::kFrequency]);
  EXPECT_EQ("2", fields.field[TStatusFields::kInput]);

  // A NUL byte must not be taken for a letter (it ends the letter set).
  const std::string with_nul("I1\0O2", 5);
  fields = SplitStatusFields(with_nul);
  EXPECT_EQ(std::string_view("1\0", 2), fields.field[TStatusFields::kInput]);

  EXPECT_FALSE(SplitStatusFields("").AllPresent());
  fields = SplitStatusFields("S");
  EXPECT_TRUE(fields.present[TStatusFields::kStatus]);
  EXPECT_EQ("", fields.field[TStatusFields::kStatus]);
}

TEST(TReplyTest, TrimsTrailingZeroFieldsOfRangeTexts) {
  const struct {
    std::string_view payload;
    std::string expected;
  } cases[] = {
      {"170,180,190,0,0", "170,180,190"},
      {"200,210", "200,210"},
      {"200,100", "200,100"},
      {"250,0", "250"},
      {"0,0", ""},
      {"0", ""},
      {"100", "100"},
      {"0,100", "0,100"},
      {"", ""},
      {"240", "240"},
      {"1,00", "1"},
      {std::string_view("240,250\0,0", 10), "240,250"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, TrimRangeText(c.payload)) << "'" << c.payload << "'";
  }
}

TEST(TReplyTest, TakesTheMiddleFieldOfARange) {
  EXPECT_EQ(260, MiddleRangeValue("250,260,270"));
  EXPECT_EQ(20, MiddleRangeValue("10,20,30,40"));
  EXPECT_EQ(200, MiddleRangeValue("200,210"));
  EXPECT_EQ(240, MiddleRangeValue("240"));
  EXPECT_EQ(-5, MiddleRangeValue("1, -5x,9"));
  EXPECT_EQ(0, MiddleRangeValue(",,"));
  // Only 31 characters of the field are read.
  EXPECT_EQ(1, MiddleRangeValue(std::string(30, '0') + "1111111111"));
  EXPECT_EQ(12, MiddleRangeValue(std::string(29, ' ') + "12345"));
  EXPECT_EQ(std::numeric_limits<int32_t>::max(),
            MiddleRangeValue("99999999999999999999"));
}

TEST(TReplyTest, DecodesOptionBytes) {
  TOptionBits bits;
  ASSERT_TRUE(DecodeOptionBits("", &bits));  // A = 0xC7, B = 0xF0
  EXPECT_EQ((std::vector<int32_t>{1, 0, 0, 1, 1, 1, 1}),
            (std::vector<int32_t>{bits.option52, bits.option53, bits.option47,
                                  bits.option46, bits.cold_start, bits.setting5,
                                  bits.buzzer}));
  // Fewer than three bytes: B still counts as 0xF0.
  ASSERT_TRUE(DecodeOptionBits("\x98\x80", &bits));
  EXPECT_EQ(0, bits.option52);
  EXPECT_EQ(1, bits.option53);
  EXPECT_EQ(1, bits.cold_start);

  EXPECT_FALSE(DecodeOptionBits("\x98\x7F\x90", &bits));
  EXPECT_FALSE(DecodeOptionBits(std::string_view("\x98\0", 2), &bits));
}

TEST(TReplyTest, BackupTimeSaturatesOnHostileBatteryData) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(kMax, EstimateBackupTime(kMax, kMax, kMax, 0));
  EXPECT_EQ(std::numeric_limits<int32_t>::min(),
            EstimateBackupTime(kMax, -kMax, kMax, 0));
  EXPECT_EQ(kMax, EstimateBackupTime(1000, 1000, 1000,
                                     std::numeric_limits<int32_t>::min()));
}

TEST(TReplyTest, ReadsAcknowledgements) {
  EXPECT_EQ(0, ParseAcknowledgement("0"));
  EXPECT_EQ(0, ParseAcknowledgement(""));
  EXPECT_EQ(1, ParseAcknowledgement("1"));
  EXPECT_EQ(-3, ParseAcknowledgement(" -3x"));
  EXPECT_EQ(std::numeric_limits<int32_t>::max(),
            ParseAcknowledgement("99999999999999999999"));
}

}  // namespace

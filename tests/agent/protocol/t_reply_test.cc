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

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

CommandFrame FrameWithReply(std::string_view bytes) {
  CommandFrame frame;
  const size_t length = std::min(bytes.size(), sizeof frame.reply);
  memcpy(frame.reply, bytes.data(), length);
  frame.read_length = static_cast<int32_t>(length);
  return frame;
}

TEST(TReplyTest, PayloadEndsAtItsFirstNul) {
  using namespace std::string_literals;
  std::string_view payload;
  // The payload views into the frame, which must outlive it.
  const CommandFrame list = FrameWithReply("#230\0,264\r"s);
  ASSERT_TRUE(ExtractPayload(list, &payload));
  EXPECT_EQ("230", payload);
  const CommandFrame options = FrameWithReply("#\0\x81\r"s);
  ASSERT_TRUE(ExtractPayload(options, &payload));
  EXPECT_TRUE(payload.empty());
}

TEST(TReplyTest, ExtractsPayloadOnlyFromWellFormedReplies) {
  std::string_view payload;
  EXPECT_TRUE(ExtractPayload(FrameWithReply("#\r"), &payload));
  EXPECT_TRUE(payload.empty());
  // A full buffer ending in CR is the longest payload.
  const std::string longest(CommandFrame::kBufferSize - 2, '9');
  const CommandFrame full = FrameWithReply("#" + longest + "\r");
  ASSERT_TRUE(ExtractPayload(full, &payload));
  EXPECT_EQ(longest, payload);

  const std::string bad[] = {"", "#", "\r", "230\r", "#230", "#230\r\n"};
  for (const std::string& reply : bad) {
    EXPECT_FALSE(ExtractPayload(FrameWithReply(reply), &payload)) << reply;
  }
  CommandFrame overlong = FrameWithReply("#1\r");
  overlong.read_length = 100000;
  EXPECT_FALSE(ExtractPayload(overlong, &payload));
  // A buffer filled without the CR is cut, hence malformed.
  EXPECT_FALSE(ExtractPayload(
      FrameWithReply("#" + std::string(200, '9') + "\r"), &payload));
}

TEST(TReplyTest, StatusSplitKeepsLastRepeatAndReportsMissingLetters) {
  TStatusFields fields = SplitStatusFields("junkI1I2O3L4B5T6S78");
  EXPECT_FALSE(fields.AllPresent());
  EXPECT_FALSE(fields.present[TStatusFields::kFrequency]);
  EXPECT_EQ("2", fields.field[TStatusFields::kInput]);
  EXPECT_EQ("78", fields.field[TStatusFields::kStatus]);

  // A NUL byte must not be taken for a letter (it ends the letter set).
  fields = SplitStatusFields(std::string_view("I1\0O2", 5));
  EXPECT_EQ(std::string_view("1\0", 2), fields.field[TStatusFields::kInput]);
}

TEST(TReplyTest, TrimsRangeTextsAndTakesTheirMiddleField) {
  EXPECT_EQ("170,180,190", TrimRangeText("170,180,190,0,0"));
  EXPECT_EQ("1", TrimRangeText("1,00"));
  EXPECT_EQ("0,100", TrimRangeText("0,100"));
  EXPECT_EQ("", TrimRangeText("0,0"));
  EXPECT_EQ("240,250", TrimRangeText(std::string_view("240,250\0,0", 10)));

  EXPECT_EQ(20, MiddleRangeValue("10,20,30,40"));
  EXPECT_EQ(-5, MiddleRangeValue("1, -5x,9"));
  EXPECT_EQ(0, MiddleRangeValue(",,"));
  // Only 31 characters of the field are read; more digits saturate.
  EXPECT_EQ(1, MiddleRangeValue(std::string(30, '0') + "1111111111"));
  EXPECT_EQ(kMax, MiddleRangeValue("99999999999999999999"));
}

TEST(TReplyTest, DecodesOptionBytes) {
  // Options 52, 53, 47, 46, cold start, setting 5, buzzer.
  const auto decode = [](std::string_view payload) {
    TOptionBits b;
    if (!DecodeOptionBits(payload, &b)) return std::vector<int32_t>();
    return std::vector<int32_t>{b.option52, b.option53,   b.option47,
                                b.option46, b.cold_start, b.setting5,
                                b.buzzer};
  };
  // No bytes: A = 0xC7, B = 0xF0. Option 52 is 1 when bit 4 of A is clear.
  EXPECT_EQ((std::vector<int32_t>{1, 0, 0, 1, 1, 1, 1}), decode(""));
  EXPECT_EQ((std::vector<int32_t>{1, 1, 1, 1, 0, 1, 1}),
            decode("\xE8\x80\xD0"));
  // Fewer than three bytes: B still counts as 0xF0.
  EXPECT_EQ((std::vector<int32_t>{0, 1, 0, 0, 1, 1, 1}), decode("\x98\x80"));
  EXPECT_TRUE(decode("\x98\x7F\x90").empty());
  EXPECT_TRUE(decode(std::string_view("\x98\0", 2)).empty());
}

TEST(TReplyTest, BackupTimeSaturatesOnHostileBatteryData) {
  EXPECT_EQ(kMax, EstimateBackupTime(kMax, kMax, kMax, 0));
  EXPECT_EQ(kMin, EstimateBackupTime(kMax, -kMax, kMax, 0));
  EXPECT_EQ(kMax, EstimateBackupTime(1000, 1000, 1000, kMin));
}

}  // namespace

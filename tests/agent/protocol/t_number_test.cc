#include "agent/protocol/t_number.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "gtest/gtest.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

struct HundredthsCase {
  std::string_view text;
  int base;
  int32_t expected;
};

TEST(TNumberTest, ReadsFixedPointHundredths) {
  const HundredthsCase cases[] = {
      {"230", 10, 23000},       {"230.5", 10, 23050}, {"49.95", 10, 4995},
      {"100.0", 10, 10000},     {"230.", 10, 23000},  {".5", 10, 50},
      {"1.05", 10, 105},        {"1.123", 10, 112},   {"-5.5", 10, -550},
      {"-0.5", 10, -50},        {"  +7.25", 10, 725}, {"025.0", 10, 2500},
      {"12x.5", 10, 1200 + 50}, {"abc", 10, 0},       {"", 10, 0},
      {"5.x", 10, 500},         {"1A", 16, 2600},     {"ff.8", 16, 25500 + 80},
      {"1.1A", 16, 100 + 26},   {"G1", 16, 0},
  };
  for (const HundredthsCase& c : cases) {
    EXPECT_EQ(c.expected, ParseHundredths(c.text, c.base))
        << "'" << c.text << "' base " << c.base;
  }
}

TEST(TNumberTest, SaturatesInsteadOfOverflowing) {
  EXPECT_EQ(kMax, ParseHundredths("99999999999999999999999999.99", 10));
  EXPECT_EQ(kMin, ParseHundredths("-99999999999999999999999999", 10));
  // 21474837 * 100 no longer fits 32 bits.
  EXPECT_EQ(kMax, ParseHundredths("21474837", 10));
  EXPECT_EQ(2147483600, ParseHundredths("21474836", 10));
  EXPECT_EQ(kMax, ParseHundredths("FFFFFFFFFFFFFFFFFFFF", 16));
  EXPECT_EQ(kMax, ParseLeadingInteger("2147483648", 10));
  EXPECT_EQ(kMin, ParseLeadingInteger("-2147483648", 10));
  EXPECT_EQ(kMin, ParseLeadingInteger("-99999999999999999999", 10));
}

TEST(TNumberTest, NeverReadsPastTheView) {
  // The digits after the view's end must not count.
  const std::string_view text("12345", 2);
  EXPECT_EQ(1200, ParseHundredths(text, 10));
  const std::string_view fraction("1.55", 3);
  EXPECT_EQ(150, ParseHundredths(fraction, 10));
}

TEST(TNumberTest, LeadingIntegerReportsWhereItStopped) {
  size_t rest = 99;
  EXPECT_EQ(-42, ParseLeadingInteger("  -42abc", 10, &rest));
  EXPECT_EQ(5u, rest);
  EXPECT_EQ(0, ParseLeadingInteger(" - 4", 10, &rest));
  EXPECT_EQ(0u, rest);
}

}  // namespace

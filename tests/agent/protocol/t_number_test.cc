#include "agent/protocol/t_number.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "gtest/gtest.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(TNumberTest, ReadsFixedPointHundredths) {
  const struct {
    std::string_view text;
    int base;
    int32_t expected;
  } cases[] = {
      {"230.5", 10, 23050}, {"49.95", 10, 4995},  {"230.", 10, 23000},
      {".5", 10, 50},       {"1.05", 10, 105},    {"1.123", 10, 112},
      {"-0.5", 10, -50},    {"  +7.25", 10, 725}, {"12x.5", 10, 1250},
      {"abc", 10, 0},       {"5.x", 10, 500},     {"ff.8", 16, 25580},
      {"1.1A", 16, 126},    {"G1", 16, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, ParseHundredths(c.text, c.base))
        << "'" << c.text << "' base " << c.base;
  }
  // Saturation instead of overflow (21474837 * 100 no longer fits), and no
  // digit after the view's end may count.
  EXPECT_EQ(2147483600, ParseHundredths("21474836", 10));
  EXPECT_EQ(kMax, ParseHundredths("21474837", 10));
  EXPECT_EQ(kMin, ParseHundredths("-99999999999999999999999999", 10));
  EXPECT_EQ(kMax, ParseHundredths("FFFFFFFFFFFFFFFFFFFF", 16));
  EXPECT_EQ(1200, ParseHundredths(std::string_view("12345", 2), 10));
  EXPECT_EQ(150, ParseHundredths(std::string_view("1.55", 3), 10));
}

TEST(TNumberTest, LeadingIntegerSaturatesAndReportsWhereItStopped) {
  EXPECT_EQ(kMax, ParseAnswerInteger("2147483648", 10));
  EXPECT_EQ(kMin, ParseAnswerInteger("-2147483648", 10));
  EXPECT_EQ(kMin, ParseAnswerInteger("-99999999999999999999", 10));
  size_t rest = 99;
  EXPECT_EQ(-42, ParseAnswerInteger("  -42abc", 10, &rest));
  EXPECT_EQ(5u, rest);
  EXPECT_EQ(0, ParseAnswerInteger(" - 4", 10, &rest));
  EXPECT_EQ(0u, rest);
}

}  // namespace

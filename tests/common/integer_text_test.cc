#include "common/integer_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(IntegerTextTest, LeadingScanReadsTheStrtolWay) {
  LeadingInteger scan = ScanLeadingInteger(" \t-42x");
  EXPECT_TRUE(scan.found);
  EXPECT_FALSE(scan.beyond_int32);
  EXPECT_EQ(scan.value, -42);
  EXPECT_EQ(scan.end, 5u);

  scan = ScanLeadingInteger("+ 7");
  EXPECT_FALSE(scan.found);
  EXPECT_EQ(scan.end, 0u);

  scan = ScanLeadingInteger("ff", 16);
  EXPECT_EQ(scan.value, 255);
  EXPECT_FALSE(ScanLeadingInteger("1", 37).found);
}

TEST(IntegerTextTest, LeadingScanNeverOverflowsOnLongDigitRuns) {
  const std::string digits(400, '9');
  LeadingInteger scan = ScanLeadingInteger(digits);
  EXPECT_TRUE(scan.beyond_int32);
  EXPECT_EQ(scan.value, INT32_MAX);
  EXPECT_EQ(scan.end, digits.size());
  scan = ScanLeadingInteger("-" + digits);
  EXPECT_EQ(scan.value, INT32_MIN);
}

TEST(IntegerTextTest, Int32LimitsAreExact) {
  EXPECT_FALSE(ScanLeadingInteger("2147483647").beyond_int32);
  EXPECT_TRUE(ScanLeadingInteger("2147483648").beyond_int32);
  EXPECT_FALSE(ScanLeadingInteger("-2147483648").beyond_int32);
  EXPECT_TRUE(ScanLeadingInteger("-2147483649").beyond_int32);
}

TEST(IntegerTextTest, SaturatingReadGivesZeroWithoutDigits) {
  size_t rest = 99;
  EXPECT_EQ(ParseLeadingInt32Saturating("abc", 10, &rest), 0);
  EXPECT_EQ(rest, 0u);
  EXPECT_EQ(ParseLeadingInt32Saturating("99999999999", 10, &rest), INT32_MAX);
  EXPECT_EQ(rest, 11u);
}

TEST(IntegerTextTest, StrictLeadingReadRefusesNoDigitsAndOverflow) {
  int32_t value = 5;
  EXPECT_FALSE(ParseLeadingInt32Strict("", &value));
  EXPECT_FALSE(ParseLeadingInt32Strict("-", &value));
  EXPECT_FALSE(ParseLeadingInt32Strict("4294967296", &value));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(ParseLeadingInt32Strict(" 12 34", &value));
  EXPECT_EQ(value, 12);
}

TEST(IntegerTextTest, WholeReadTakesOnlyASignAndDigits) {
  int32_t value = 5;
  for (const char* bad : {"", "-", "+1", " 1", "1 ", "1x", "0x10",
                          "2147483648", "-2147483649"}) {
    EXPECT_FALSE(ParseWholeInt32(bad, &value)) << bad;
  }
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(ParseWholeInt32("-2147483648", &value));
  EXPECT_EQ(value, INT32_MIN);
  EXPECT_FALSE(ParseWholeInt32("256", 0, 255, &value));
  EXPECT_TRUE(ParseWholeInt32("-128", -128, 255, &value));
  EXPECT_EQ(value, -128);
  EXPECT_TRUE(ParseWholeInt32("7f", 0, 255, &value, 16));
  EXPECT_EQ(value, 127);
}

TEST(IntegerTextTest, ViewsAreNotReadPastTheirEnd) {
  const char text[] = "12345";
  int32_t value = 0;
  EXPECT_TRUE(ParseWholeInt32(std::string_view(text, 2), &value));
  EXPECT_EQ(value, 12);
  EXPECT_FALSE(ParseWholeInt32(std::string("1\0" "2", 3), &value));
}

}  // namespace

#include "tool/value_syntax.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct Case {
  const char* text;
  bool ok;
  int32_t value;
};

void Check(bool (*parse)(const char*, int32_t*), const Case& c) {
  SCOPED_TRACE(c.text);
  int32_t value = -7;
  EXPECT_EQ(c.ok, parse(c.text, &value));
  EXPECT_EQ(c.ok ? c.value : -7, value);
}

TEST(ValueSyntaxTest, ParseDuration) {
  const Case cases[] = {
      {"90", true, 90},
      {"1:30", true, 90},
      {"1:0:5", true, 3605},
      {"1:", true, 1},
      {"1::5", true, 1},
      {"1:0:5:9x", true, 3605},
      {" 2: 3", true, 123},
      {"1x", false, 0},
      {"1:30x", false, 0},
      {"", false, 0},
      // Negative durations are refused rather than taken for "not given".
      {"-1", false, 0},
      {"1:-30", false, 0},
      {"35791394:7", true, 2147483647},
      {"35791394:8", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Case& c : cases) Check(ParseDuration, c);
}

TEST(ValueSyntaxTest, ParseDecimalAndOnOff) {
  const Case decimals[] = {
      {"007", true, 7},
      {"", true, 0},
      {"2147483647", true, 2147483647},
      {"2147483648", false, 0},
      {"-5", false, 0},
      {"+5", false, 0},
      {" 5", false, 0},
      {"12a", false, 0},
  };
  for (const Case& c : decimals) Check(ParseDecimal, c);
  const Case switches[] = {
      {"ON", true, 1}, {"Off", true, 0}, {"1", false, 0}, {"onn", false, 0}};
  for (const Case& c : switches) Check(ParseOnOff, c);
  int32_t value = -7;
  EXPECT_FALSE(ParseDuration(nullptr, &value));
  EXPECT_FALSE(ParseDecimal(nullptr, &value));
  EXPECT_FALSE(ParseOnOff(nullptr, &value));
}

}  // namespace

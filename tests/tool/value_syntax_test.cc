#include "tool/value_syntax.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(ValueSyntaxTest, ParsersAcceptOnlyWholeInRangeValues) {
  using Parser = bool (*)(const char*, int32_t*);
  struct Case {
    Parser parse;
    const char* text;
    bool ok;
    int32_t value;
  };
  const Parser duration = ParseDuration;
  const Parser decimal = ParseDecimal;
  const Case cases[] = {
      {duration, "1:0:5", true, 3605},
      {duration, "1::5", true, 1},
      {duration, " 2: 3", true, 123},
      {duration, "1:30x", false, 0},
      // Negative durations are refused rather than taken for "not given".
      {duration, "1:-30", false, 0},
      {duration, "35791394:7", true, 2147483647},
      {duration, "35791394:8", false, 0},
      {duration, nullptr, false, 0},
      {decimal, "007", true, 7},
      {decimal, "", true, 0},
      {decimal, "2147483648", false, 0},
      {decimal, "+5", false, 0},
      // No sign at all, not even a minus before a zero.
      {decimal, "-0", false, 0},
      {duration, " 1: +2", true, 62},
      {decimal, "12a", false, 0},
      {ParseLeadingInteger, " -12x", true, -12},
      {ParseLeadingInteger, "x", true, 0},
      {ParseLeadingInteger, "-2147483648", true, INT32_MIN},
      {ParseLeadingInteger, "2147483648", false, 0},
      {ParseLeadingInteger, nullptr, false, 0},
      {ParseOnOff, "Off", true, 0},
      {ParseOnOff, "onn", false, 0},
      {ParseOnOff, nullptr, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text == nullptr ? "null" : c.text);
    int32_t value = -7;
    EXPECT_EQ(c.ok, c.parse(c.text, &value));
    EXPECT_EQ(c.ok ? c.value : -7, value);
  }
}

}  // namespace

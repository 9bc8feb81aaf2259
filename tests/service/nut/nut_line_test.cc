#include "service/nut/nut_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

class NutLineTest : public ::testing::Test {
 protected:
  NutLineResult Split(std::string_view line) {
    return NutSplitWords(line, &words_);
  }
  Words words_;
};

TEST_F(NutLineTest, SplitsOnBlanksAndDropsTrailingCarriageReturn) {
  ASSERT_EQ(Split("GET  VAR\tups ups.status\r"), NutLineResult::kOk);
  EXPECT_EQ(words_, (Words{"GET", "VAR", "ups", "ups.status"}));
  ASSERT_EQ(Split("   "), NutLineResult::kOk);
  EXPECT_TRUE(words_.empty());
  ASSERT_EQ(Split(""), NutLineResult::kOk);
  EXPECT_TRUE(words_.empty());
}

TEST_F(NutLineTest, QuotedWordsKeepBlanksAndEscapes) {
  ASSERT_EQ(Split(R"(SET VAR ups x "a b \"c\" \\d")"), NutLineResult::kOk);
  EXPECT_EQ(words_, (Words{"SET", "VAR", "ups", "x", R"(a b "c" \d)"}));
  // Quoted and plain parts side by side are one word; "" is an empty word.
  ASSERT_EQ(Split(R"(a"b c"d "" e\ f)"), NutLineResult::kOk);
  EXPECT_EQ(words_, (Words{"ab cd", "", "e f"}));
}

TEST_F(NutLineTest, RefusesMalformedLinesAndLeavesNoWords) {
  words_ = {"stale"};
  EXPECT_EQ(Split(R"(SET VAR ups x "open)"), NutLineResult::kUnterminatedQuote);
  EXPECT_TRUE(words_.empty());
  EXPECT_EQ(Split(R"(GET VAR \)"), NutLineResult::kDanglingEscape);
  EXPECT_EQ(Split(std::string("GET\0VAR", 7)), NutLineResult::kControlByte);
  EXPECT_EQ(Split("GET \x1b[2J"), NutLineResult::kControlByte);
  EXPECT_EQ(Split("GET \"\\\x01\""), NutLineResult::kControlByte);
  EXPECT_EQ(Split("a\rb"), NutLineResult::kControlByte);
  EXPECT_EQ(Split("del\x7f"), NutLineResult::kControlByte);
}

TEST_F(NutLineTest, HighBytesAreOrdinaryText) {
  ASSERT_EQ(Split("\xc3\xa9t\xc3\xa9 \xff"), NutLineResult::kOk);
  EXPECT_EQ(words_, (Words{"\xc3\xa9t\xc3\xa9", "\xff"}));
}

TEST_F(NutLineTest, BoundsLineLengthAndWordCount) {
  std::string longest(kNutMaxLineBytes, 'x');
  EXPECT_EQ(Split(longest), NutLineResult::kOk);
  EXPECT_EQ(Split(longest + "\r"), NutLineResult::kOk);
  EXPECT_EQ(Split(longest + "x"), NutLineResult::kTooLong);

  std::string many;
  for (size_t i = 0; i < kNutMaxWords; ++i) many += "w ";
  EXPECT_EQ(Split(many), NutLineResult::kOk);
  EXPECT_EQ(words_.size(), kNutMaxWords);
  EXPECT_EQ(Split(many + "w"), NutLineResult::kTooManyWords);
  EXPECT_EQ(Split(many + "w "), NutLineResult::kTooManyWords);
}

TEST_F(NutLineTest, QuoteEscapesQuotesAndBackslashesOnly) {
  EXPECT_EQ(NutQuote(""), "\"\"");
  EXPECT_EQ(NutQuote("OL CHRG"), "\"OL CHRG\"");
  EXPECT_EQ(NutQuote(R"(say "hi" \o/)"), R"("say \"hi\" \\o/")");
}

TEST_F(NutLineTest, QuotedValuesSplitBackToThemselves) {
  const std::string values[] = {
      "",       "plain",     "two words",       R"(\)",
      R"(\"")", R"(a\\b"c)", " lead and trail "};
  for (const std::string& value : values) {
    ASSERT_EQ(Split("VAR ups v " + NutQuote(value)), NutLineResult::kOk)
        << value;
    ASSERT_EQ(words_.size(), 4u) << value;
    EXPECT_EQ(words_[3], value);
  }
}

// A model name from the unit with a LF in it split the VAR line in two; a
// CR or ESC reached the client as it was.
TEST_F(NutLineTest, QuotedValueCarriesNoControlBytes) {
  EXPECT_EQ(NutQuote(std::string("A\nB\rC\x1b\x7f\0D\tE", 11)),
            "\"A?B?C???D\tE\"");
  ASSERT_EQ(Split("VAR ups device.model " + NutQuote("X\n1000")),
            NutLineResult::kOk);
  ASSERT_EQ(words_.size(), 4u);
  EXPECT_EQ(words_[3], "X?1000");
}

}  // namespace

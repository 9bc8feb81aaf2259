#include "agent/protocol/property_cell.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(PropertyCellTest, NumberSlotsReportTheirState) {
  PropertyCell cell;
  int32_t value = 7;
  EXPECT_EQ(cell.ReadNumber(PropertyCell::kCurrent, &value), 2);
  EXPECT_EQ(cell.ReadNumber(PropertyCell::kDefault, &value), 1);
  int32_t size = 16;
  EXPECT_EQ(cell.ReadText(PropertyCell::kCurrent, nullptr, &size), 2);
  EXPECT_EQ(cell.ReadText(PropertyCell::kDefault, nullptr, &size), 1);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(size, 16);

  ASSERT_EQ(cell.StoreNumber(PropertyCell::kCurrent, -230), 0);
  EXPECT_EQ(cell.ReadNumber(PropertyCell::kCurrent, &value), 0);
  EXPECT_EQ(value, -230);
  EXPECT_EQ(cell.ReadNumber(PropertyCell::kDefault, &value), 1);
  ASSERT_EQ(cell.MarkInvalid(PropertyCell::kCurrent), 0);
  EXPECT_EQ(cell.ReadNumber(PropertyCell::kCurrent, &value), 4);
  EXPECT_EQ(value, -230);
  ASSERT_EQ(cell.StoreNumber(PropertyCell::kCurrent, 1), 0);
  EXPECT_EQ(cell.ReadNumber(PropertyCell::kCurrent, &value), 0);
  EXPECT_EQ(value, 1);
}

TEST(PropertyCellTest, TwoCallTextReadReportsSizeThenCopies) {
  PropertyCell cell;
  ASSERT_EQ(cell.StoreText(PropertyCell::kCurrent, "650VAE"), 0);
  ASSERT_EQ(cell.StoreText(PropertyCell::kCurrent, "KV650"), 0);
  int32_t size = 0;
  EXPECT_EQ(cell.ReadText(PropertyCell::kCurrent, nullptr, &size), 5);
  EXPECT_EQ(size, 6);
  char exact[6];
  EXPECT_EQ(cell.ReadText(PropertyCell::kCurrent, exact, &size), 0);
  EXPECT_STREQ(exact, "KV650");
  // A buffer of the text's length has no room for the NUL.
  char small[5] = {'x', 'x', 'x', 'x', 'x'};
  size = 5;
  EXPECT_EQ(cell.ReadText(PropertyCell::kCurrent, small, &size), 5);
  EXPECT_EQ(size, 6);
  EXPECT_EQ(small[0], 'x');

  // A longer text after a shorter one grows the copy.
  const std::string long_text(100, 'z');
  ASSERT_EQ(cell.StoreText(PropertyCell::kCurrent, long_text.c_str()), 0);
  char big[101];
  size = sizeof big;
  EXPECT_EQ(cell.ReadText(PropertyCell::kCurrent, big, &size), 0);
  EXPECT_EQ(std::string(big), long_text);
  // Empty and absent texts read as not read yet, and so does a cleared cell.
  ASSERT_EQ(cell.StoreText(PropertyCell::kCurrent, ""), 0);
  EXPECT_EQ(cell.ReadText(PropertyCell::kCurrent, big, &size), 2);
  ASSERT_EQ(cell.StoreText(PropertyCell::kCurrent, nullptr), 0);
  EXPECT_EQ(cell.ReadText(PropertyCell::kCurrent, big, &size), 2);
  cell.StoreText(PropertyCell::kCurrent, "Generic UPS");
  cell.StoreNumber(PropertyCell::kDefault, 3);
  cell.Clear();
  EXPECT_TRUE(cell.IsEmpty(PropertyCell::kCurrent));
  EXPECT_TRUE(cell.IsEmpty(PropertyCell::kDefault));
}

TEST(PropertyCellTest, QueryOnMissRunsTheQueryOnlyForAnEmptySlot) {
  PropertyCell cell;
  int queries = 0;
  auto query = [&] {
    ++queries;
    return cell.StoreNumber(PropertyCell::kCurrent, 264);
  };
  int32_t value = 0;
  EXPECT_EQ(ReadNumberOrQuery(cell, &value, query), 0);
  EXPECT_EQ(ReadNumberOrQuery(cell, &value, query), 0);
  EXPECT_EQ(value, 264);
  EXPECT_EQ(queries, 1);

  // A failing query's code comes back and the cell stays empty; an invalid
  // holder is reported without asking the unit.
  PropertyCell other;
  EXPECT_EQ(ReadNumberOrQuery(other, &value, [] { return 8; }), 8);
  EXPECT_TRUE(other.IsEmpty(PropertyCell::kCurrent));
  other.MarkInvalid(PropertyCell::kCurrent);
  EXPECT_EQ(ReadNumberOrQuery(other, &value, query), 4);
  EXPECT_EQ(queries, 1);

  // Text: the query fills the cell and the two-call read proceeds.
  PropertyCell text;
  int32_t size = 0;
  EXPECT_EQ(
      ReadTextOrQuery(
          text, nullptr, &size,
          [&] { return text.StoreText(PropertyCell::kCurrent, "1.234"); }),
      5);
  EXPECT_EQ(size, 6);
}

}  // namespace

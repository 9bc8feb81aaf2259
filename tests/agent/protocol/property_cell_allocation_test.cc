// A store that cannot allocate must leave its slot as it was. This program
// fails chosen allocations by replacing the global operator new.

#include <cstdint>

#include "agent/protocol/property_cell.h"
#include "gtest/gtest.h"
#include "tests/support/allocation_counter.h"

namespace {

TEST(PropertyCellAllocationTest, FailedTextStoreLeavesSlotUnchanged) {
  // The holder (first allocation) or its copy (second) cannot be had: the
  // number stored before stays readable, and no empty text appears.
  for (int64_t succeeding : {0, 1}) {
    PropertyCell cell;
    ASSERT_EQ(cell.StoreNumber(PropertyCell::kCurrent, 230), 0);
    FailNothrowAllocationsAfter(succeeding);
    const int32_t code = cell.StoreText(PropertyCell::kCurrent, "KT1000");
    AllowAllAllocations();
    EXPECT_EQ(code, 19) << succeeding;
    int32_t value = 0;
    EXPECT_EQ(cell.ReadNumber(PropertyCell::kCurrent, &value), 0) << succeeding;
    EXPECT_EQ(value, 230);
  }

  // A text slot whose new, longer copy cannot be had keeps its old text.
  PropertyCell cell;
  ASSERT_EQ(cell.StoreText(PropertyCell::kDefault, "ab"), 0);
  FailNothrowAllocationsAfter(0);
  const int32_t code = cell.StoreText(PropertyCell::kDefault, "abcdefgh");
  AllowAllAllocations();
  EXPECT_EQ(code, 19);
  char text[16] = {};
  int32_t size = sizeof(text);
  EXPECT_EQ(cell.ReadText(PropertyCell::kDefault, text, &size), 0);
  EXPECT_STREQ(text, "ab");
}

}  // namespace

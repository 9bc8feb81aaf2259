#include "service/nut/nut_secondary_wait.h"

#include <gtest/gtest.h>

namespace {

TEST(NutSecondaryWaitTest, EndsWhenOnlyOwnLoginsAreLeftOrTimeIsUp) {
  // Two secondaries and the primary's own login still there.
  EXPECT_FALSE(NutSecondaryWaitDone(3, 1, 0, kNutSecondaryWaitDefaultMs));
  EXPECT_FALSE(NutSecondaryWaitDone(2, 1, 14999, kNutSecondaryWaitDefaultMs));
  EXPECT_TRUE(NutSecondaryWaitDone(1, 1, 200, kNutSecondaryWaitDefaultMs));
  EXPECT_TRUE(NutSecondaryWaitDone(0, 0, 0, kNutSecondaryWaitDefaultMs));
  EXPECT_TRUE(NutSecondaryWaitDone(3, 1, 15000, kNutSecondaryWaitDefaultMs));
  // A login count that dropped below our own (a connection closed
  // meanwhile) is done too, not a wait for the limit.
  EXPECT_TRUE(NutSecondaryWaitDone(0, 1, 0, kNutSecondaryWaitDefaultMs));
  EXPECT_TRUE(NutSecondaryWaitDone(5, 0, 0, 0));
}

}  // namespace

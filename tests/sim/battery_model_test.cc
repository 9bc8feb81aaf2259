#include "sim/battery_model.h"

#include <gtest/gtest.h>

#include "sim/sim_state.h"

namespace {

class BatteryModelTest : public ::testing::Test {
 protected:
  BatteryModelTest() {
    state_.backup_scale_seconds = 1800;
    state_.battery_low_level_percent = 28;
    battery_.Advance(&state_, now_);
  }

  void Run(int64_t seconds) {
    now_ += seconds * 1000;
    battery_.Advance(&state_, now_);
  }

  SimState state_;
  BatteryModel battery_;
  int64_t now_ = 10000;
};

TEST_F(BatteryModelTest, DischargeFollowsLoadAndEmptyBatteryDropsOutput) {
  // Half load drains a full battery in the backup scale (1800 s); twice the
  // load, twice the rate.
  state_.load_percent = 50;
  state_.SetUtilityFail(true);
  Run(900);
  EXPECT_NEAR(50.0, state_.capacity_percent, 1e-6);
  state_.load_percent = 100;
  Run(451);
  EXPECT_EQ(0.0, state_.capacity_percent);
  EXPECT_FALSE(state_.output_on);
  state_.SetUtilityFail(false);
  EXPECT_TRUE(state_.output_on);
}

TEST_F(BatteryModelTest, BatteryLowComesOnAtLevelAndOffOnRecharge) {
  state_.load_percent = 50;
  state_.SetUtilityFail(true);
  Run(1800 * 71 / 100 + 1);  // 100 -> about 28.9 percent
  EXPECT_FALSE(state_.battery_low);
  Run(18);  // 1 percent more
  EXPECT_TRUE(state_.battery_low);
  state_.SetUtilityFail(false);
  Run(1);
  EXPECT_TRUE(state_.battery_low);
  Run(72 * 2);  // recharge at 4 x 1800 s per full battery: 72 s per percent
  EXPECT_FALSE(state_.battery_low);
}

TEST_F(BatteryModelTest, SelfTestDrainsButEmptyBatteryOnlyEndsIt) {
  state_.capacity_percent = 1;
  state_.StartTest(now_, 600 * 1000);
  Run(60);
  EXPECT_EQ(0.0, state_.capacity_percent);
  EXPECT_FALSE(state_.test_active);
  EXPECT_TRUE(state_.output_on);
}

TEST(SimStateTest, RestoreBeforeSwitchOffStillSwitchesOffFirst) {
  SimState state;
  state.ScheduleShutdown(0, 10000, 5000);
  state.AdvanceTimers(6000);
  EXPECT_TRUE(state.output_on && state.shutdown_active);
  // Switched off and, the restore time being past, straight back on.
  state.AdvanceTimers(10000);
  EXPECT_TRUE(state.output_on);
  EXPECT_FALSE(state.shutdown_active || state.restore_pending);
}

TEST(SimStateTest, UtilityReturnBeforeSwitchOffKeepsShutdownPending) {
  SimState state;
  state.SetUtilityFail(true);
  state.ScheduleShutdown(0, 10000, -1);
  state.SetUtilityFail(false);
  EXPECT_TRUE(state.shutdown_active);
  state.AdvanceTimers(10000);
  EXPECT_FALSE(state.output_on);
  state.SetUtilityFail(true);
  state.SetUtilityFail(false);
  EXPECT_TRUE(state.output_on);
}

}  // namespace

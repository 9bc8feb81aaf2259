#include "service/event_detector.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using Events = std::vector<int32_t>;

// A pass in contact with the unit.
StatusSnapshot Pass(int32_t power_fail, int32_t battery_low = 0,
                    int32_t load = 3000, int32_t temperature = 3000) {
  StatusSnapshot pass;
  pass.valid = true;
  pass.value[StatusSnapshot::kSlotConnected] = 1;
  pass.value[StatusSnapshot::kSlotPowerFail] = power_fail;
  pass.value[StatusSnapshot::kSlotBatteryLow] = battery_low;
  pass.value[StatusSnapshot::kSlotLoad] = load;
  pass.value[StatusSnapshot::kSlotTemperature] = temperature;
  return pass;
}

class EventDetectorTest : public ::testing::Test {
 protected:
  EventDetectorTest() : detector_(TwoPasses()) {
    Feed(Pass(0));
    Feed(Pass(0));  // in contact, utility present
  }

  static EventThresholds TwoPasses() {
    EventThresholds thresholds;
    thresholds.confirm_passes = 2;
    return thresholds;
  }

  Events Feed(const StatusSnapshot& pass) {
    Events events;
    detector_.Feed(pass, &events);
    return events;
  }

  EventDetector detector_;
};

TEST_F(EventDetectorTest, ChangesCountAfterTwoAgreeingPassesAndFlappingNever) {
  EXPECT_EQ(Events{}, Feed(Pass(1)));
  EXPECT_EQ(Events{kEventPowerFailure}, Feed(Pass(1)));
  EXPECT_TRUE(detector_.on_battery());
  EXPECT_EQ(Events{}, Feed(Pass(0)));
  EXPECT_EQ(Events{kEventPowerRestore}, Feed(Pass(0)));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Events{}, Feed(Pass(i % 2, i % 2, 9000 + 2000 * (i % 2))));
  }
  EXPECT_FALSE(detector_.on_battery());
}

TEST_F(EventDetectorTest, LoadAndTemperatureHaveHysteresis) {
  const struct {
    int32_t load;
    int32_t temperature;
    Events events;
  } kSteps[] = {
      {10000, 4000, {}},  // at the limit is not above it
      {10100, 4100, {}},
      {10100, 4100, {kEventOverload, kEventTemperatureHigh}},
      {9600, 3900, {}},  // below the "on" limit, above the "off" limit
      {9600, 3900, {}},
      {9400, 3700, {}},
      {9400, 3700, {kEventLoadRecovered, kEventTemperatureRecovered}},
  };
  for (const auto& step : kSteps) {
    EXPECT_EQ(step.events, Feed(Pass(0, 0, step.load, step.temperature)))
        << step.load;
  }
}

TEST_F(EventDetectorTest, LostContactKeepsTheOtherStates) {
  StatusSnapshot lost;  // no pass at all
  EXPECT_EQ(Events{}, Feed(lost));
  EXPECT_EQ(Events{kEventCommunicationLost}, Feed(lost));
  Feed(Pass(1, 1));
  EXPECT_EQ((Events{kEventCommunicationEstablished, kEventPowerFailure,
                    kEventBatteryLow}),
            Feed(Pass(1, 1)));
  // An agent that says it has no unit, then says so with error 8.
  StatusSnapshot unplugged = Pass(1, 1);
  unplugged.value[StatusSnapshot::kSlotConnected] = 0;
  StatusSnapshot error8 = Pass(1, 1);
  error8.error[StatusSnapshot::kSlotConnected] = 8;
  EXPECT_EQ(Events{}, Feed(unplugged));
  EXPECT_EQ(Events{kEventCommunicationLost}, Feed(error8));
  EXPECT_TRUE(detector_.battery_low());
  // Back in contact with the utility restored: only the real changes.
  Feed(Pass(0, 0));
  EXPECT_EQ((Events{kEventCommunicationEstablished, kEventPowerRestore,
                    kEventBatteryRecovered}),
            Feed(Pass(0, 0)));
}

}  // namespace

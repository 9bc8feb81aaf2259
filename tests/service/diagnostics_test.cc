#include "service/diagnostics.h"

#include <gtest/gtest.h>

#include "service/event_detector.h"

namespace {

TEST(DiagnosticsTest, JournalPrefixFollowsTheLevel) {
  EXPECT_EQ("<2>kovrad: shutting down",
            FormatDiagLine(DiagLevel::kCritical, true, "shutting down"));
  EXPECT_EQ("<6>kovrad: x", FormatDiagLine(DiagLevel::kInfo, true, "x"));
  EXPECT_EQ("kovrad: x", FormatDiagLine(DiagLevel::kCritical, false, "x"));
}

TEST(DiagnosticsTest, PowerFailureAndLowBatteryAreWarnings) {
  EXPECT_EQ(DiagLevel::kWarning, EventDiagLevel(kEventPowerFailure));
  EXPECT_EQ(DiagLevel::kWarning, EventDiagLevel(kEventBatteryLow));
  EXPECT_EQ(DiagLevel::kInfo, EventDiagLevel(kEventPowerRestore));
  EXPECT_EQ(DiagLevel::kInfo, EventDiagLevel(kEventServiceStarted));
}

}  // namespace

#include "service/http/status_view_adapter.h"

#include <gtest/gtest.h>

#include "service/http/metrics_format.h"

namespace {

TEST(StatusViewAdapterTest, CopiesReadingsErrorsAndTimes) {
  StatusSnapshot pass;
  pass.valid = true;
  pass.taken_ms = 5000;
  pass.value[StatusSnapshot::kSlotInputVoltage] = 23050;
  pass.value[StatusSnapshot::kSlotPowerFail] = 1;
  pass.value[StatusSnapshot::kSlotConnected] = 1;
  pass.error[StatusSnapshot::kSlotTemperature] = 8;
  StatusView view;
  view.model = "kept";
  FillStatusView(pass, 1796000000000, &view);
  EXPECT_TRUE(view.Connected());
  EXPECT_TRUE(view.Flag(kItemPowerFail));
  int32_t value = 0;
  EXPECT_TRUE(view.Get(kItemInputVoltage, &value));
  EXPECT_EQ(23050, value);
  EXPECT_FALSE(view.Get(kItemTemperature, &value));
  EXPECT_EQ(8, view.items[kItemTemperature].error);
  EXPECT_EQ(5000, view.taken_monotonic_ms);
  EXPECT_EQ(1796000000000, view.taken_unix_ms);
  EXPECT_EQ("kept", view.model);
}

TEST(StatusViewAdapterTest, PassBeforeTheFirstIsNotShownAsReadings) {
  StatusSnapshot pass;  // not valid: all slots 0 with no error
  StatusView view;
  FillStatusView(pass, 0, &view);
  int32_t value = 0;
  EXPECT_FALSE(view.Get(kItemInputVoltage, &value));
  EXPECT_EQ(std::string::npos,
            FormatMetrics(view, 0).find("kovra_ups_input_voltage_volts"));
}

}  // namespace

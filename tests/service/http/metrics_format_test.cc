#include "service/http/metrics_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

#include "tests/service/http/view_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

bool Has(const std::string& text, const std::string& line) {
  return text.find("\n" + line + "\n") != std::string::npos ||
         text.compare(0, line.size() + 1, line + "\n") == 0;
}

TEST(ScaledDecimalTest, WritesExactDecimalsWithoutTrailingZeros) {
  EXPECT_EQ("230.5", ScaledDecimal(23050, 100));
  EXPECT_EQ("0.985", ScaledDecimal(9850, 10000));
  EXPECT_EQ("12", ScaledDecimal(12, 1));
  EXPECT_EQ("1", ScaledDecimal(100, 100));
  EXPECT_EQ("-0.05", ScaledDecimal(-5, 100));
  EXPECT_EQ("0", ScaledDecimal(0, 100));
  EXPECT_EQ("0.001", ScaledDecimal(1, 1000));
}

TEST(ScaledDecimalTest, NoOverflowOnMostNegativeValue) {
  EXPECT_EQ("-92233720368547758.08",
            ScaledDecimal(std::numeric_limits<int64_t>::min(), 100));
}

TEST(MetricsFormatTest, WritesEveryValueInBaseUnitsWithHelpAndType) {
  std::string text = FormatMetrics(OnLineView(), 11500);
  EXPECT_TRUE(Has(text, "# TYPE kovra_ups_input_voltage_volts gauge"));
  EXPECT_TRUE(Has(text, "kovra_ups_input_voltage_volts 230.5"));
  EXPECT_TRUE(Has(text, "kovra_ups_output_voltage_volts 229.9"));
  EXPECT_TRUE(Has(text, "kovra_ups_battery_capacity_ratio 0.985"));
  EXPECT_TRUE(Has(text, "kovra_ups_load_ratio 0.3725"));
  EXPECT_TRUE(Has(text, "kovra_ups_temperature_celsius 31.2"));
  EXPECT_TRUE(Has(text, "kovra_ups_output_frequency_hertz 50.05"));
  EXPECT_TRUE(Has(text, "kovra_ups_battery_runtime_seconds 1380"));
  EXPECT_TRUE(Has(text, "kovra_ups_on_battery 0"));
  EXPECT_TRUE(Has(text, "kovra_ups_battery_low 0"));
  EXPECT_TRUE(Has(text, "kovra_ups_test_active 0"));
  EXPECT_TRUE(Has(text, "kovra_ups_connected 1"));
  EXPECT_TRUE(Has(text, "kovra_snapshot_timestamp_seconds 1796000000.25"));
  EXPECT_TRUE(Has(text, "kovra_snapshot_age_seconds 1.5"));
  EXPECT_TRUE(
      Has(text, "kovra_ups_info{model=\"Model 1500\",firmware=\"2.0b\"} 1"));
  EXPECT_TRUE(Has(text, "kovra_ups_rated_output_voltage_volts 230"));
  EXPECT_TRUE(Has(text, "kovra_ups_rated_apparent_power_voltamperes 1500"));
  EXPECT_EQ(std::string::npos, text.find("rated_power_watts"));
  EXPECT_TRUE(Has(text, "# TYPE kovra_agent_restarts_total counter"));
  EXPECT_TRUE(Has(text, "kovra_agent_restarts_total 2"));
  EXPECT_TRUE(Has(text, "# TYPE kovra_events_total counter"));
  EXPECT_TRUE(
      Has(text, "kovra_events_total{code=\"4\",event=\"power_failure\"} 3"));
  EXPECT_TRUE(
      Has(text,
          "kovra_events_total{code=\"11\",event=\"temperature_recovered\"} 0"));
  // Every sample's family has its HELP and TYPE lines right before it.
  EXPECT_EQ('\n', text.back());
}

TEST(MetricsFormatTest, FlagsAreZeroOrOneWhateverTheUnitSent) {
  StatusView view = OnLineView();
  view.items[kItemPowerFail].value = 1;
  view.items[kItemBatteryLow].value = 7;
  std::string text = FormatMetrics(view, 10000);
  EXPECT_TRUE(Has(text, "kovra_ups_on_battery 1"));
  EXPECT_TRUE(Has(text, "kovra_ups_battery_low 1"));
}

TEST(MetricsFormatTest, LeavesOutValuesTheUnitDidNotReport) {
  StatusView view = OnLineView();
  view.items[kItemTemperature] = {false, 0, 8};
  std::string text = FormatMetrics(view, 10000);
  EXPECT_EQ(std::string::npos, text.find("kovra_ups_temperature"));
  EXPECT_TRUE(Has(text, "kovra_ups_load_ratio 0.3725"));
}

TEST(MetricsFormatTest, BeforeAnyPassOnlyTheServiceCounters) {
  StatusView view;
  std::string text = FormatMetrics(view, 10000);
  EXPECT_TRUE(Has(text, "kovra_ups_connected 0"));
  EXPECT_EQ(std::string::npos, text.find("input_voltage"));
  EXPECT_EQ(std::string::npos, text.find("snapshot"));
  EXPECT_EQ(std::string::npos, text.find("kovra_ups_info"));
  EXPECT_TRUE(Has(text, "kovra_agent_restarts_total 0"));
}

TEST(MetricsFormatTest, NegativeAgeAfterClockMixUpIsZero) {
  std::string text = FormatMetrics(OnLineView(), 0);
  EXPECT_TRUE(Has(text, "kovra_snapshot_age_seconds 0"));
}

TEST(MetricsFormatTest, ModelTextCannotBreakTheExposition) {
  StatusView view = OnLineView();
  view.model = "A\"B\\C\nkovra_fake 1";
  std::string text = FormatMetrics(view, 10000);
  EXPECT_TRUE(Has(text,
                  "kovra_ups_info{model=\"A\\\"B\\\\C\\nkovra_fake 1\","
                  "firmware=\"2.0b\"} 1"));
  EXPECT_FALSE(Has(text, "kovra_fake 1"));
}

// promtool (Debian's prometheus package) lints the exposition: names, units,
// HELP and TYPE lines, counter suffixes.
TEST(MetricsFormatTest, PromtoolFindsNothingToReport) {
#ifndef PROMTOOL_PATH
  GTEST_SKIP() << "promtool is not installed";
#else
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  StatusView full = OnLineView();
  full.ratings[kRatingFrequencyLow] = {true, 4700, 0};
  full.ratings[kRatingFrequencyHigh] = {true, 5300, 0};
  full.ratings[kRatingPower] = {true, 90000, 0};
  for (const StatusView& view : {full, StatusView()}) {
    std::string input = dir.Join("metrics.txt");
    std::string output = dir.Join("promtool.txt");
    {
      std::ofstream file(input, std::ios::binary);
      file << FormatMetrics(view, 12000);
    }
    std::string command = std::string(PROMTOOL_PATH) + " check metrics < " +
                          input + " > " + output + " 2>&1";
    int status = std::system(command.c_str());
    std::ifstream result(output);
    std::string said((std::istreambuf_iterator<char>(result)),
                     std::istreambuf_iterator<char>());
    EXPECT_EQ(0, status) << said;
    EXPECT_EQ("", said);
  }
#endif
}

}  // namespace

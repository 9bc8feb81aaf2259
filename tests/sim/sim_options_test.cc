#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/p99_unit.h"

namespace {

class SimOptionsTest : public ::testing::Test {
 protected:
  bool Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "upssim");
    options_ = SimOptions();
    error_.clear();
    return ParseSimOptions(static_cast<int>(args.size()), args.data(),
                           &options_, &error_);
  }

  SimOptions options_;
  std::string error_;
};

TEST_F(SimOptionsTest, VoltageClassSetsRatingsAndExplicitValuesWin) {
  ASSERT_TRUE(Parse({"--link", "l", "--voltage-class", "3"})) << error_;
  EXPECT_EQ("p99", options_.protocol);
  EXPECT_EQ("650VA", options_.p99.model);
  EXPECT_EQ(0x10, options_.p99.registers[p99_register::kVoltageClass]);
  EXPECT_EQ(230, options_.p99.rated_voltage);
  EXPECT_EQ(50, options_.p99.rated_frequency);

  ASSERT_TRUE(Parse({"--voltage-class", "2", "--rated-voltage", "0xFF",
                     "--register", "0x29=8", "--register", "0x02=-3", "--link",
                     "l", "--speed", "30"}))
      << error_;
  EXPECT_EQ(255, options_.p99.rated_voltage);
  EXPECT_EQ(0x08, options_.p99.registers[0x29]);
  EXPECT_EQ(0xFD, options_.p99.registers[0x02]);
  EXPECT_EQ(30.0, options_.speed);

  // Decimal unless written with 0x (a leading 0 is no octal), and a sign
  // may come before the 0x.
  ASSERT_TRUE(Parse(
      {"--register", "010=-0x3", "--rated-voltage", "010", "--link", "l"}))
      << error_;
  EXPECT_EQ(0xFD, options_.p99.registers[10]);
  EXPECT_EQ(10, options_.p99.rated_voltage);
}

TEST_F(SimOptionsTest, BadCommandLinesAreRefused) {
  const std::vector<std::vector<const char*>> cases = {
      {},
      {"--link"},
      {"--link", "l", "extra"},
      {"--link", "l", "--model", "1000VA"},
      {"--link", "l", "--voltage-class", "4"},
      {"--link", "l", "--voltage-class", "1x"},
      {"--link", "l", "--rated-voltage", "256"},
      {"--link", "l", "--rated-frequency", "-1"},
      {"--link", "l", "--firmware", "123"},
      {"--link", "l", "--info", "123456789012345678901"},
      {"--link", "l", "--register", "0x02"},
      {"--link", "l", "--register", "256=1"},
      {"--link", "l", "--register", "2=300"},
      {"--link", "l", "--register", "2=99999999999999999999"},
      {"--link", "l", "--register", "0x=1"},
      {"--link", "l", "--register", "2=0x-3"},
      {"--link", "l", "--text-settings", "0x10,1,2,3"},
      {"--link", "l", "--speed", "nan"},
      {"--link", "l", "--colour", "red"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.empty() ? "(none)" : args.back());
    EXPECT_FALSE(Parse(args));
    EXPECT_FALSE(error_.empty());
  }
}

}  // namespace

#include "agent/protocol/t_commands.h"

#include <cstdint>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(TCommandsTest, EncodesSelfTests) {
  const struct {
    int32_t seconds;
    const char* expected;
  } cases[] = {
      {10, "T.1\r"},   {59, "T.9\r"},   {60, "T01\r"},   {119, "T01\r"},
      {7200, "T99\r"}, {0, "T.1\r"},    {-1, "CT\r"},    {-2, "T.1\r"},
      {-600, "T.1\r"}, {kMax, "T99\r"}, {kMin, "T.1\r"}, {5940, "T99\r"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, TestCommand(c.seconds)) << c.seconds;
  }
}

TEST(TCommandsTest, EncodesShutdowns) {
  const struct {
    int32_t delay;
    const char* expected;
  } cases[] = {
      {30, "S.5\r"},
      {5, "S.1\r"},
      {3600, "S10\r"},
      {120, "S02\r"},
      {-1, "C\r"},
      {0, "S.1\r"},
      {59, "S.9\r"},
      {kMax, "S10\r"},
      // Other negative delays take the shortest form, never "S-2".
      {-120, "S.1\r"},
      {kMin, "S.1\r"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, ShutdownCommand(c.delay)) << c.delay;
  }
}

TEST(TCommandsTest, EncodesShutdownsWithRestore) {
  const struct {
    int32_t delay;
    int32_t restore;
    const char* expected;
  } cases[] = {
      {120, 600, "S02R0012\r"},
      {30, 0, "S.5R0001\r"},
      {300, 300, "S05R0010\r"},
      {30, 1000000, "S.5R9999\r"},
      {-1, 600, "C\r"},
      // The sum of the two must not overflow, nor give a negative field.
      {kMax, kMax, "S10R9999\r"},
      {30, kMin, "S.5R0001\r"},
      {3600, -3600, "S10R0001\r"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, ShutdownRestoreCommand(c.delay, c.restore))
        << c.delay << " " << c.restore;
  }
}

TEST(TCommandsTest, EncodesNumberedSettings) {
  EXPECT_EQ("C4:05\r", SettingCommand(4, 5, 2));
  EXPECT_EQ("C2:230\r", SettingCommand(2, 230, 3));
  EXPECT_EQ("C2:1000\r", SettingCommand(2, 1000, 3));
  EXPECT_EQ("C7:1\r", SettingCommand(7, 1, 1));
  EXPECT_EQ("C7:2\r", SettingCommand(7, 2, 1));
  EXPECT_EQ("C1:-005\r", SettingCommand(1, -5, 3));
  EXPECT_EQ("C2:2147483647\r", SettingCommand(2, kMax, 3));
  EXPECT_EQ("C2:-2147483648\r", SettingCommand(2, kMin, 3));
}

}  // namespace

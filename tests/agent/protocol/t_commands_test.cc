#include "agent/protocol/t_commands.h"

#include <cstdint>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// Tenths of a minute below one, then whole minutes up to 99 (self-test) or
// 10 (shutdown); -1 cancels, other negative times take the shortest form.
TEST(TCommandsTest, EncodesSelfTestsAndShutdowns) {
  const struct {
    int32_t seconds;
    const char* test;
    const char* shutdown;
  } cases[] = {
      {0, "T.1\r", "S.1\r"},    {30, "T.5\r", "S.5\r"},
      {59, "T.9\r", "S.9\r"},   {119, "T01\r", "S01\r"},
      {3600, "T60\r", "S10\r"}, {kMax, "T99\r", "S10\r"},
      {-1, "CT\r", "C\r"},      {-120, "T.1\r", "S.1\r"},
      {kMin, "T.1\r", "S.1\r"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.test, TestCommand(c.seconds)) << c.seconds;
    EXPECT_EQ(c.shutdown, ShutdownCommand(c.seconds)) << c.seconds;
  }
}

// The restore field counts the delay and the restore time together; their
// sum must neither overflow nor go negative.
TEST(TCommandsTest, EncodesShutdownsWithRestore) {
  const struct {
    int32_t delay;
    int32_t restore;
    const char* expected;
  } cases[] = {
      {120, 600, "S02R0012\r"}, {30, 0, "S.5R0001\r"},
      {300, 300, "S05R0010\r"}, {30, 1000000, "S.5R9999\r"},
      {-1, 600, "C\r"},         {kMax, kMax, "S10R9999\r"},
      {30, kMin, "S.5R0001\r"}, {3600, -3600, "S10R0001\r"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, ShutdownRestoreCommand(c.delay, c.restore))
        << c.delay << " " << c.restore;
  }
}

// Zero-padded to the width; values wider than it are never cut.
TEST(TCommandsTest, EncodesNumberedSettings) {
  EXPECT_EQ("C4:05\r", SettingCommand(4, 5, 2));
  EXPECT_EQ("C1:-005\r", SettingCommand(1, -5, 3));
  EXPECT_EQ("C2:2147483647\r", SettingCommand(2, kMax, 3));
  EXPECT_EQ("C2:-2147483648\r", SettingCommand(2, kMin, 3));
}

}  // namespace

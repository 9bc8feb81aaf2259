#include "sim/simulator.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim/battery_model.h"
#include "sim/p99_unit.h"
#include "sim/sim_state.h"
#include "sim/wire_log.h"
#include "tests/support/temp_dir.h"

namespace {

class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest() {
    std::string error;
    EXPECT_TRUE(log_.Open(folder_.Join("wire.log"), &error)) << error;
  }

  std::string Send(const std::string& bytes) {
    return simulator_.OnLineBytes(
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1000,
        1700000000123);
  }

  bool LogHas(const std::string& line) {
    std::stringstream text;
    text << std::ifstream(folder_.Join("wire.log")).rdbuf();
    return text.str().find(line) != std::string::npos;
  }

  TempDir folder_;
  SimState state_;
  P99Unit unit_{P99UnitConfig(), &state_};
  BatteryModel battery_;
  WireLog log_;
  Simulator simulator_{&state_, &unit_, &battery_, &log_};
};

TEST_F(SimulatorTest, SilentLineDropsRequestsUnseenByUnit) {
  state_.silent = true;
  EXPECT_EQ("", Send(std::string("T\xFF\r", 3)));
  EXPECT_FALSE(state_.test_active);
  EXPECT_TRUE(LogHas(" dropped T<FF><0D>\n"));
  // Back on: the dropped bytes left nothing half-framed behind.
  state_.silent = false;
  EXPECT_EQ("B", Send("B\r"));
  EXPECT_TRUE(LogHas(" request B<0D>\n"));
  EXPECT_TRUE(LogHas(" answer B\n"));
}

TEST_F(SimulatorTest, GarbageChangesEveryAnswerByteButUnitStillActs) {
  state_.garbage = true;
  std::string answer = Send(std::string("T\x10\r", 3));
  ASSERT_EQ(2u, answer.size());
  EXPECT_TRUE(answer[0] != 'T' && answer[1] != '\x10');
  EXPECT_TRUE(state_.test_active);
  std::string frame = Send("D\r");
  ASSERT_EQ(14u, frame.size());
  EXPECT_TRUE(frame[0] != '#' && frame[13] != '\r');
}

TEST(WireLogTest, ReadableEscapesEverythingAmbiguousAndTimeHasMilliseconds) {
  EXPECT_EQ("D<0D>", WireLog::Readable("D\r"));
  EXPECT_EQ("<00><FF><3C>a b~<7F>",
            WireLog::Readable(std::string("\0\xFF<a b~\x7F", 8)));
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ("2023-11-14 22:13:20.123", WireLog::FormatTime(1700000000123));
  EXPECT_EQ("1969-12-31 23:59:59.999", WireLog::FormatTime(-1));
}

}  // namespace

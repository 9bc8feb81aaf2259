#include "sim/simulator.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim/battery_model.h"
#include "sim/p99_unit.h"
#include "sim/sim_state.h"
#include "sim/wire_log.h"

namespace {

class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest()
      : unit_(P99UnitConfig(), &state_),
        simulator_(&state_, &unit_, &battery_, &log_) {
    char pattern[] = "/tmp/upssim-log-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    log_path_ = pattern;
    std::string error;
    EXPECT_TRUE(log_.Open(log_path_, &error)) << error;
  }
  ~SimulatorTest() override { unlink(log_path_.c_str()); }

  std::string Send(const std::string& bytes) {
    return simulator_.OnLineBytes(
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now_,
        kWall);
  }

  std::string LogText() {
    std::ifstream in(log_path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static constexpr int64_t kWall = 1700000000123;
  SimState state_;
  P99Unit unit_;
  BatteryModel battery_;
  WireLog log_;
  Simulator simulator_;
  std::string log_path_;
  int64_t now_ = 1000;
};

TEST_F(SimulatorTest, AnswersAndLogsRequests) {
  EXPECT_EQ("B", Send("B\r"));
  std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find(" request B<0D>\n"));
  EXPECT_NE(std::string::npos, log.find(" answer B\n"));
}

TEST_F(SimulatorTest, SilentLineDropsRequestsUnseenByUnit) {
  state_.silent = true;
  EXPECT_EQ("", Send(std::string("T\xFF\r", 3)));
  EXPECT_FALSE(state_.test_active);
  EXPECT_NE(std::string::npos, LogText().find(" dropped T<FF><0D>\n"));
  // Back on: the dropped bytes left nothing half-framed behind.
  state_.silent = false;
  EXPECT_EQ("B", Send("B\r"));
}

TEST_F(SimulatorTest, GarbageChangesEveryAnswerByteButUnitStillActs) {
  state_.garbage = true;
  std::string answer = Send(std::string("T\x10\r", 3));
  ASSERT_EQ(2u, answer.size());
  EXPECT_NE('T', answer[0]);
  EXPECT_NE('\x10', answer[1]);
  EXPECT_TRUE(state_.test_active);
  std::string frame = Send("D\r");
  ASSERT_EQ(14u, frame.size());
  EXPECT_NE('#', frame[0]);
  EXPECT_NE('\r', frame[13]);
}

TEST_F(SimulatorTest, StrayBytesAreLoggedAsIgnored) {
  EXPECT_EQ("", Send(std::string("\0", 1)));
  EXPECT_NE(std::string::npos, LogText().find(" ignored <00>\n"));
}

TEST(WireLogTest, ReadableEscapesEverythingAmbiguous) {
  EXPECT_EQ("D<0D>", WireLog::Readable("D\r"));
  EXPECT_EQ("<00><FF><3C>a b~<7F>",
            WireLog::Readable(std::string("\0\xFF<a b~\x7F", 8)));
  EXPECT_EQ("", WireLog::Readable(""));
}

TEST(WireLogTest, TimeHasMilliseconds) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ("2023-11-14 22:13:20.123", WireLog::FormatTime(1700000000123));
  EXPECT_EQ("1969-12-31 23:59:59.999", WireLog::FormatTime(-1));
}

}  // namespace

#include "sim/p99_unit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/p99_encoder.h"
#include "sim/sim_state.h"

namespace {

class P99UnitTest : public ::testing::Test {
 protected:
  P99UnitTest() : unit_(config_, &state_) {}

  // Sends the bytes one at a time, 50 ms apart like the agent's writes, and
  // returns what the unit completed.
  std::vector<WireExchange> SendPaced(const std::string& bytes) {
    std::vector<WireExchange> exchanges;
    for (char c : bytes) {
      uint8_t byte = static_cast<uint8_t>(c);
      unit_.Receive(&byte, 1, now_, &exchanges);
      now_ += 50;
    }
    return exchanges;
  }

  // Sends a whole request and returns the single answer it must produce.
  std::string Ask(const std::string& request) {
    std::vector<WireExchange> exchanges = SendPaced(request);
    EXPECT_EQ(1u, exchanges.size()) << "request " << request.size();
    if (exchanges.size() != 1) return std::string();
    EXPECT_FALSE(exchanges[0].ignored);
    EXPECT_EQ(request, exchanges[0].request);
    return exchanges[0].answer;
  }

  P99UnitConfig config_;
  SimState state_;
  P99Unit unit_;
  int64_t now_ = 500000;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text.push_back(static_cast<char>(value));
  return text;
}

TEST_F(P99UnitTest, StatusFrameHasMarkersComplementsAndCr) {
  std::string frame = Ask("D\r");
  ASSERT_EQ(14u, frame.size());
  EXPECT_EQ('#', frame[0]);
  EXPECT_EQ('.', frame[4]);
  EXPECT_EQ('.', frame[8]);
  EXPECT_EQ(static_cast<char>(~frame[9]), frame[10]);
  EXPECT_EQ(static_cast<char>(~frame[11]), frame[12]);
  EXPECT_EQ('\r', frame[13]);
}

TEST_F(P99UnitTest, RegisterWriteIsEchoedAndReadBack) {
  EXPECT_EQ(Bytes({'R', 0x00}), Ask(Bytes({'R', 0x02, '\r'})));
  EXPECT_EQ(Bytes({'Q', 0x02, 0xFD}), Ask(Bytes({'Q', 0x02, 0xFD, '\r'})));
  EXPECT_EQ(Bytes({'R', 0xFD}), Ask(Bytes({'R', 0x02, '\r'})));
  EXPECT_EQ(0xFD, unit_.Register(0x02));
}

TEST_F(P99UnitTest, BatteryLowLevelFollowsItsRegister) {
  // BL1: code 0 is 28 percent, code 3 is 34.
  EXPECT_EQ(28.0, state_.battery_low_level_percent);
  Ask(Bytes({'Q', 0x08, 0x03, '\r'}));
  EXPECT_EQ(34.0, state_.battery_low_level_percent);
}

TEST_F(P99UnitTest, SelfTestKeepsFlagOnForItsTicks) {
  // 0x4C = 76 ticks of 131 ms.
  EXPECT_EQ(Bytes({'T', 0x4C}), Ask(Bytes({'T', 0x4C, '\r'})));
  EXPECT_TRUE(state_.test_active);
  int64_t started = now_ - 50;  // the CR arrived one gap ago
  state_.AdvanceTimers(started + 76 * 131 - 1);
  EXPECT_TRUE(state_.test_active);
  state_.AdvanceTimers(started + 76 * 131);
  EXPECT_FALSE(state_.test_active);
}

TEST_F(P99UnitTest, ShutdownWithRestoreRunsItsTimeline) {
  // 458 ticks to switch-off, 27938 ticks from now to the restore.
  std::string request = Bytes({'S', 0x01, 0xCA, 'R', 0x00, 0x6D, 0x22, '\r'});
  EXPECT_EQ(request.substr(0, 7), Ask(request));
  int64_t at = now_ - 50;
  EXPECT_TRUE(state_.shutdown_active);
  EXPECT_TRUE(state_.output_on);
  state_.AdvanceTimers(at + 458 * 131);
  EXPECT_FALSE(state_.output_on);
  state_.AdvanceTimers(at + 27938 * 131 - 1);
  EXPECT_FALSE(state_.output_on);
  state_.AdvanceTimers(at + 27938 * 131);
  EXPECT_TRUE(state_.output_on);
  EXPECT_FALSE(state_.shutdown_active);
}

TEST_F(P99UnitTest, ShutdownWithoutRestoreWaitsForUtility) {
  std::string request = Bytes({'S', 0x00, 0x0A, 'W', '\r'});
  EXPECT_EQ(request.substr(0, 4), Ask(request));
  state_.SetUtilityFail(true);
  state_.AdvanceTimers(now_ + 10 * 131);
  EXPECT_FALSE(state_.output_on);
  state_.AdvanceTimers(now_ + 100000000);
  EXPECT_FALSE(state_.output_on);
  state_.SetUtilityFail(false);
  EXPECT_TRUE(state_.output_on);
  EXPECT_FALSE(state_.shutdown_active);
}

TEST_F(P99UnitTest, CancelShutdownAndCancelCommandEcho) {
  Ask(Bytes({'S', 0x00, 0x01, 'W', '\r'}));
  EXPECT_EQ("CS", Ask("CS\r"));
  EXPECT_FALSE(state_.shutdown_active);
  Ask(Bytes({'T', 0x10, '\r'}));
  EXPECT_EQ("B", Ask("B\r"));
  EXPECT_FALSE(state_.test_active);
}

TEST_F(P99UnitTest, CrInsideArgumentsDoesNotEndRequest) {
  // A delay of 0x0D0D ticks puts two CR bytes inside the request.
  std::string request = Bytes({'S', 0x0D, 0x0D, 'W', '\r'});
  EXPECT_EQ(request.substr(0, 4), Ask(request));
  EXPECT_EQ(Bytes({'Q', 0x0D, 0x0D}), Ask(Bytes({'Q', 0x0D, 0x0D, '\r'})));
}

TEST_F(P99UnitTest, WakeUpGetsNoAnswer) {
  std::vector<WireExchange> exchanges = SendPaced("\r\r");
  ASSERT_EQ(2u, exchanges.size());
  EXPECT_TRUE(exchanges[0].answer.empty());
  EXPECT_FALSE(exchanges[0].ignored);
}

TEST_F(P99UnitTest, StrayBytesAreIgnoredAndFramingRecovers) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"port scan zero byte", Bytes({0x00}) + "D\r"},
      {"unknown letter", "xyz" + std::string("D\r")},
      {"letter without its CR", "DD\r"},
      {"bad cancel", "CX" + std::string("D\r")},
      {"shutdown with a bad kind byte", Bytes({'S', 1, 2, 'X'}) + "D\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<WireExchange> exchanges = SendPaced(c.bytes);
    ASSERT_FALSE(exchanges.empty());
    for (size_t i = 0; i + 1 < exchanges.size(); ++i) {
      EXPECT_TRUE(exchanges[i].ignored);
      EXPECT_TRUE(exchanges[i].answer.empty());
    }
    EXPECT_EQ("D\r", exchanges.back().request);
    EXPECT_EQ(14u, exchanges.back().answer.size());
  }
}

TEST_F(P99UnitTest, StalePartialRequestIsDropped) {
  // A "T" left alone (an agent that died mid-write) must not combine with
  // the next agent's status query into a self-test.
  std::vector<WireExchange> exchanges = SendPaced("T");
  EXPECT_TRUE(exchanges.empty());
  now_ += P99Unit::kStaleRequestMs + 1;
  exchanges = SendPaced("D\r");
  ASSERT_EQ(2u, exchanges.size());
  EXPECT_TRUE(exchanges[0].ignored);
  EXPECT_EQ("T", exchanges[0].request);
  EXPECT_EQ(14u, exchanges[1].answer.size());
  EXPECT_FALSE(state_.test_active);
}

TEST(P99UnitConfigTest, VoltageClassFollowsRegisterAndRatings) {
  P99UnitConfig config;
  config.model = "TM3000E";
  config.registers[p99_register::kVoltageClass] = VoltageClassCode(3);
  config.rated_voltage = 230;
  config.rated_frequency = 50;
  SimState state;
  P99Unit unit(config, &state);
  EXPECT_EQ(32, unit.model_index());
  EXPECT_EQ(230.0, state.input_volts);
  EXPECT_EQ(50.0, state.frequency_hertz);
  EXPECT_EQ(3600, state.backup_scale_seconds);
  EXPECT_EQ(3, VoltageClassOfCode(VoltageClassCode(3)));
  EXPECT_EQ(0, VoltageClassOfCode(0x08));
}

}  // namespace

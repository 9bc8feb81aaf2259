// The agent's dispatcher serving a contact unit: the command lines the UPS
// service sends, answered by a PcProtocol on scripted modem lines.

#include <memory>
#include <string>
#include <vector>

#include "agent/device.h"
#include "agent/media/i_media.h"
#include "agent/protocol/pc_protocol.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_pipe.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/scripted_media.h"

namespace {

class PcProtocolDeviceTest : public ::testing::Test {
 protected:
  PcProtocolDeviceTest() {
    media_.AttachClock(&clock_);
    media_.SetType(2);
    media_.SetIndex(1);
    SetUnit(pin::kDcd | pin::kCts, pin::kDcd | pin::kCts);
    device_ = std::make_unique<Device>(&platform_, 2, 1, &clock_);
    pipe_ = new FakePipe(&clock_);
    protocol_ = new PcProtocol(&media_, &clock_);
    device_->Attach(pipe_, protocol_);
  }

  // The unit's lines while fed by RTS, and under break.
  void SetUnit(int32_t fed, int32_t under_break) {
    media_.SetLineModel([fed, under_break](int32_t driven, int) {
      if (driven & pin::kBreak) return under_break;
      return (driven & pin::kRts) ? fed : 0;
    });
  }

  // Sends one line and returns the one reply line.
  std::string Exchange(const std::string& line) {
    const size_t before = pipe_->Lines().size();
    pipe_->AddInput(line + "\n");
    device_->ProcessCommand(3000);
    const std::vector<std::string> lines = pipe_->Lines();
    EXPECT_EQ(before + 1, lines.size()) << "for line '" << line << "'";
    return lines.size() > before ? lines.back() : "<no reply>";
  }

  FakeClock clock_;
  ScriptedMedia media_;  // outlives the device, as the factory's would
  FakePlatformFactory platform_;
  std::unique_ptr<Device> device_;
  FakePipe* pipe_ = nullptr;        // owned by the device
  PcProtocol* protocol_ = nullptr;  // owned by the device
};

TEST_F(PcProtocolDeviceTest, ServesIdentificationAndFixedFacts) {
  const char* const exchanges[][2] = {
      {"R12", "R12 Generic UPS"},
      {"R22", "R22 1"},
      {"R21", "R21 0"},
      {"S12", "S12 1"},
      {"S10", "S10 0"},
      {"R24", "R24 1"},
      {"S0", "S0E 1"},
      {"C0 10", "C0E 1"},
  };
  for (const auto& exchange : exchanges) {
    EXPECT_EQ(Exchange(exchange[0]), exchange[1]);
  }
}

TEST_F(PcProtocolDeviceTest, ServesTheAlarmsOfTheLastPoll) {
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Exchange("S7"), "S7 0");
  EXPECT_EQ(Exchange("S8"), "S8 0");

  // Mains and battery both gone while the unit still answers under break.
  SetUnit(0, pin::kDcd | pin::kCts);
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Exchange("S7"), "S7 1");
  EXPECT_EQ(Exchange("S8"), "S8 1");
}

TEST_F(PcProtocolDeviceTest, ShutdownCommandBlocksForItsLineSequence) {
  EXPECT_EQ(Exchange("C2 -1"), "C2E 1");
  EXPECT_EQ(media_.driven_pins() & pin::kDtr, 0);

  clock_.ClearPauses();
  EXPECT_EQ(Exchange("C2 30"), "C2");
  EXPECT_EQ(clock_.pauses(), (std::vector<int32_t>{5000, 4000, 15000}));
  EXPECT_EQ(media_.driven_pins() & pin::kDtr, pin::kDtr);
}

}  // namespace

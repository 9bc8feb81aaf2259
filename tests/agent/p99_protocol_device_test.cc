// Detection of a P99 unit through the protocol factory, then the agent's
// dispatcher serving the UPS service's command lines from the P99Protocol.

#include <memory>
#include <string>
#include <vector>

#include "agent/device.h"
#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/protocol_factory.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_p99_unit.h"
#include "tests/support/fake_pipe.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/scripted_media.h"

namespace {

class P99ProtocolDeviceTest : public ::testing::Test {
 protected:
  P99ProtocolDeviceTest() {
    platform_.SetDeviceList({"0.0.None", "1.0.Auto", "2.1.ttyS0"});
    media_ = new ScriptedMedia;  // handed to the protocol factory
    media_->AttachClock(&clock_);
    unit_.AttachTo(media_);
    platform_.AddMedia(2, 1, media_);
    factory_ = std::make_unique<ProtocolFactory>(&platform_, &clock_);
  }

  // Detects, polls once as the main loop would, and attaches the protocol
  // to a device with a fake pipe.
  void DetectAndAttach() {
    IProtocol* protocol = factory_->Create(media_type::kAutomatic, 0);
    ASSERT_NE(protocol, nullptr);
    ASSERT_NE(dynamic_cast<P99Protocol*>(protocol), nullptr);
    ASSERT_EQ(protocol->Poll(), 0);
    device_ = std::make_unique<Device>(&platform_, 1, 0, &clock_);
    pipe_ = new FakePipe(&clock_);
    device_->Attach(pipe_, protocol);
  }

  std::string Exchange(const std::string& line) {
    const size_t before = pipe_->Lines().size();
    pipe_->AddInput(line + "\n");
    device_->ProcessCommand(3000);
    const std::vector<std::string> lines = pipe_->Lines();
    EXPECT_EQ(before + 1, lines.size()) << "for line '" << line << "'";
    return lines.size() > before ? lines.back() : "<no reply>";
  }

  // Declared so that the device (and its protocol) goes first, then the
  // factory with the media, then the unit the media answers from.
  FakeClock clock_;
  FakeP99Unit unit_;
  FakePlatformFactory platform_;
  ScriptedMedia* media_ = nullptr;  // owned by the factory once created
  std::unique_ptr<ProtocolFactory> factory_;
  std::unique_ptr<Device> device_;
  FakePipe* pipe_ = nullptr;  // owned by the device
};

TEST_F(P99ProtocolDeviceTest, DetectsTheUnitAndServesStatusReads) {
  DetectAndAttach();
  EXPECT_EQ(platform_.media_calls(),
            (std::vector<FakePlatformFactory::MediaCall>{{2, 1}}));
  EXPECT_EQ(Exchange("S0"), "S0 11500");
  EXPECT_EQ(Exchange("S3"), "S3 3030");
  EXPECT_EQ(Exchange("S6"), "S6 950");
  EXPECT_EQ(Exchange("S7"), "S7 0");
  EXPECT_EQ(Exchange("S12"), "S12 1");
}

TEST_F(P99ProtocolDeviceTest, ServesReadsWritesAndCommands) {
  unit_.rated_voltage = 230;
  DetectAndAttach();
  EXPECT_EQ(Exchange("R12"), "R12 650VA");
  EXPECT_EQ(Exchange("R16"), "R16 23000");
  EXPECT_EQ(Exchange("R0 0"), "R0 136");
  EXPECT_EQ(Exchange("R3 1"), "R3 120");
  EXPECT_EQ(Exchange("R8"), "R8 131,132,133,134,135,136,137,138,139,140,141");
  EXPECT_EQ(Exchange("R19"), "R19E 1");

  EXPECT_EQ(Exchange("W0 140"), "W0");
  EXPECT_EQ(unit_.registers[0x02], 0x04);
  EXPECT_EQ(Exchange("R0 0"), "R0 140");
  EXPECT_EQ(Exchange("W0 142"), "W0E 14");
  EXPECT_EQ(Exchange("W7 1"), "W7E 1");

  unit_.ClearRequests();
  EXPECT_EQ(Exchange("C0 10"), "C0");
  EXPECT_EQ(Exchange("C2 8586"), "C2E 4");
  EXPECT_EQ(Exchange("C3"), "C3");
  ASSERT_EQ(unit_.requests().size(), 2u);
  EXPECT_EQ(unit_.requests()[0], (FakeP99Unit::Bytes{'T', 0x4C, '\r'}));
  EXPECT_EQ(unit_.requests()[1], (FakeP99Unit::Bytes{'B', '\r'}));
}

}  // namespace

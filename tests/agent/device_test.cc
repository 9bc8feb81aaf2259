#include "agent/device.h"

#include <string>
#include <vector>

#include "agent/protocol/result_codes.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_pipe.h"
#include "tests/support/fake_platform_factory.h"

namespace {

// Reading command lines from the pipe within a budget and writing the one
// reply; what the replies say is the dispatcher's (command_dispatcher_test).
// The device has no protocol here, so protocol commands answer E 1.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_.reset(new Device(&platform_, 0, 0, &clock_));
    pipe_ = new FakePipe(&clock_);
    device_->AttachPipe(pipe_);
  }

  // Sends one line (a newline is added) and returns the one reply line.
  std::string Exchange(const std::string& line) {
    size_t before = pipe_->Lines().size();
    pipe_->AddInput(line + "\n");
    last_code_ = device_->ProcessCommand(3000);
    std::vector<std::string> lines = pipe_->Lines();
    EXPECT_EQ(before + 1, lines.size()) << "for line '" << line << "'";
    return lines.size() > before ? lines.back() : "<no reply>";
  }

  FakeClock clock_;
  FakePlatformFactory platform_;
  std::unique_ptr<Device> device_;
  FakePipe* pipe_ = nullptr;
  int32_t last_code_ = -1;
};

TEST_F(DeviceTest, BudgetCoversTheWholeLineNotEachByte) {
  // One byte per second against a budget of 1500 ms: the second byte still
  // fits, the third does not, and the next call completes the line.
  pipe_->AddInput("S");
  pipe_->AddInput("0", 1000);
  pipe_->AddInput("\n", 1000);
  EXPECT_EQ(result::kTimeout, device_->ProcessCommand(1500));
  EXPECT_EQ((std::vector<uint32_t>{1500, 1500, 500}), pipe_->read_limits());
  EXPECT_EQ(result::kNotSupported, device_->ProcessCommand(1500));
  EXPECT_EQ("S0E 1\n", pipe_->written());
}

TEST_F(DeviceTest, OverlongLineGetsOneReplyAndNoCall) {
  EXPECT_EQ("W0E 16", Exchange("W0 " + std::string(400, '1')));
  EXPECT_EQ(result::kMalformedArgument, last_code_);
  // The next line is read from a clean buffer, and a line of exactly the
  // buffer's size is still dispatched (no protocol: E 1, not E 16).
  EXPECT_EQ("W0E 1",
            Exchange("W0 1" + std::string(Device::kMaxLineLength - 4, ' ')));
  EXPECT_EQ("W0E 16",
            Exchange("W0 1" + std::string(Device::kMaxLineLength - 3, ' ')));
}

TEST_F(DeviceTest, OverlongLineAcrossTimeOutsGetsExactlyOneReply) {
  pipe_->AddInput(std::string(200, 'S'));
  pipe_->AddInput(std::string(200, 'S'), 5000);
  pipe_->AddInput("\nS1\n");
  EXPECT_EQ(result::kTimeout, device_->ProcessCommand(3000));
  EXPECT_EQ(result::kMalformedArgument, device_->ProcessCommand(3000));
  EXPECT_EQ(result::kNotSupported, device_->ProcessCommand(3000));
  EXPECT_EQ((std::vector<std::string>{"S-1E 16", "S1E 1"}), pipe_->Lines());
}

TEST_F(DeviceTest, PipeFailuresReturn15) {
  pipe_->AddReadError();
  EXPECT_EQ(result::kPipeClosed, device_->ProcessCommand(3000));
  pipe_->AddInput("S0\n");
  pipe_->FailWrites(true);
  EXPECT_EQ(result::kPipeClosed, device_->ProcessCommand(3000));
  pipe_->FailWrites(false);
  pipe_->AddInput("S0\n");
  pipe_->ShortenNextWrite(2);
  EXPECT_EQ(result::kPipeClosed, device_->ProcessCommand(3000));
  EXPECT_EQ(result::kPipeClosed, device_->ProcessCommand(3000));  // end
}

}  // namespace

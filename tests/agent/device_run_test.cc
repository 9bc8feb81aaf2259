#include <deque>
#include <string>
#include <vector>

#include "agent/device.h"
#include "agent/protocol/protocol_factory.h"
#include "agent/protocol/result_codes.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_pipe.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/fake_protocol.h"

namespace {

using Log = std::vector<std::string>;
using Limits = std::vector<uint32_t>;

// A protocol factory that hands out the protocols a test queued, logging
// every Create with its selection; with the queue empty it yields null.
class QueuedProtocolFactory final : public ProtocolFactory {
 public:
  QueuedProtocolFactory(PlatformFactory* platform, Clock* clock, Log* log)
      : ProtocolFactory(platform, clock), log_(log) {}
  ~QueuedProtocolFactory() override {
    for (IProtocol* protocol : queue_) protocol->Release();
  }

  FakeProtocol* Queue(const std::string& name) {
    queue_.push_back(new FakeProtocol(log_, name));
    return queue_.back();
  }

  IProtocol* Create(int32_t media_type, int32_t media_index) override {
    log_->push_back("create " + std::to_string(media_type) + " " +
                    std::to_string(media_index));
    if (queue_.empty()) return nullptr;
    IProtocol* protocol = queue_.front();
    queue_.pop_front();
    return protocol;
  }

 private:
  Log* log_;
  std::deque<FakeProtocol*> queue_;
};

class DeviceRunTest : public ::testing::Test {
 protected:
  DeviceRunTest() : protocols_(&platform_, &clock_, &log_) {
    pipe_ = new FakePipe(&clock_);
    platform_.SetPipe(pipe_);
  }

  void Run(int32_t media_type = 2, int32_t media_index = 1) {
    device_.reset(new Device(&platform_, media_type, media_index, &clock_));
    device_->RunWith(0, 1, &protocols_);
  }

  FakeClock clock_;
  FakePlatformFactory platform_;
  Log log_;
  QueuedProtocolFactory protocols_;
  FakePipe* pipe_;  // owned by the device once the run has started
  std::unique_ptr<Device> device_;
};

TEST_F(DeviceRunTest, SteadyCommandsDoNotDelayThePoll) {
  FakeProtocol* protocol = protocols_.Queue("p1");
  auto record = protocol->record();
  protocol->SetAnswer("GetLoad", result::kSuccess, 10);
  // The first poll comes before the first command. A command every 1000 ms:
  // the third of each period arrives as the period ends, and the poll
  // follows it at once.
  for (int i = 0; i < 6; ++i) pipe_->AddInput("S3\n", 1000);
  Run();
  EXPECT_EQ((Log{"Poll", "GetLoad", "GetLoad", "GetLoad", "Poll", "GetLoad",
                 "GetLoad", "GetLoad", "Poll"}),
            record->calls);
  EXPECT_EQ(6u, pipe_->Lines().size());
}

TEST_F(DeviceRunTest, FailedPollRestartsDetection) {
  protocols_.Queue("p1")->QueuePolls({0, result::kNoAnswer});
  FakeProtocol* second = protocols_.Queue("p2");
  auto second_record = second->record();
  second->QueuePolls({result::kNoAnswer, 0});
  for (int i = 0; i < 3; ++i) pipe_->AddTimeout();
  Run(1, 0);
  // The old protocol is gone before the factory is asked again; the new
  // one's first poll is ignored and the next comes a period later.
  EXPECT_EQ((Log{"create 1 0", "p1 deleted", "create 1 0", "p2 deleted"}),
            log_);
  EXPECT_EQ(3, second_record->poll_count);
  EXPECT_EQ((Limits{3000, 3000, 3000, 3000}), pipe_->read_limits());
}

TEST_F(DeviceRunTest, Result18PollsAtOnceAnd20RestartsWithTheSelection) {
  FakeProtocol* protocol = protocols_.Queue("p1");
  auto record = protocol->record();
  protocol->SetAnswer("GetInputVoltage", result::kTimeout);
  protocol->SetAnswer("StartTest", result::kMediaChanged);
  protocols_.Queue("p2")->SetMedia(2, 1);
  auto third_record = protocols_.Queue("p3")->record();
  pipe_->AddInput("S0\nC0 10\nC4 0 0\n");
  Run(2, 1);
  EXPECT_EQ((Log{"Poll", "GetInputVoltage", "Poll", "StartTest 10"}),
            record->calls);
  EXPECT_EQ("S0E 18\nC0E 20\nC4E 20\n", pipe_->written());
  EXPECT_EQ((Log{"create 2 1", "p1 deleted", "create 2 1", "p2 deleted",
                 "create 0 0", "p3 deleted"}),
            log_);
  EXPECT_EQ(1, third_record->poll_count);
}

TEST_F(DeviceRunTest, RestartWithoutProtocolEndsTheLoop) {
  protocols_.Queue("p1")->SetDefaultPoll(result::kNoAnswer);
  pipe_->TimeOutWhenEmpty(true);
  Run();
  EXPECT_EQ((Log{"create 2 1", "p1 deleted", "create 2 1"}), log_);
  EXPECT_TRUE(pipe_->read_limits().empty());
}

TEST_F(DeviceRunTest, MissingPipeStillDeletesTheProtocolBeforeReturning) {
  platform_.SetPipe(nullptr);
  protocols_.Queue("p1");
  Run();
  // The protocol must be gone before the caller destroys the factory and
  // with it the media the protocol runs on.
  EXPECT_EQ((Log{"create 2 1", "p1 deleted"}), log_);
}

TEST_F(DeviceRunTest, FailedReplyWriteEndsTheLoop) {
  protocols_.Queue("p1");
  pipe_->AddInput("S0\nS1\n");
  pipe_->FailWrites(true);
  pipe_->TimeOutWhenEmpty(true);
  Run();
  EXPECT_EQ(1, pipe_->write_calls());
  EXPECT_EQ((Log{"create 2 1", "p1 deleted"}), log_);
}

// With the real protocol factory and no unit, the agent answers from a
// NullProtocol and looks for a unit again once per period.
TEST(DeviceWithNullProtocolTest, DetectsAgainEveryPeriod) {
  FakeClock clock;
  FakePlatformFactory platform;
  FakePipe* pipe = new FakePipe(&clock);
  platform.SetPipe(pipe);
  pipe->AddInput("S0\n");
  pipe->AddTimeout();
  pipe->AddTimeout();
  pipe->AddInput("R23\n");
  ProtocolFactory protocols(&platform, &clock);
  Device device(&platform, 1, 0, &clock);
  device.RunWith(0, 1, &protocols);
  EXPECT_EQ((Log{"S0E 8", "R23 1"}), pipe->Lines());
  // The first detection, then one per period: after the first poll, and
  // after each of the two time-outs.
  EXPECT_EQ(4, platform.device_list_calls());
}

}  // namespace

#include "agent/protocol/protocol_factory.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocol/result_codes.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/fake_protocol.h"
#include "tests/support/scripted_media.h"

namespace {

using Kind = ProtocolFactory::Kind;
using Log = std::vector<std::string>;
using Calls = std::vector<FakePlatformFactory::MediaCall>;

const char* KindName(Kind kind) {
  return kind == Kind::kP99 ? "p99" : kind == Kind::kPc ? "pc" : "t";
}

// A protocol factory whose kinds are fakes: each kind answers the model
// name probe with the result the test set for it on that media (default 8,
// no answer). Every kind built and deleted is
// logged as "<kind>@<media> made" / "... deleted".
class FakeKindFactory final : public ProtocolFactory {
 public:
  FakeKindFactory(PlatformFactory* platform, Clock* clock, Log* log)
      : ProtocolFactory(platform, clock), log_(log) {}

  void SetProbe(Kind kind, IMedia* media, int32_t result_code) {
    probes_[{kind, media}] = result_code;
  }
  void Name(IMedia* media, const std::string& name) { names_[media] = name; }

  IProtocol* NewProtocol(Kind kind, IMedia* media) override {
    std::string name = std::string(KindName(kind)) + "@" + names_[media];
    log_->push_back(name + " made");
    FakeProtocol* protocol = new FakeProtocol(log_, name);
    auto probe = probes_.find({kind, media});
    protocol->SetAnswer("GetModelName", probe == probes_.end()
                                            ? result::kNoAnswer
                                            : probe->second);
    last_ = protocol->record();
    return protocol;
  }

  std::shared_ptr<const FakeProtocol::Record> last_;

 private:
  Log* log_;
  std::map<std::pair<Kind, IMedia*>, int32_t> probes_;
  std::map<IMedia*, std::string> names_;
};

class ProtocolFactoryTest : public ::testing::Test {
 protected:
  ProtocolFactoryTest() : factory_(&platform_, &clock_, &log_) {}

  // A scripted media handed out for (type, index), named "<type>.<index>".
  ScriptedMedia* AddMedia(int32_t type, int32_t index) {
    ScriptedMedia* media = new ScriptedMedia;
    platform_.AddMedia(type, index, media);
    factory_.Name(media, std::to_string(type) + "." + std::to_string(index));
    return media;
  }
  // The media selection the protocol reports.
  std::pair<int32_t, int32_t> SelectionOf(IProtocol* protocol) {
    std::pair<int32_t, int32_t> selection(-1, -1);
    EXPECT_EQ(result::kSuccess, protocol->GetMediaType(&selection.first));
    EXPECT_EQ(result::kSuccess, protocol->GetMediaIndex(&selection.second));
    return selection;
  }

  FakeClock clock_;
  FakePlatformFactory platform_;
  Log log_;
  FakeKindFactory factory_;
};

TEST_F(ProtocolFactoryTest, NoneNeverLooksAtTheDevicesAndAFailedListGivesNull) {
  AddMedia(2, 1);
  platform_.SetDeviceList({"0.0.None", "1.0.Auto", "2.1.ttyS0"});
  Released<IProtocol> protocol(factory_.Create(0, 5));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ(std::make_pair(0, 0), SelectionOf(protocol.get()));
  EXPECT_EQ(0, platform_.device_list_calls());
  EXPECT_TRUE(platform_.media_calls().empty());
  platform_.FailDeviceList(true);
  EXPECT_EQ(nullptr, factory_.Create(1, 0));
}

TEST_F(ProtocolFactoryTest, AutomaticTriesPortsInOrderUntilOneIdentifies) {
  // 2.1 cannot be opened, 2.2 stays silent, 2.3 identifies.
  platform_.SetDeviceList(
      {"0.0.None", "1.0.Auto", "2.1.a", "2.2.b", "2.3.c", "2.4.d"});
  bool silent_released = false;
  AddMedia(2, 2)->WatchRelease(&silent_released);
  ScriptedMedia* third = AddMedia(2, 3);
  AddMedia(2, 4);
  factory_.SetProbe(Kind::kP99, third, result::kSuccess);

  Released<IProtocol> protocol(factory_.Create(1, 0));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ((Calls{{2, 1}, {2, 2}, {2, 3}}), platform_.media_calls());
  EXPECT_TRUE(silent_released);
  EXPECT_EQ(third, factory_.media());
  EXPECT_EQ((Log{"p99@2.2 made", "p99@2.2 deleted", "pc@2.2 made",
                 "pc@2.2 deleted", "p99@2.3 made"}),
            log_);
  // The probe asks for the model name in a buffer of 16 bytes.
  EXPECT_EQ(Log{"GetModelName buffer 16"}, factory_.last_->calls);
}

TEST_F(ProtocolFactoryTest, OnlyMatchingSinglePortsAreOpenedElseNullProtocol) {
  platform_.SetDeviceList({"0.0.None", "1.0.Auto", "0.1.x", "1.2.y", "2.0.all",
                           "-2.1.neg", "2.-1.neg", "junk", "", "2", "2.",
                           "2.x.z", "2.3.c", "3.4.other"});
  Released<IProtocol> protocol(factory_.Create(1, 0));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ((Calls{{2, 3}, {3, 4}}), platform_.media_calls());
  EXPECT_EQ(std::make_pair(1, 0), SelectionOf(protocol.get()));
  protocol.reset(factory_.Create(2, 3));
  protocol.reset(factory_.Create(3, 0));
  EXPECT_EQ((Calls{{2, 3}, {3, 4}, {2, 3}, {3, 4}}), platform_.media_calls());

  // Nothing found: a NullProtocol for the selection, holding no media.
  protocol.reset(factory_.Create(2, 9));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ(4u, platform_.media_calls().size());
  EXPECT_EQ(std::make_pair(2, 9), SelectionOf(protocol.get()));
  EXPECT_EQ(nullptr, factory_.media());
  // Every status read answers "no unit" and leaves the value alone.
  using StatusRead = int32_t (IProtocol::*)(int32_t*);
  for (StatusRead read :
       {&IProtocol::GetInputVoltage, &IProtocol::GetOutputVoltage,
        &IProtocol::GetBatteryCapacity, &IProtocol::GetLoad,
        &IProtocol::GetTemperature, &IProtocol::GetFrequency,
        &IProtocol::GetBackupTime, &IProtocol::GetPowerFail,
        &IProtocol::GetBatteryLow, &IProtocol::GetTestActive,
        &IProtocol::GetShutdownActive, &IProtocol::GetStatusFlag11,
        &IProtocol::GetConnected, &IProtocol::GetBuzzerActive}) {
    int32_t value = 77;
    EXPECT_EQ(result::kNoAnswer, (protocol.get()->*read)(&value));
    EXPECT_EQ(77, value);
  }
}

TEST_F(ProtocolFactoryTest, HeldMediaIsReleasedOnlyAfterItsProtocol) {
  platform_.SetDeviceList({"2.1.a"});
  ScriptedMedia* media = AddMedia(2, 1);
  bool released = false;
  media->WatchRelease(&released);
  factory_.SetProbe(Kind::kP99, media, result::kSuccess);
  IProtocol* protocol = factory_.Create(2, 1);
  ASSERT_NE(nullptr, protocol);
  protocol->Release();
  EXPECT_FALSE(released);
  Released<IProtocol> next(factory_.Create(0, 0));
  EXPECT_TRUE(released);
}

TEST_F(ProtocolFactoryTest, ProbeChoosesTheSecondKindByTheFirstResult) {
  // A silent line that fails the contact probe is not tried as text.
  const struct {
    int32_t p99_result;
    Kind second;
    int32_t second_result;
  } rows[] = {
      {result::kNoAnswer, Kind::kPc, result::kSuccess},
      {result::kNoAnswer, Kind::kPc, result::kNotThisProtocol},
      {result::kMalformedAnswer, Kind::kT, result::kSuccess},
      {result::kNotThisProtocol, Kind::kT, result::kSuccess},
      {result::kShortRead, Kind::kT, result::kSuccess},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.p99_result);
    ScriptedMedia media;
    factory_.Name(&media, "m");
    factory_.SetProbe(Kind::kP99, &media, row.p99_result);
    factory_.SetProbe(Kind::kPc, &media, result::kNotThisProtocol);
    factory_.SetProbe(Kind::kT, &media, result::kSuccess);
    factory_.SetProbe(row.second, &media, row.second_result);
    log_.clear();
    Released<IProtocol> protocol(factory_.Probe(&media));
    const std::string second = std::string(KindName(row.second)) + "@m";
    Log expected = {"p99@m made", "p99@m deleted", second + " made"};
    if (row.second_result != result::kSuccess) {
      expected.push_back(second + " deleted");
    }
    EXPECT_EQ(expected, log_);
    EXPECT_EQ(row.second_result == result::kSuccess, protocol != nullptr);
  }
}

}  // namespace

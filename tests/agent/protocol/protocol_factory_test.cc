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

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kP99:
      return "p99";
    case Kind::kPc:
      return "pc";
    case Kind::kT:
      return "t";
  }
  return "?";
}

// A protocol factory whose kinds are fakes: each kind answers the model
// name probe with the result the test set for it on that media (default 8,
// no answer), or is missing altogether. Every kind built and deleted is
// logged as "<kind>@<media> made" / "... deleted".
class FakeKindFactory final : public ProtocolFactory {
 public:
  FakeKindFactory(PlatformFactory* platform, Clock* clock, Log* log)
      : ProtocolFactory(platform, clock), log_(log) {}

  void SetProbe(Kind kind, IMedia* media, int32_t result_code) {
    probes_[{kind, media}] = result_code;
  }
  void RemoveKind(Kind kind) { missing_.push_back(kind); }
  void Name(IMedia* media, const std::string& name) {
    media_names_[media] = name;
  }

  IProtocol* NewProtocol(Kind kind, IMedia* media) override {
    for (Kind gone : missing_) {
      if (gone == kind) return nullptr;
    }
    std::string name = std::string(KindName(kind)) + "@" + media_names_[media];
    log_->push_back(name + " made");
    FakeProtocol* protocol = new FakeProtocol(log_, name);
    auto probe = probes_.find({kind, media});
    protocol->SetAnswer("GetModelName", probe == probes_.end()
                                            ? result::kNoAnswer
                                            : probe->second);
    last_ = protocol->record();
    return protocol;
  }

  std::shared_ptr<const FakeProtocol::Record> last() const { return last_; }

 private:
  Log* log_;
  std::map<std::pair<Kind, IMedia*>, int32_t> probes_;
  std::map<IMedia*, std::string> media_names_;
  std::vector<Kind> missing_;
  std::shared_ptr<const FakeProtocol::Record> last_;
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

  int32_t MediaTypeOf(IProtocol* protocol) {
    int32_t value = -1;
    EXPECT_EQ(result::kSuccess, protocol->GetMediaType(&value));
    return value;
  }
  int32_t MediaIndexOf(IProtocol* protocol) {
    int32_t value = -1;
    EXPECT_EQ(result::kSuccess, protocol->GetMediaIndex(&value));
    return value;
  }

  using Calls = std::vector<FakePlatformFactory::MediaCall>;

  FakeClock clock_;
  FakePlatformFactory platform_;
  Log log_;
  FakeKindFactory factory_;
};

TEST_F(ProtocolFactoryTest, NoneNeverLooksAtTheDevices) {
  AddMedia(2, 1);
  platform_.SetDeviceList({"0.0.None", "1.0.Auto", "2.1.ttyS0"});
  Released<IProtocol> protocol(factory_.Create(0, 5));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ(0, MediaTypeOf(protocol.get()));
  EXPECT_EQ(0, MediaIndexOf(protocol.get()));
  EXPECT_EQ(0, platform_.device_list_calls());
  EXPECT_TRUE(platform_.media_calls().empty());
}

TEST_F(ProtocolFactoryTest, DeviceListFailureGivesNull) {
  platform_.FailDeviceList(true);
  EXPECT_EQ(nullptr, factory_.Create(1, 0));
}

TEST_F(ProtocolFactoryTest, AutomaticTriesPortsInOrderUntilOneIdentifies) {
  platform_.SetDeviceList({"0.0.None", "1.0.Auto", "2.1.a", "2.2.b", "2.3.c"});
  bool first_released = false;
  AddMedia(2, 1)->WatchRelease(&first_released);
  ScriptedMedia* second = AddMedia(2, 2);
  AddMedia(2, 3);
  factory_.SetProbe(Kind::kP99, second, result::kSuccess);

  Released<IProtocol> protocol(factory_.Create(1, 0));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ((Calls{{2, 1}, {2, 2}}), platform_.media_calls());
  EXPECT_TRUE(first_released);
  EXPECT_EQ(second, factory_.media());
  EXPECT_EQ((Log{"p99@2.1 made", "p99@2.1 deleted", "pc@2.1 made",
                 "pc@2.1 deleted", "p99@2.2 made"}),
            log_);
}

TEST_F(ProtocolFactoryTest, EntriesThatAreNoSinglePortAreNeverOpened) {
  platform_.SetDeviceList({"0.0.None", "1.0.Auto", "0.1.x", "1.2.y", "2.0.all",
                           "-2.1.neg", "2.-1.neg", "junk", "", "2", "2.",
                           "2.x.z", "3.4.other"});
  Released<IProtocol> protocol(factory_.Create(1, 0));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ((Calls{{3, 4}}), platform_.media_calls());
  EXPECT_EQ(1, MediaTypeOf(protocol.get()));
  EXPECT_EQ(0, MediaIndexOf(protocol.get()));
}

TEST_F(ProtocolFactoryTest, SpecificSelectionOpensOnlyThatPort) {
  platform_.SetDeviceList(
      {"0.0.None", "1.0.Auto", "2.1.a", "2.2.b", "2.3.c", "3.3.other"});
  Released<IProtocol> protocol(factory_.Create(2, 3));
  EXPECT_EQ((Calls{{2, 3}}), platform_.media_calls());
  protocol.reset(factory_.Create(3, 0));
  EXPECT_EQ((Calls{{2, 3}, {3, 3}}), platform_.media_calls());
}

TEST_F(ProtocolFactoryTest, NothingFoundGivesNullProtocolForTheSelection) {
  platform_.SetDeviceList({"0.0.None", "1.0.Auto", "2.1.a", "2.2.b", "2.3.c"});
  Released<IProtocol> protocol(factory_.Create(2, 9));
  ASSERT_NE(nullptr, protocol);
  EXPECT_TRUE(platform_.media_calls().empty());
  EXPECT_EQ(2, MediaTypeOf(protocol.get()));
  EXPECT_EQ(9, MediaIndexOf(protocol.get()));
  EXPECT_EQ(nullptr, factory_.media());
  int32_t value = 0;
  EXPECT_EQ(result::kNoAnswer, protocol->GetInputVoltage(&value));
}

TEST_F(ProtocolFactoryTest, MediaThatCannotBeOpenedIsSkipped) {
  platform_.SetDeviceList({"2.1.a", "2.2.b"});
  ScriptedMedia* second = AddMedia(2, 2);
  factory_.SetProbe(Kind::kP99, second, result::kSuccess);
  Released<IProtocol> protocol(factory_.Create(1, 0));
  EXPECT_EQ((Calls{{2, 1}, {2, 2}}), platform_.media_calls());
  EXPECT_EQ(second, factory_.media());
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

TEST_F(ProtocolFactoryTest, ProbeAsksForTheModelNameIn16Bytes) {
  ScriptedMedia media;
  factory_.SetProbe(Kind::kP99, &media, result::kSuccess);
  Released<IProtocol> protocol(factory_.Probe(&media));
  ASSERT_NE(nullptr, protocol);
  EXPECT_EQ(std::vector<std::string>{"GetModelName buffer 16"},
            factory_.last()->calls);
}

TEST_F(ProtocolFactoryTest, ProbeChoosesTheSecondKindByTheFirstResult) {
  const struct {
    int32_t p99_result;
    Kind second;
  } rows[] = {
      {result::kNoAnswer, Kind::kPc},
      {result::kMalformedAnswer, Kind::kT},
      {result::kNotThisProtocol, Kind::kT},
      {result::kShortRead, Kind::kT},
  };
  for (const auto& row : rows) {
    ScriptedMedia media;
    factory_.Name(&media, "m");
    factory_.SetProbe(Kind::kP99, &media, row.p99_result);
    factory_.SetProbe(row.second, &media, result::kSuccess);
    log_.clear();
    Released<IProtocol> protocol(factory_.Probe(&media));
    ASSERT_NE(nullptr, protocol);
    const std::string second = std::string(KindName(row.second)) + "@m";
    EXPECT_EQ((Log{"p99@m made", "p99@m deleted", second + " made"}), log_);
  }
}

TEST_F(ProtocolFactoryTest, SilentLineFailingContactProbeIsNotTriedAsText) {
  ScriptedMedia media;
  factory_.Name(&media, "m");
  factory_.SetProbe(Kind::kPc, &media, result::kNotThisProtocol);
  factory_.SetProbe(Kind::kT, &media, result::kSuccess);
  EXPECT_EQ(nullptr, factory_.Probe(&media));
  EXPECT_EQ((Log{"p99@m made", "p99@m deleted", "pc@m made", "pc@m deleted"}),
            log_);
}

TEST_F(ProtocolFactoryTest, MissingFirstKindFallsBackToTheTextKind) {
  ScriptedMedia media;
  factory_.Name(&media, "m");
  factory_.RemoveKind(Kind::kP99);
  factory_.SetProbe(Kind::kT, &media, result::kSuccess);
  Released<IProtocol> protocol(factory_.Probe(&media));
  EXPECT_NE(nullptr, protocol);
  EXPECT_EQ(Log{"t@m made"}, log_);
}

}  // namespace

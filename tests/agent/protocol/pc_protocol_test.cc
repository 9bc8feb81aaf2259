#include "agent/protocol/pc_protocol.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/protocol/protocol_factory.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/fake_protocol.h"
#include "tests/support/scripted_media.h"

namespace {

using LineModel = std::function<int32_t(int32_t driven, int reads)>;
using Trace = std::vector<std::string>;

constexpr int32_t kDriven = pin::kDtr | pin::kRts | pin::kBreak;
constexpr int32_t kQuiet = pin::kDcd | pin::kCts;  // mains and battery fine

// A contact unit: its contacts are fed by RTS or the break condition, so
// with neither driven it reports nothing. Fed, it reports `fed`; under break
// `under_break`. It never touches DSR.
LineModel ContactUnit(int32_t fed, int32_t under_break) {
  return [fed, under_break](int32_t driven, int) {
    if (driven & pin::kBreak) return under_break;
    if (driven & pin::kRts) return fed;
    return 0;
  };
}

LineModel ContactUnit(int32_t fed) { return ContactUnit(fed, fed); }

class PcProtocolTest : public ::testing::Test {
 protected:
  PcProtocolTest() {
    media_.AttachClock(&clock_);
    media_.SetIndex(3);
    media_.SetLineModel(ContactUnit(kQuiet));
    protocol_ = std::make_unique<PcProtocol>(&media_, &clock_);
    media_.ClearEvents();
  }

  // The recorded pin operations, with "wait N" wherever time passed between
  // two of them: "on 48", "off 04", "get 81".
  Trace Lines() const {
    Trace trace;
    int64_t last = -1;
    for (const ScriptedMedia::Event& event : media_.events()) {
      if (last >= 0 && event.at_millis > last) {
        trace.push_back("wait " + std::to_string(event.at_millis - last));
      }
      last = event.at_millis;
      char text[32];
      if (event.kind == ScriptedMedia::Event::kSetPins) {
        snprintf(text, sizeof text, "%s %02X", event.on ? "on" : "off",
                 static_cast<unsigned>(event.mask));
      } else if (event.kind == ScriptedMedia::Event::kGetPins) {
        snprintf(text, sizeof text, "get %02X",
                 static_cast<unsigned>(event.mask));
      } else {
        snprintf(text, sizeof text, "other");
      }
      trace.push_back(text);
    }
    return trace;
  }

  int32_t PowerFail() {
    int32_t value = -1;
    EXPECT_EQ(protocol_->GetPowerFail(&value), 0);
    return value;
  }

  int32_t BatteryLow() {
    int32_t value = -1;
    EXPECT_EQ(protocol_->GetBatteryLow(&value), 0);
    return value;
  }

  // Runs a poll after a change of the unit's lines, with a fresh trace.
  int32_t PollWith(const LineModel& model) {
    media_.SetLineModel(model);
    media_.ClearEvents();
    return protocol_->Poll();
  }

  FakeClock clock_;
  ScriptedMedia media_;
  std::unique_ptr<PcProtocol> protocol_;
};

TEST_F(PcProtocolTest, ConstructionAndDestructionDropEveryDrivenLine) {
  ScriptedMedia media;
  media.SetPinState(pin::kDtr | pin::kRts | pin::kBreak, 1);
  {
    PcProtocol protocol(&media, &clock_);
    EXPECT_EQ(media.driven_pins(), 0);
    media.SetPinState(pin::kDtr, 1);
  }
  EXPECT_EQ(media.driven_pins(), 0);
  EXPECT_EQ(media.events().back().mask, kDriven);
  EXPECT_EQ(media.events().back().on, 0);
}

TEST_F(PcProtocolTest, FixedAnswersAndUnsupportedOperations) {
  int32_t value = -1;
  EXPECT_EQ(protocol_->GetPortType(&value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(protocol_->GetBaudRate(&value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(protocol_->GetShutdownActive(&value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(protocol_->GetConnected(&value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(protocol_->GetMediaType(&value), 0);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(protocol_->GetMediaIndex(&value), 0);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(PowerFail(), 0);
  EXPECT_EQ(BatteryLow(), 0);

  value = -7;
  EXPECT_EQ(protocol_->GetInputVoltage(&value), 1);
  EXPECT_EQ(protocol_->GetTestActive(&value), 1);
  EXPECT_EQ(protocol_->GetInputHigh(&value, 0), 1);
  EXPECT_EQ(value, -7);
  EXPECT_EQ(protocol_->StartTest(10), 1);
  EXPECT_EQ(protocol_->CancelCommand(), 1);
  EXPECT_EQ(protocol_->ShutdownRestore(10, 20), 1);
  EXPECT_TRUE(media_.events().empty());
}

TEST_F(PcProtocolTest, ProbeDrivesTheThreeLineChecksAndNamesTheModel) {
  char name[16];
  int32_t size = sizeof name;
  ASSERT_EQ(protocol_->GetModelName(name, &size), 0);
  EXPECT_STREQ(name, "Generic UPS");
  EXPECT_EQ(Lines(), (Trace{"on 48", "wait 50", "get 81", "off 48", "wait 50",
                            "get 00", "on 44", "wait 50", "get 81", "off 04"}));
  // RTS stays raised to feed the contacts.
  EXPECT_EQ(media_.driven_pins(), pin::kRts);

  // Known now: no further line traffic.
  media_.ClearEvents();
  size = sizeof name;
  EXPECT_EQ(protocol_->GetModelName(name, &size), 0);
  EXPECT_TRUE(media_.events().empty());
}

TEST_F(PcProtocolTest, ModelNameTwoCallRead) {
  int32_t size = 0;
  EXPECT_EQ(protocol_->GetModelName(nullptr, &size), 5);
  EXPECT_EQ(size, 12);
  std::vector<char> name(size);
  EXPECT_EQ(protocol_->GetModelName(name.data(), &size), 0);
  EXPECT_STREQ(name.data(), "Generic UPS");
  size = 11;
  EXPECT_EQ(protocol_->GetModelName(name.data(), &size), 5);
  EXPECT_EQ(protocol_->GetModelName(name.data(), nullptr), 5);
}

TEST_F(PcProtocolTest, FailedProbeDropsLinesGivesTenAndProbesAgainNextTime) {
  struct Case {
    const char* what;
    LineModel lines;
    int failing_reads;
    int failing_sets;
  };
  const Case cases[] = {
      {"DSR answers DTR",
       [](int32_t d, int) {
         return ((d & pin::kDtr) ? pin::kDsr : 0) | kQuiet;
       },
       0, 0},
      {"DCD high unfed", [](int32_t, int) { return pin::kDcd; }, 0, 0},
      {"CTS high unfed",
       [](int32_t d, int) { return (d & pin::kRts) ? kQuiet : pin::kCts; }, 0,
       0},
      {"CTS low under break", ContactUnit(kQuiet, pin::kDcd), 0, 0},
      {"DCD low under break", ContactUnit(kQuiet, pin::kCts), 0, 0},
      {"nothing on the line", ContactUnit(0), 0, 0},
      {"pin read fails", ContactUnit(kQuiet), 1, 0},
      {"pin set fails", ContactUnit(kQuiet), 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PcProtocol protocol(&media_, &clock_);
    media_.SetLineModel(c.lines);
    media_.FailPinReads(c.failing_reads);
    media_.FailPinSets(c.failing_sets);
    media_.ClearEvents();
    char name[16] = "untouched";
    int32_t size = sizeof name;
    EXPECT_EQ(protocol.GetModelName(name, &size), 10);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(Lines().back(), "off 4C");
    EXPECT_EQ(media_.driven_pins(), 0);

    // The unit is plugged in properly: the next read probes again.
    media_.SetLineModel(ContactUnit(kQuiet));
    media_.ClearEvents();
    EXPECT_EQ(protocol.GetModelName(name, &size), 0);
    EXPECT_STREQ(name, "Generic UPS");
    EXPECT_EQ(Lines().front(), "on 48");
  }
}

TEST_F(PcProtocolTest, QuietLinesPollWithoutAlarms) {
  EXPECT_EQ(PollWith(ContactUnit(kQuiet)), 0);
  EXPECT_EQ(Lines(), (Trace{"on 48", "wait 50", "get 81", "off 08"}));
  EXPECT_EQ(PowerFail(), 0);
  EXPECT_EQ(BatteryLow(), 0);
}

TEST_F(PcProtocolTest, PowerFailureIsReadAgainTwice) {
  EXPECT_EQ(PollWith(ContactUnit(pin::kDcd)), 0);
  EXPECT_EQ(Lines(), (Trace{"on 48", "wait 50", "get 01", "off 08", "wait 50",
                            "get 01", "wait 50", "get 01"}));
  EXPECT_EQ(PowerFail(), 1);
  EXPECT_EQ(BatteryLow(), 0);
}

TEST_F(PcProtocolTest, PowerFailureThatClearsOnTheFirstRereadIsNotReported) {
  EXPECT_EQ(PollWith([](int32_t, int reads) {
              return reads == 0 ? pin::kDcd : kQuiet;
            }),
            0);
  EXPECT_EQ(Lines(), (Trace{"on 48", "wait 50", "get 01", "off 08", "wait 50",
                            "get 81"}));
  EXPECT_EQ(PowerFail(), 0);
}

TEST_F(PcProtocolTest, LowBatteryDuringPowerFailureRaisesRtsBeforeEachReread) {
  // Quiet first, so that a later poll does not count as both alarms at once.
  ASSERT_EQ(PollWith(ContactUnit(pin::kDcd)), 0);
  EXPECT_EQ(PollWith(ContactUnit(0)), 0);
  EXPECT_EQ(Lines(),
            (Trace{"on 48", "wait 50", "get 00", "off 08", "on 40", "wait 50",
                   "get 00", "on 40", "wait 50", "get 00"}));
  EXPECT_EQ(PowerFail(), 1);
  EXPECT_EQ(BatteryLow(), 1);
}

TEST_F(PcProtocolTest, LowBatteryOnMainsIsMeasuredButNotReported) {
  EXPECT_EQ(PollWith(ContactUnit(pin::kCts)), 0);
  EXPECT_EQ(PowerFail(), 0);
  EXPECT_EQ(BatteryLow(), 0);
  // It was measured, though: both alarms on the next poll do not count as
  // appearing at once, so no break test is made.
  EXPECT_EQ(PollWith(ContactUnit(0, 0)), 0);
  for (const std::string& step : Lines()) EXPECT_NE(step, "on 44");
  EXPECT_EQ(PowerFail(), 1);
  EXPECT_EQ(BatteryLow(), 1);
}

TEST_F(PcProtocolTest, BothAlarmsAtOnceWithDeadLinesUnderBreakGiveEight) {
  ASSERT_EQ(PollWith(ContactUnit(kQuiet)), 0);
  EXPECT_EQ(PollWith(ContactUnit(0, 0)), 8);
  EXPECT_EQ(Lines(), (Trace{"on 48", "wait 50", "get 00", "off 08", "on 40",
                            "wait 50", "get 00", "on 40", "wait 50", "get 00",
                            "on 44", "wait 50", "get 00", "off 04"}));
  EXPECT_EQ(PowerFail(), 1);
  EXPECT_EQ(BatteryLow(), 1);

  // Already set now: the next poll reports them without the break test.
  EXPECT_EQ(PollWith(ContactUnit(0, 0)), 0);
  EXPECT_EQ(Lines().size(), 10u);
  EXPECT_EQ(PowerFail(), 1);
  EXPECT_EQ(BatteryLow(), 1);
}

TEST_F(PcProtocolTest, BothAlarmsAtOnceWithLiveLinesUnderBreakAreReported) {
  struct Case {
    const char* what;
    int32_t under_break;
    int32_t result;
  };
  const Case cases[] = {
      {"both high", kQuiet, 0},
      {"only DCD", pin::kDcd, 8},
      {"only CTS", pin::kCts, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PcProtocol protocol(&media_, &clock_);
    media_.SetLineModel(ContactUnit(0, c.under_break));
    EXPECT_EQ(protocol.Poll(), c.result);
    int32_t value = 0;
    EXPECT_EQ(protocol.GetPowerFail(&value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(protocol.GetBatteryLow(&value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(media_.driven_pins(), pin::kRts);
  }
}

TEST_F(PcProtocolTest, DsrThatFollowsDtrBothWaysFailsThePoll) {
  struct Case {
    const char* what;
    LineModel lines;
    int32_t result;
    Trace trace;
  };
  const Case cases[] = {
      {"DSR ignores DTR",
       [](int32_t, int) { return pin::kDsr | kQuiet; },
       0,
       {"on 48", "wait 50", "get A1", "off 08", "wait 50", "get A1", "off 08"}},
      {"DSR drops with DTR and stays low",
       [reads = std::make_shared<int>(0)](int32_t, int) {
         return ((*reads)++ == 0 ? pin::kDsr : 0) | kQuiet;
       },
       0,
       {"on 48", "wait 50", "get A1", "off 08", "wait 50", "get 81", "on 08",
        "wait 50", "get 81", "off 08"}},
      {"DSR follows DTR both ways",
       [](int32_t d, int) {
         return ((d & pin::kDtr) ? pin::kDsr : 0) | kQuiet;
       },
       17,
       {"on 48", "wait 50", "get A1", "off 08", "wait 50", "get 81", "on 08",
        "wait 50", "get A1", "off 4C"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PcProtocol protocol(&media_, &clock_);
    media_.SetLineModel(c.lines);
    media_.ClearEvents();
    EXPECT_EQ(protocol.Poll(), c.result);
    EXPECT_EQ(Lines(), c.trace);
  }
}

TEST_F(PcProtocolTest, FailingPinOperationGivesSeventeenAndDropsLines) {
  struct Case {
    const char* what;
    int failing_reads;
    int failing_sets;
  };
  const Case cases[] = {
      {"pin read", 1, 0},
      {"pin set", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    media_.SetLineModel(ContactUnit(kQuiet));
    media_.FailPinReads(c.failing_reads);
    media_.FailPinSets(c.failing_sets);
    media_.ClearEvents();
    EXPECT_EQ(protocol_->Poll(), 17);
    EXPECT_EQ(Lines().back(), "off 4C");
    EXPECT_EQ(media_.driven_pins(), 0);
    EXPECT_EQ(PowerFail(), 0);
  }
}

TEST_F(PcProtocolTest, CancelOfShutdownIsNotSupported) {
  EXPECT_EQ(protocol_->Shutdown(-1), 1);
  EXPECT_TRUE(media_.events().empty());
  EXPECT_TRUE(clock_.pauses().empty());
}

TEST_F(PcProtocolTest, ShutdownOnMainsPulsesDtrThenHoldsIt) {
  EXPECT_EQ(protocol_->Shutdown(0), 0);
  EXPECT_EQ(Lines(),
            (Trace{"on 08", "wait 5000", "off 08", "wait 4000", "on 08"}));
  EXPECT_EQ(clock_.pauses(), (std::vector<int32_t>{5000, 4000, 15000}));
  EXPECT_EQ(media_.driven_pins(), pin::kDtr);
}

TEST_F(PcProtocolTest, ShutdownOnBatteryHoldsDtrOnly) {
  ASSERT_EQ(PollWith(ContactUnit(pin::kDcd)), 0);
  ASSERT_EQ(PowerFail(), 1);
  media_.ClearEvents();
  clock_.ClearPauses();
  EXPECT_EQ(protocol_->Shutdown(120), 0);
  EXPECT_EQ(Lines(), (Trace{"on 08"}));
  EXPECT_EQ(clock_.pauses(), (std::vector<int32_t>{15000}));
  EXPECT_EQ(media_.driven_pins(), pin::kDtr | pin::kRts);
}

TEST_F(PcProtocolTest, ShutdownThatCannotDriveDtrReportsMediaFailure) {
  media_.FailPinSets(1);
  EXPECT_EQ(protocol_->Shutdown(0), 17);
  EXPECT_EQ(Lines(), (Trace{"off 4C"}));
  EXPECT_TRUE(clock_.pauses().empty());
}

TEST_F(PcProtocolTest, WithoutMediaEveryLineOperationFails) {
  PcProtocol protocol(nullptr, &clock_);
  char name[16];
  int32_t size = sizeof name;
  EXPECT_EQ(protocol.GetModelName(name, &size), 10);
  EXPECT_EQ(protocol.Poll(), 17);
  EXPECT_EQ(protocol.Shutdown(0), 17);
}

// The real protocol kinds after a first attempt that the test scripts, so
// that detection of a contact unit is checked whatever that kind is.
class FirstAttemptStandIn final : public ProtocolFactory {
 public:
  FirstAttemptStandIn(PlatformFactory* platform, Clock* clock,
                      int32_t first_result)
      : ProtocolFactory(platform, clock), first_result_(first_result) {}

  IProtocol* NewProtocol(Kind kind, IMedia* media) override {
    kinds_.push_back(kind);
    if (kind != Kind::kP99) return ProtocolFactory::NewProtocol(kind, media);
    auto* first = new FakeProtocol;
    first->SetAnswer("GetModelName", first_result_);
    return first;
  }

  const std::vector<Kind>& kinds() const { return kinds_; }

 private:
  int32_t first_result_;
  std::vector<Kind> kinds_;
};

class PcProtocolDetectionTest : public ::testing::Test {
 protected:
  using Kind = ProtocolFactory::Kind;

  PcProtocolDetectionTest() {
    platform_.SetDeviceList(
        {"0.0.None", "1.0.Auto", "2.0.Serial", "2.1.ttyS0", "2.2.ttyS1"});
  }

  // A media for serial port `index` whose lines follow `model`.
  ScriptedMedia* AddPort(int32_t index, const LineModel& model,
                         bool* released) {
    auto* media = new ScriptedMedia;
    media->SetIndex(index);
    media->SetLineModel(model);
    media->WatchRelease(released);
    platform_.AddMedia(2, index, media);
    return media;
  }

  FakeClock clock_;
  FakePlatformFactory platform_;
};

TEST_F(PcProtocolDetectionTest, SilentLineWithContactUnitGivesPcProtocol) {
  bool released = false;
  ScriptedMedia* media = AddPort(1, ContactUnit(kQuiet), &released);
  FirstAttemptStandIn factory(&platform_, &clock_, 8);
  Released<IProtocol> protocol(factory.Create(2, 1));
  ASSERT_NE(dynamic_cast<PcProtocol*>(protocol.get()), nullptr);
  EXPECT_EQ(factory.kinds(), (std::vector<Kind>{Kind::kP99, Kind::kPc}));
  EXPECT_EQ(factory.media(), media);
  char name[16];
  int32_t size = sizeof name;
  EXPECT_EQ(protocol->GetModelName(name, &size), 0);
  EXPECT_STREQ(name, "Generic UPS");
  int32_t value = 0;
  EXPECT_EQ(protocol->GetMediaIndex(&value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(protocol->Poll(), 0);
  protocol.reset();
  EXPECT_FALSE(released);
}

TEST_F(PcProtocolDetectionTest, DeadLineIsSkippedWithoutTextAttempt) {
  bool dead_released = false;
  bool live_released = false;
  AddPort(1, ContactUnit(0), &dead_released);
  ScriptedMedia* live = AddPort(2, ContactUnit(kQuiet), &live_released);
  FirstAttemptStandIn factory(&platform_, &clock_, 8);
  Released<IProtocol> protocol(factory.Create(1, 0));
  ASSERT_NE(dynamic_cast<PcProtocol*>(protocol.get()), nullptr);
  EXPECT_EQ(factory.kinds(),
            (std::vector<Kind>{Kind::kP99, Kind::kPc, Kind::kP99, Kind::kPc}));
  EXPECT_TRUE(dead_released);
  EXPECT_EQ(factory.media(), live);
  int32_t value = 0;
  EXPECT_EQ(protocol->GetMediaIndex(&value), 0);
  EXPECT_EQ(value, 2);
}

TEST_F(PcProtocolDetectionTest, ContactUnitIsFoundByTheFullProbe) {
  bool released = false;
  ScriptedMedia* media = AddPort(2, ContactUnit(kQuiet), &released);
  media->AttachClock(&clock_);
  ProtocolFactory factory(&platform_, &clock_);
  Released<IProtocol> protocol(factory.Create(2, 2));
  ASSERT_NE(dynamic_cast<PcProtocol*>(protocol.get()), nullptr);
  // Nothing answered the first attempt's bytes; the lines did the rest.
  EXPECT_FALSE(media->Writes().empty());
  EXPECT_EQ(media->driven_pins(), pin::kRts);
  EXPECT_EQ(protocol->Poll(), 0);
  int32_t value = -1;
  EXPECT_EQ(protocol->GetPowerFail(&value), 0);
  EXPECT_EQ(value, 0);
}

TEST_F(PcProtocolDetectionTest, LineThatAnsweredIsNotTriedAsContactUnit) {
  bool released = false;
  AddPort(1, ContactUnit(kQuiet), &released);
  FirstAttemptStandIn factory(&platform_, &clock_, 9);
  Released<IProtocol> protocol(factory.Create(2, 1));
  EXPECT_EQ(dynamic_cast<PcProtocol*>(protocol.get()), nullptr);
  EXPECT_EQ(factory.kinds(), (std::vector<Kind>{Kind::kP99, Kind::kT}));
}

}  // namespace

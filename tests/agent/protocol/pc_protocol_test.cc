#include "agent/protocol/pc_protocol.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/protocol/protocol_factory.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/scripted_media.h"

namespace {

using LineModel = std::function<int32_t(int32_t driven, int reads)>;

constexpr int32_t kQuiet = pin::kDcd | pin::kCts;  // mains and battery fine

// A contact unit: RTS or the break condition feed its contacts, so with
// neither driven it reports nothing. Fed it reports `fed`, under break
// `under_break`. It never touches DSR.
LineModel ContactUnit(int32_t fed, int32_t under_break) {
  return [fed, under_break](int32_t driven, int) {
    if (driven & pin::kBreak) return under_break;
    return (driven & pin::kRts) ? fed : 0;
  };
}
LineModel ContactUnit(int32_t fed) { return ContactUnit(fed, fed); }

// Lines that report `first` at the first read and `then` ever after.
LineModel Changing(int32_t first, int32_t then) {
  return [n = std::make_shared<int>(0), first, then](int32_t, int) {
    return (*n)++ == 0 ? first : then;
  };
}

// DSR follows DTR; the contacts report `lines`.
LineModel Echoing(int32_t lines) {
  return [lines](int32_t driven, int) {
    return ((driven & pin::kDtr) ? pin::kDsr : 0) | lines;
  };
}

// The pin operations of the media, with "wait N" wherever time passed
// between two of them: "on 48, wait 50, get 81, off 08".
std::string Lines(const ScriptedMedia& media) {
  std::string trace;
  int64_t last = -1;
  for (const ScriptedMedia::Event& event : media.events()) {
    char text[32];
    const bool set = event.kind == ScriptedMedia::Event::kSetPins;
    snprintf(text, sizeof text, "%s %02X",
             set ? (event.on ? "on" : "off") : "get",
             static_cast<unsigned>(event.mask));
    if (last >= 0 && event.at_millis > last) {
      trace += ", wait " + std::to_string(event.at_millis - last);
    }
    trace += (trace.empty() ? "" : ", ") + std::string(text);
    last = event.at_millis;
  }
  return trace;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A poll that sees both alarms: the power failure re-read twice with RTS.
const char kPowerFail[] =
    "on 48, wait 50, get 00, off 08, on 40, wait 50, get 00, on 40, "
    "wait 50, get 00";

class PcProtocolTest : public ::testing::Test {
 protected:
  PcProtocolTest() { media_.AttachClock(&clock_); }

  // A fresh protocol on a unit whose lines follow `model`.
  void Build(const LineModel& model) {
    protocol_.reset();
    media_.SetLineModel(model);
    protocol_ = std::make_unique<PcProtocol>(&media_, &clock_);
    media_.ClearEvents();
    clock_.ClearPauses();
  }

  // Power fail and battery low as reported, e.g. "10".
  std::string Alarms() {
    int32_t power_fail = -1;
    int32_t battery_low = -1;
    EXPECT_EQ(protocol_->GetPowerFail(&power_fail), 0);
    EXPECT_EQ(protocol_->GetBatteryLow(&battery_low), 0);
    return std::to_string(power_fail) + std::to_string(battery_low);
  }

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
  media_.SetPinState(pin::kDtr | pin::kRts | pin::kBreak, 1);
  Build(ContactUnit(kQuiet));
  EXPECT_EQ(media_.driven_pins(), 0);
  media_.SetPinState(pin::kDtr, 1);
  protocol_.reset();
  EXPECT_EQ(Lines(media_), "on 08, off 4C");
}

TEST_F(PcProtocolTest, ProbeDrivesTheThreeLineChecksAndNamesTheModel) {
  Build(ContactUnit(kQuiet));
  char name[16];
  int32_t size = sizeof name;
  ASSERT_EQ(protocol_->GetModelName(name, &size), 0);
  EXPECT_STREQ(name, "Generic UPS");
  EXPECT_EQ(Lines(media_),
            "on 48, wait 50, get 81, off 48, wait 50, get 00, "
            "on 44, wait 50, get 81, off 04");
  EXPECT_EQ(media_.driven_pins(), pin::kRts);  // keeps feeding the contacts
  media_.ClearEvents();
  EXPECT_EQ(protocol_->GetModelName(name, &size), 0);
  EXPECT_TRUE(media_.events().empty());
}

TEST_F(PcProtocolTest, FailedProbeDropsLinesGivesTenAndProbesAgainNextTime) {
  struct Case {
    const char* what;
    LineModel lines;
    int failing_reads, failing_sets;
  };
  const Case cases[] = {
      {"DSR answers DTR", Echoing(kQuiet), 0, 0},
      {"dead line", ContactUnit(0), 0, 0},
      {"DCD high unfed", [](int32_t, int) { return pin::kDcd; }, 0, 0},
      {"CTS low under break", ContactUnit(kQuiet, pin::kDcd), 0, 0},
      {"DCD low under break", ContactUnit(kQuiet, pin::kCts), 0, 0},
      {"pin read fails", ContactUnit(kQuiet), 1, 0},
      {"pin set fails", ContactUnit(kQuiet), 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Build(c.lines);
    media_.FailPinReads(c.failing_reads);
    media_.FailPinSets(c.failing_sets);
    char name[16] = "untouched";
    int32_t size = sizeof name;
    EXPECT_EQ(protocol_->GetModelName(name, &size), 10);
    EXPECT_STREQ(name, "untouched");
    EXPECT_TRUE(EndsWith(Lines(media_), "off 4C")) << Lines(media_);
    EXPECT_EQ(media_.driven_pins(), 0);

    media_.SetLineModel(ContactUnit(kQuiet));
    EXPECT_EQ(protocol_->GetModelName(name, &size), 0);
    EXPECT_STREQ(name, "Generic UPS");
  }
}

TEST_F(PcProtocolTest, PollDerivesTheAlarmsFromTheLines) {
  // The power failure reads, then the break test reading `lines`.
  auto with_break = [](const char* lines) {
    return std::string(kPowerFail) + ", on 44, wait 50, " + lines + ", off 04";
  };
  struct Case {
    const char* what;
    LineModel before;  // lines at a first poll
    LineModel now;     // lines at the poll under test
    int32_t result;
    std::string trace;
    const char* alarms;
  };
  const Case cases[] = {
      {"quiet", ContactUnit(kQuiet), ContactUnit(kQuiet), 0,
       "on 48, wait 50, get 81, off 08", "00"},
      {"power failure is read twice more", ContactUnit(kQuiet),
       ContactUnit(pin::kDcd), 0,
       "on 48, wait 50, get 01, off 08, wait 50, get 01, wait 50, get 01",
       "10"},
      {"power failure gone at the re-read", ContactUnit(kQuiet),
       Changing(pin::kDcd, kQuiet), 0,
       "on 48, wait 50, get 01, off 08, wait 50, get 81", "00"},
      {"low battery on mains is not reported", ContactUnit(kQuiet),
       ContactUnit(pin::kCts), 0, "on 48, wait 50, get 80, off 08", "00"},
      {"low battery during a power failure raises RTS for the re-reads",
       ContactUnit(pin::kDcd), ContactUnit(0), 0, kPowerFail, "11"},
      {"low battery on mains counts as an earlier alarm",
       ContactUnit(pin::kCts), ContactUnit(0, 0), 0, kPowerFail, "11"},
      {"both alarms at once, dead under break", ContactUnit(kQuiet),
       ContactUnit(0, 0), 8, with_break("get 00"), "11"},
      {"both alarms at once, only DCD under break", ContactUnit(kQuiet),
       ContactUnit(0, pin::kDcd), 8, with_break("get 01"), "11"},
      {"both alarms at once, only CTS under break", ContactUnit(kQuiet),
       ContactUnit(0, pin::kCts), 8, with_break("get 80"), "11"},
      {"both alarms at once, both lines under break", ContactUnit(kQuiet),
       ContactUnit(0, kQuiet), 0, with_break("get 81"), "11"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Build(c.before);
    ASSERT_EQ(protocol_->Poll(), 0);
    EXPECT_EQ(PollWith(c.now), c.result);
    EXPECT_EQ(Lines(media_), c.trace);
    EXPECT_EQ(Alarms(), c.alarms);
  }
}

TEST_F(PcProtocolTest, BothAlarmsGiveEightOnlyOnceInARow) {
  Build(ContactUnit(kQuiet));
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(PollWith(ContactUnit(0, 0)), 8);
  EXPECT_EQ(PollWith(ContactUnit(0, 0)), 0);
  EXPECT_EQ(Lines(media_), kPowerFail);  // no break test this time
  EXPECT_EQ(Alarms(), "11");
}

TEST_F(PcProtocolTest, PollFailsWithSeventeenOnADsrEchoOrAPinFault) {
  struct Case {
    const char* what;
    LineModel lines;
    int failing_reads, failing_sets;
    int32_t result;
    const char* trace;
  };
  const Case cases[] = {
      {"DSR ignores DTR", [](int32_t, int) { return pin::kDsr | kQuiet; }, 0, 0,
       0, "on 48, wait 50, get A1, off 08, wait 50, get A1, off 08"},
      {"DSR drops with DTR and stays low", Changing(pin::kDsr | kQuiet, kQuiet),
       0, 0, 0,
       "on 48, wait 50, get A1, off 08, wait 50, get 81, on 08, wait 50, "
       "get 81, off 08"},
      {"DSR follows DTR both ways", Echoing(kQuiet), 0, 0, 17,
       "on 48, wait 50, get A1, off 08, wait 50, get 81, on 08, wait 50, "
       "get A1, off 4C"},
      {"pin read fails", ContactUnit(0), 1, 0, 17, "on 48, wait 50, off 4C"},
      {"pin set fails", ContactUnit(0), 0, 1, 17, "off 4C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Build(c.lines);
    media_.FailPinReads(c.failing_reads);
    media_.FailPinSets(c.failing_sets);
    EXPECT_EQ(protocol_->Poll(), c.result);
    EXPECT_EQ(Lines(media_), c.trace);
    EXPECT_EQ(Alarms(), "00");
    if (c.result != 0) {
      EXPECT_EQ(media_.driven_pins(), 0);
    }
  }
}

TEST_F(PcProtocolTest, ShutdownSignalsWithDtr) {
  struct Case {
    const char* what;
    int32_t fed;  // lines at the poll before
    int32_t delay;
    int failing_sets;
    int32_t result;
    const char* trace;
    std::vector<int32_t> pauses;
  };
  const Case cases[] = {
      {"cancel", kQuiet, -1, 0, 1, "", {}},
      {"on mains",
       kQuiet,
       0,
       0,
       0,
       "on 08, wait 5000, off 08, wait 4000, on 08",
       {5000, 4000, 15000}},
      {"on battery", pin::kDcd, 120, 0, 0, "on 08", {15000}},
      {"DTR cannot be raised", kQuiet, 0, 1, 17, "off 4C", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Build(ContactUnit(c.fed));
    ASSERT_EQ(protocol_->Poll(), 0);
    media_.ClearEvents();
    clock_.ClearPauses();
    media_.FailPinSets(c.failing_sets);
    EXPECT_EQ(protocol_->Shutdown(c.delay), c.result);
    EXPECT_EQ(Lines(media_), c.trace);
    EXPECT_EQ(clock_.pauses(), c.pauses);
  }
}

TEST(PcProtocolDetectionTest, ContactUnitIsFoundAfterTheByteProbeFails) {
  FakeClock clock;
  FakePlatformFactory platform;
  platform.SetDeviceList({"0.0.None", "1.0.Auto", "2.2.ttyS1"});
  auto* media = new ScriptedMedia;  // handed to the factory
  media->AttachClock(&clock);
  media->SetLineModel(ContactUnit(kQuiet));
  platform.AddMedia(2, 2, media);
  ProtocolFactory factory(&platform, &clock);
  Released<IProtocol> protocol(factory.Create(2, 2));
  ASSERT_NE(dynamic_cast<PcProtocol*>(protocol.get()), nullptr);
  EXPECT_FALSE(media->Writes().empty());  // the byte probe got no answer
  EXPECT_EQ(factory.media(), media);
  EXPECT_EQ(protocol->Poll(), 0);
}

}  // namespace

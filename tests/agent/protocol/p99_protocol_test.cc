#include "agent/protocol/p99_protocol.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/protocol/p99_proxy.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_p99_unit.h"
#include "tests/support/scripted_media.h"

namespace {

using Bytes = ScriptedMedia::Bytes;
using Texts = std::vector<std::string>;

class P99ProtocolTest : public testing::Test {
 protected:
  void SetUp() override {
    media_ = std::make_unique<ScriptedMedia>();
    media_->SetIndex(3);
    unit_.AttachTo(media_.get());
    protocol_ = std::make_unique<P99Protocol>(media_.get(), &clock_);
  }

  void Identify() {
    char name[16];
    int32_t size = sizeof(name);
    ASSERT_EQ(protocol_->GetModelName(name, &size), 0);
    int32_t volts = 0;
    ASSERT_EQ(protocol_->GetBatteryOut(&volts, 0), 0);
    media_->ClearEvents();
    unit_.ClearRequests();
    clock_.ClearPauses();
  }

  int32_t Read(int32_t (P99Protocol::*read)(int32_t*)) {
    int32_t value = -12345;
    EXPECT_EQ(((*protocol_).*read)(&value), 0);
    return value;
  }

  std::string Text(int32_t (P99Protocol::*read)(char*, int32_t*)) {
    char text[32];
    int32_t size = sizeof(text);
    const int32_t code = ((*protocol_).*read)(text, &size);
    return code == 0 ? std::string(text) : "<" + std::to_string(code) + ">";
  }

  Texts Written() const { return media_->WrittenTexts(); }

  FakeClock clock_;
  FakeP99Unit unit_;
  std::unique_ptr<ScriptedMedia> media_;
  std::unique_ptr<P99Protocol> protocol_;
};

TEST_F(P99ProtocolTest, ConstructionSetsUpTheLineAndWakesTheUnit) {
  const auto& events = media_->events();
  ASSERT_EQ(events.size(), 5u);  // baud, RTS, DTR, wake-up write and read
  EXPECT_EQ(events[0].kind, ScriptedMedia::Event::kBaud);
  EXPECT_EQ(events[0].on, 1200);
  EXPECT_EQ(events[1].kind, ScriptedMedia::Event::kSetPins);
  EXPECT_EQ(events[1].mask, pin::kRts);
  EXPECT_EQ(events[1].on, 0);
  EXPECT_EQ(events[2].mask, pin::kDtr);
  EXPECT_EQ(events[2].on, 1);
  EXPECT_EQ(Written(), Texts{"\\x0D\\x0D"});
  EXPECT_EQ(Read(&P99Protocol::GetMediaIndex), 3);
  protocol_.reset();
  EXPECT_EQ(media_->driven_pins() & pin::kDtr, 0);
}

TEST_F(P99ProtocolTest, UnsupportedOperationsAnswerOne) {
  int32_t value = 0;
  EXPECT_EQ(Text(&P99Protocol::GetText36), "<1>");
  using Reader = int32_t (P99Protocol::*)(int32_t*);
  const Reader reads[] = {
      &P99Protocol::GetRatedVA,         &P99Protocol::GetRatedWatt,
      &P99Protocol::GetBatteryVoltage,  &P99Protocol::GetBatteryCount,
      &P99Protocol::GetBatteryAmpHours, &P99Protocol::GetExternalBatteries,
      &P99Protocol::GetBuzzerSetting,   &P99Protocol::GetStatusFlag11};
  for (Reader read : reads) {
    EXPECT_EQ(((*protocol_).*read)(&value), 1);
  }
  EXPECT_EQ(protocol_->SetBuzzer(true), 1);
  // A default read never talks to the unit; before a selection there is
  // no default.
  EXPECT_EQ(protocol_->GetInputHigh(&value, 1), 1);
  EXPECT_EQ(unit_.requests().size(), 1u);  // the wake-up only
}

TEST_F(P99ProtocolTest, FirstPollIdentifiesAndReadsTheRegistersItNeeds) {
  media_->ClearEvents();
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Written(), (Texts{"D\\x0D", "R=\\x0D", "R)\\x0D", "F\\x0D",
                              "R+\\x0D", "R\\x18\\x0D"}));
  EXPECT_EQ(Read(&P99Protocol::GetInputVoltage), 11500);
  // The second poll is a single exchange.
  media_->ClearEvents();
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Written(), Texts{"D\\x0D"});
}

TEST_F(P99ProtocolTest, PollDecodesDataBytesIncludingMarkerValues) {
  Identify();
  media_->AddReply(Bytes{'#', 0x82, 0x7E, 0x32, '.', 0xB0, 0x90, 0xDB, '.',
                         0x08, 0xF7, 0x00, 0xFF, '\r'});
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Read(&P99Protocol::GetInputVoltage), 12000);  // IN1 at 0x82
  EXPECT_EQ(Read(&P99Protocol::GetLoad), 15151);          // LD2 mains at 0x32
  EXPECT_EQ(Read(&P99Protocol::GetTemperature), 3200);    // TMP1 at 0x90
  // Data bytes equal to the frame's markers are data.
  media_->AddReply(Bytes{'#', '#', '.', '\r', '.', '.', '#', '\r', '.', '#',
                         0xDC, 0x00, 0xFF, '\r'});
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Read(&P99Protocol::GetInputVoltage), 3900);  // 30 + 9 × 30 / 28
  EXPECT_EQ(unit_.Count('D'), 0);  // both answered by the script
}

TEST_F(P99ProtocolTest, RejectsBadComplementByteOnEveryAttempt) {
  Identify();
  unit_.bad_status_complement = true;
  EXPECT_EQ(protocol_->Poll(), 9);
  EXPECT_EQ(unit_.Count('D'), 3);
  EXPECT_EQ(clock_.pauses(), (std::vector<int32_t>{100, 100}));
  // A bad check-byte complement is rejected too.
  unit_.bad_status_complement = false;
  for (int i = 0; i < 3; ++i) {
    media_->AddReply(
        Bytes{'#', 1, 2, 3, '.', 4, 5, 6, '.', 0x08, 0xF7, 0x00, 0xFE, '\r'});
  }
  EXPECT_EQ(protocol_->Poll(), 9);
}

TEST_F(P99ProtocolTest, SilentUnitGivesShortReadOrNoAnswer) {
  unit_.silent_requests = 100;
  EXPECT_EQ(protocol_->Poll(), 7);
  EXPECT_EQ(unit_.Count('D'), 3);
  EXPECT_EQ(clock_.pauses(), (std::vector<int32_t>{100, 100}));

  media_->SetInputPins(0);  // DSR low: no unit on the line
  clock_.ClearPauses();
  EXPECT_EQ(protocol_->Poll(), 8);
  EXPECT_EQ(unit_.Count('D'), 4);
  EXPECT_TRUE(clock_.pauses().empty());
}

TEST_F(P99ProtocolTest, ReadsIdentificationOnceWithUnsignedRatings) {
  unit_.model = "285VA\r\r   ";
  unit_.rated_voltage = 230;
  unit_.rated_frequency = 50;
  int32_t size = 0;
  EXPECT_EQ(protocol_->GetModelName(nullptr, &size), 5);
  EXPECT_EQ(size, 6);
  EXPECT_EQ(Text(&P99Protocol::GetModelName), "285VA");
  EXPECT_EQ(Text(&P99Protocol::GetFirmwareVersion), "1.234");
  EXPECT_EQ(Read(&P99Protocol::GetRatedVoltage), 23000);
  EXPECT_EQ(Read(&P99Protocol::GetRatedFrequencyLow), 5000);
  EXPECT_EQ(Read(&P99Protocol::GetRatedFrequencyHigh), 5000);
  EXPECT_EQ(Read(&P99Protocol::GetModelClass), 1);
  EXPECT_EQ(unit_.Count('F'), 1);
}

TEST_F(P99ProtocolTest, InfoTextIsFetchedOnceAndCached) {
  unit_.info = "SERIAL 0042 ABCDEFGH";
  EXPECT_EQ(Text(&P99Protocol::GetText33), "SERIAL 0042 ABCDEFGH");
  EXPECT_EQ(Text(&P99Protocol::GetText33), "SERIAL 0042 ABCDEFGH");
  EXPECT_EQ(unit_.Count('N'), 1);
}

TEST_F(P99ProtocolTest, WriteSendsTheCodeOnlyWhenTheValueChanges) {
  Identify();
  EXPECT_EQ(protocol_->SetInputHigh(136), 0);  // register 0x02 holds code 0
  EXPECT_EQ(unit_.Count('Q'), 0);
  EXPECT_EQ(unit_.Count('R'), 1);
  EXPECT_EQ(protocol_->SetInputHigh(136), 0);
  EXPECT_EQ(unit_.Count('R'), 1);  // served from the cache

  EXPECT_EQ(protocol_->SetInputHigh(140), 0);
  EXPECT_EQ(unit_.registers[0x02], 0x04);
  EXPECT_EQ(unit_.requests().back(), (Bytes{'Q', 0x02, 0x04, '\r'}));
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetInputHigh(&value, 0), 0);
  EXPECT_EQ(value, 140);
  // A value outside the table is refused before anything is sent.
  unit_.ClearRequests();
  EXPECT_EQ(protocol_->SetInputHigh(142), 14);
  EXPECT_TRUE(unit_.requests().empty());
}

TEST_F(P99ProtocolTest, EchoMismatchIsRetriedOnceThenRestored) {
  Identify();
  unit_.bad_write_echoes = 1;
  EXPECT_EQ(protocol_->SetInputHigh(140), 0);
  EXPECT_EQ(unit_.Count('Q'), 2);
  EXPECT_EQ(clock_.pauses(), (std::vector<int32_t>{100}));

  unit_.bad_write_echoes = 2;
  EXPECT_EQ(protocol_->SetInputHigh(138), 9);
  EXPECT_EQ(unit_.Count('Q'), 4);
  unit_.ClearRequests();
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetInputHigh(&value, 0), 0);
  EXPECT_EQ(value, 140);
  EXPECT_TRUE(unit_.requests().empty());
}

TEST_F(P99ProtocolTest, WriteEndingWithLostLinkAlsoRestores) {
  Identify();
  int32_t value = 0;
  ASSERT_EQ(protocol_->GetBatteryLowLevel(&value, 0), 0);
  ASSERT_EQ(value, 28);
  unit_.silent_requests = 100;
  media_->SetInputPins(0);
  EXPECT_EQ(protocol_->SetBatteryLowLevel(30), 8);
  EXPECT_EQ(unit_.Count('Q'), 1);
  EXPECT_EQ(protocol_->GetBatteryLowLevel(&value, 0), 0);
  EXPECT_EQ(value, 28);
}

TEST_F(P99ProtocolTest, CommandsSendTheirByteEncodings) {
  struct Case {
    char op;  // T test, S shutdown, R shutdown with restore, B cancel
    int32_t a, b;
    int32_t result;
    const char* sent;  // printable; empty: nothing; "?": one frame
  };
  const Case cases[] = {
      {'T', 10, 0, 0, "TL\\x0D"},
      {'T', 60, 0, 0, "T\\xFF\\x0D"},  // capped
      {'T', 0, 0, 0, "T\\x00\\x0D"},
      {'T', -10, 0, 0, "T\\xB4\\x0D"},
      {'T', INT32_MAX, 0, 0, "T\\xFF\\x0D"},
      {'T', INT32_MIN, 0, 0, "?"},
      {'T', -1, 0, 0, "CT\\x0D"},
      {'R', 60, 3600, 0, "S\\x01\\xCAR\\x00m\"\\x0D"},
      {'R', 8585, 2189230, 0, "S\\xFF\\xFER\\xFF\\xFF\\xFD\\x0D"},
      {'R', 0, 0, 0, "S\\x00\\x00R\\x00\\x00\\x00\\x0D"},
      {'R', -1, -1, 0, "CS\\x0D"},
      {'S', 60, 0, 0, "S\\x01\\xCAW\\x0D"},
      {'S', -10, 0, 0, "S\\xFF\\xB4W\\x0D"},
      {'S', INT32_MIN, 0, 0, "?"},
      {'S', -1, 0, 0, "CS\\x0D"},
      {'B', 0, 0, 0, "B\\x0D"},
      // Range errors: nothing is sent.
      {'R', 8586, 0, 4, ""},
      {'R', 0, 2197816, 4, ""},
      {'R', -1, 5, 4, ""},
      {'R', 5, -1, 4, ""},
      {'R', 8000, INT32_MAX, 4, ""},
      {'R', INT32_MIN, INT32_MIN, 4, ""},
      {'S', 8586, 0, 4, ""},
      {'S', INT32_MAX, 0, 4, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.op << " " << c.a << " " << c.b);
    media_->ClearEvents();
    const int32_t result = c.op == 'T'   ? protocol_->StartTest(c.a)
                           : c.op == 'S' ? protocol_->Shutdown(c.a)
                           : c.op == 'R' ? protocol_->ShutdownRestore(c.a, c.b)
                                         : protocol_->CancelCommand();
    EXPECT_EQ(result, c.result);
    if (std::string(c.sent) == "?") {
      EXPECT_EQ(Written().size(), 1u);  // defined, whatever the bytes
    } else {
      EXPECT_EQ(Written(), *c.sent ? Texts{c.sent} : Texts{});
    }
  }
}

TEST_F(P99ProtocolTest, BadRepliesAreRetriedAsOftenAsTheirKindAllows) {
  // Identification: three attempts, nothing kept.
  unit_.bad_identification = true;
  EXPECT_EQ(Text(&P99Protocol::GetModelName), "<9>");
  EXPECT_EQ(unit_.Count('F'), 3);
  int32_t value = 0;
  EXPECT_EQ(protocol_->proxy()->GetRatedVoltage(&value), 2);
  unit_.bad_identification = false;
  Identify();
  // Register read: two attempts.
  media_->AddReply("X\x01");
  media_->AddReply("X\x01");
  EXPECT_EQ(protocol_->GetInputLow(&value, 0), 9);
  EXPECT_EQ(Written().size(), 2u);
  EXPECT_EQ(protocol_->GetInputLow(&value, 0), 0);
  EXPECT_EQ(value, 98);
  // Commands: one attempt, no pause.
  clock_.ClearPauses();
  media_->AddReply("TX");
  EXPECT_EQ(protocol_->StartTest(10), 9);
  media_->AddReply("C");
  EXPECT_EQ(protocol_->CancelCommand(), 9);
  unit_.silent_requests = 1;
  EXPECT_EQ(protocol_->Shutdown(10), 7);
  EXPECT_TRUE(clock_.pauses().empty());
}

}  // namespace

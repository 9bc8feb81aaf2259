#include "agent/protocol/p99_protocol.h"

#include <cstdint>
#include <limits>
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

  std::vector<std::string> Written() const { return media_->WrittenTexts(); }

  static Bytes StatusFrame(std::vector<uint8_t> data, uint8_t d6) {
    return {'#',
            data[0],
            data[1],
            data[2],
            '.',
            data[3],
            data[4],
            data[5],
            '.',
            d6,
            static_cast<uint8_t>(~d6),
            0x00,
            0xFF,
            '\r'};
  }

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
  EXPECT_EQ(Written(), (std::vector<std::string>{"\\x0D\\x0D"}));

  struct Row {
    int32_t (P99Protocol::*read)(int32_t*);
    int32_t value;
  };
  const Row rows[] = {
      {&P99Protocol::GetBaudRate, 1200}, {&P99Protocol::GetPortType, 2},
      {&P99Protocol::GetMediaType, 2},   {&P99Protocol::GetMediaIndex, 3},
      {&P99Protocol::GetConnected, 1},   {&P99Protocol::GetProperty52, 0},
      {&P99Protocol::GetProperty53, 0}};
  for (const Row& row : rows) {
    int32_t value = -1;
    EXPECT_EQ(((*protocol_).*row.read)(&value), 0);
    EXPECT_EQ(value, row.value);
  }

  protocol_.reset();
  EXPECT_EQ(media_->driven_pins() & pin::kDtr, 0);
}

TEST_F(P99ProtocolTest, UnsupportedOperationsAnswerOne) {
  int32_t value = 0;
  char text[16];
  int32_t size = sizeof(text);
  EXPECT_EQ(protocol_->GetText36(text, &size), 1);
  EXPECT_EQ(protocol_->GetRatedVA(&value), 1);
  EXPECT_EQ(protocol_->GetRatedWatt(&value), 1);
  EXPECT_EQ(protocol_->SetBuzzer(true), 1);
  EXPECT_EQ(protocol_->GetBatteryVoltage(&value), 1);
  EXPECT_EQ(protocol_->GetBatteryCount(&value), 1);
  EXPECT_EQ(protocol_->GetBatteryAmpHours(&value), 1);
  EXPECT_EQ(protocol_->GetExternalBatteries(&value), 1);
  EXPECT_EQ(protocol_->GetBuzzerSetting(&value), 1);
  EXPECT_EQ(protocol_->GetStatusFlag11(&value), 1);
  // A default read never talks to the unit; before a selection there is
  // no default.
  EXPECT_EQ(protocol_->GetInputHigh(&value, 1), 1);
  EXPECT_EQ(unit_.requests().size(), 1u);  // the wake-up only
}

TEST_F(P99ProtocolTest, FirstPollIdentifiesAndReadsTheRegistersItNeeds) {
  media_->ClearEvents();
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Written(),
            (std::vector<std::string>{"D\\x0D", "R=\\x0D", "R)\\x0D", "F\\x0D",
                                      "R+\\x0D", "R\\x18\\x0D"}));
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetInputVoltage(&value), 0);
  EXPECT_EQ(value, 11500);
  // The second poll is a single exchange.
  media_->ClearEvents();
  ASSERT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Written(), (std::vector<std::string>{"D\\x0D"}));
}

TEST_F(P99ProtocolTest, PollHandsTheDataBytesToTheProxy) {
  Identify();
  media_->AddReply(Bytes{'#', 0x82, 0x7E, 0x32, '.', 0xB0, 0x90, 0xDB, '.',
                         0x08, 0xF7, 0x00, 0xFF, '\r'});
  ASSERT_EQ(protocol_->Poll(), 0);
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetInputVoltage(&value), 0);
  EXPECT_EQ(value, 12000);  // IN1 at 0x82
  EXPECT_EQ(protocol_->GetLoad(&value), 0);
  EXPECT_EQ(value, 15151);  // LD2 mains at 0x32
  EXPECT_EQ(protocol_->GetTemperature(&value), 0);
  EXPECT_EQ(value, 3200);  // TMP1 at 0x90
  EXPECT_EQ(protocol_->GetPowerFail(&value), 0);
  EXPECT_EQ(value, 0);
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

TEST_F(P99ProtocolTest, AcceptsMarkerValuedDataBytes) {
  Identify();
  media_->AddReply(StatusFrame({'#', '.', '\r', '.', '#', '\r'}, '#'));
  EXPECT_EQ(protocol_->Poll(), 0);
  EXPECT_EQ(Written().size(), 1u);
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetInputVoltage(&value), 0);
  EXPECT_EQ(value, 3900);  // IN1 at 0x23: 30 + 9 × 30 / 28
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
  unit_.model = "285VA     ";
  unit_.rated_voltage = 230;
  unit_.rated_frequency = 50;
  unit_.firmware = "1234";
  char text[16];
  int32_t size = 0;
  EXPECT_EQ(protocol_->GetModelName(nullptr, &size), 5);
  EXPECT_EQ(size, 6);
  EXPECT_EQ(protocol_->GetModelName(text, &size), 0);
  EXPECT_STREQ(text, "285VA");
  size = sizeof(text);
  EXPECT_EQ(protocol_->GetFirmwareVersion(text, &size), 0);
  EXPECT_STREQ(text, "1.234");
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetRatedVoltage(&value), 0);
  EXPECT_EQ(value, 23000);
  EXPECT_EQ(protocol_->GetRatedFrequencyLow(&value), 0);
  EXPECT_EQ(value, 5000);
  EXPECT_EQ(protocol_->GetRatedFrequencyHigh(&value), 0);
  EXPECT_EQ(value, 5000);
  EXPECT_EQ(protocol_->GetModelIndex(&value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(protocol_->GetModelClass(&value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(unit_.Count('F'), 1);
}

TEST_F(P99ProtocolTest, TrimsCarriageReturnsAfterTheModelText) {
  unit_.model = "KV1000\r\r  ";
  char text[16];
  int32_t size = sizeof(text);
  EXPECT_EQ(protocol_->GetModelName(text, &size), 0);
  EXPECT_STREQ(text, "KV1000");
}

TEST_F(P99ProtocolTest, MalformedIdentificationIsRetriedThenRejected) {
  unit_.bad_identification = true;
  char text[16];
  int32_t size = sizeof(text);
  EXPECT_EQ(protocol_->GetModelName(text, &size), 9);
  EXPECT_EQ(unit_.Count('F'), 3);
  int32_t value = 0;
  EXPECT_EQ(protocol_->proxy()->GetRatedVoltage(&value), 2);  // nothing kept
}

TEST_F(P99ProtocolTest, InfoTextIsFetchedOnceAndCached) {
  unit_.info = "SERIAL 0042 ABCDEFGH";
  char text[32];
  int32_t size = sizeof(text);
  EXPECT_EQ(protocol_->GetText33(text, &size), 0);
  EXPECT_STREQ(text, "SERIAL 0042 ABCDEFGH");
  size = sizeof(text);
  EXPECT_EQ(protocol_->GetText33(text, &size), 0);
  EXPECT_EQ(unit_.Count('N'), 1);
}

TEST_F(P99ProtocolTest, WriteOfTheHeldValueSendsNothing) {
  Identify();
  EXPECT_EQ(protocol_->SetInputHigh(136), 0);  // register 0x02 holds code 0
  EXPECT_EQ(unit_.Count('Q'), 0);
  EXPECT_EQ(unit_.Count('R'), 1);
  EXPECT_EQ(protocol_->SetInputHigh(136), 0);
  EXPECT_EQ(unit_.Count('R'), 1);  // served from the cache
}

TEST_F(P99ProtocolTest, WriteSendsTheCodeAndUpdatesTheCache) {
  Identify();
  EXPECT_EQ(protocol_->SetInputHigh(140), 0);
  EXPECT_EQ(unit_.registers[0x02], 0x04);
  EXPECT_EQ(unit_.requests().back(), (Bytes{'Q', 0x02, 0x04, '\r'}));
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetInputHigh(&value, 0), 0);
  EXPECT_EQ(value, 140);
  EXPECT_EQ(protocol_->GetInputHigh(&value, 1), 0);
  EXPECT_EQ(value, 136);  // the default is untouched
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

TEST_F(P99ProtocolTest, RegisterReadRetriesOnceOnABadReply) {
  Identify();
  media_->AddReply("X\x01");
  media_->AddReply("X\x01");
  int32_t value = 0;
  EXPECT_EQ(protocol_->GetInputLow(&value, 0), 9);
  EXPECT_EQ(unit_.Count('R'), 0);  // both answered by the script
  EXPECT_EQ(Written().size(), 2u);
  EXPECT_EQ(protocol_->GetInputLow(&value, 0), 0);
  EXPECT_EQ(value, 98);
}

struct CommandCase {
  const char* name;
  int32_t (*run)(P99Protocol*);
  int32_t result;
  std::string sent;  // printable; empty: nothing sent
};

const CommandCase kCommandCases[] = {
    {"test 10", [](P99Protocol* p) { return p->StartTest(10); }, 0, "TL\\x0D"},
    {"test 60 capped", [](P99Protocol* p) { return p->StartTest(60); }, 0,
     "T\\xFF\\x0D"},
    {"test 0", [](P99Protocol* p) { return p->StartTest(0); }, 0,
     "T\\x00\\x0D"},
    {"test -10", [](P99Protocol* p) { return p->StartTest(-10); }, 0,
     "T\\xB4\\x0D"},
    {"test max", [](P99Protocol* p) { return p->StartTest(INT32_MAX); }, 0,
     "T\\xFF\\x0D"},
    {"test cancel", [](P99Protocol* p) { return p->StartTest(-1); }, 0,
     "CT\\x0D"},
    {"shutdown restore",
     [](P99Protocol* p) { return p->ShutdownRestore(60, 3600); }, 0,
     "S\\x01\\xCAR\\x00m\"\\x0D"},
    {"shutdown restore limits",
     [](P99Protocol* p) { return p->ShutdownRestore(8585, 2189230); }, 0,
     "S\\xFF\\xFER\\xFF\\xFF\\xFD\\x0D"},
    {"shutdown restore zero",
     [](P99Protocol* p) { return p->ShutdownRestore(0, 0); }, 0,
     "S\\x00\\x00R\\x00\\x00\\x00\\x0D"},
    {"shutdown restore cancel",
     [](P99Protocol* p) { return p->ShutdownRestore(-1, -1); }, 0, "CS\\x0D"},
    {"shutdown", [](P99Protocol* p) { return p->Shutdown(60); }, 0,
     "S\\x01\\xCAW\\x0D"},
    {"shutdown -10", [](P99Protocol* p) { return p->Shutdown(-10); }, 0,
     "S\\xFF\\xB4W\\x0D"},
    {"shutdown cancel", [](P99Protocol* p) { return p->Shutdown(-1); }, 0,
     "CS\\x0D"},
    {"cancel command", [](P99Protocol* p) { return p->CancelCommand(); }, 0,
     "B\\x0D"},
    // Range errors: nothing is sent.
    {"delay too long",
     [](P99Protocol* p) { return p->ShutdownRestore(8586, 0); }, 4, ""},
    {"total too long",
     [](P99Protocol* p) { return p->ShutdownRestore(0, 2197816); }, 4, ""},
    {"negative delay", [](P99Protocol* p) { return p->ShutdownRestore(-1, 5); },
     4, ""},
    {"negative restore",
     [](P99Protocol* p) { return p->ShutdownRestore(5, -1); }, 4, ""},
    {"overflowing sum",
     [](P99Protocol* p) { return p->ShutdownRestore(8000, INT32_MAX); }, 4, ""},
    {"most negative",
     [](P99Protocol* p) { return p->ShutdownRestore(INT32_MIN, INT32_MIN); }, 4,
     ""},
    {"shutdown too long", [](P99Protocol* p) { return p->Shutdown(8586); }, 4,
     ""},
    {"shutdown max", [](P99Protocol* p) { return p->Shutdown(INT32_MAX); }, 4,
     ""},
};

TEST_F(P99ProtocolTest, CommandsSendTheirByteEncodings) {
  for (const CommandCase& c : kCommandCases) {
    SCOPED_TRACE(c.name);
    media_->ClearEvents();
    EXPECT_EQ(c.run(protocol_.get()), c.result);
    const std::vector<std::string> written = Written();
    if (c.sent.empty()) {
      EXPECT_TRUE(written.empty());
    } else {
      EXPECT_EQ(written, std::vector<std::string>{c.sent});
    }
  }
}

TEST_F(P99ProtocolTest, CommandsWithTheMostNegativeArgumentsStayDefined) {
  EXPECT_EQ(protocol_->StartTest(INT32_MIN), 0);
  EXPECT_EQ(protocol_->Shutdown(INT32_MIN), 0);
  EXPECT_EQ(unit_.Count('T'), 1);
  EXPECT_EQ(unit_.Count('S'), 1);
}

TEST_F(P99ProtocolTest, CommandWithAWrongEchoFailsAfterOneAttempt) {
  media_->AddReply("TX");
  EXPECT_EQ(protocol_->StartTest(10), 9);
  media_->AddReply("C");
  EXPECT_EQ(protocol_->CancelCommand(), 9);
  unit_.silent_requests = 1;
  EXPECT_EQ(protocol_->Shutdown(10), 7);
  EXPECT_TRUE(clock_.pauses().empty());
}

}  // namespace

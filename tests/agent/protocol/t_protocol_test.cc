#include "agent/protocol/t_protocol.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/media/i_media.h"
#include "agent/protocol/result_codes.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/scripted_media.h"

namespace {

using Bytes = ScriptedMedia::Bytes;

// The status answer of a healthy 230 V unit; its status byte 0x81 carries
// none of the six flags.
const char kGoodStatus[] = "#I230.0O230.0L025.0B100.0T30.0F50.0S\x81\x84\r";
// Options: A = 0x80 (decimal numbers), B = 0xF0; battery: 7.2 Ah, 2 pieces.
const char kDecimalOptions[] = "#\x80\x80\xF0\r";
const char kBatteryData[] = "#12.0,2,7.2,0\r";

class TProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media_.AttachClock(&clock_);
    media_.SetIndex(3);
    media_.SetResponder([this](const Bytes& written) {
      const std::string command(written.begin(), written.end());
      auto found = answers_.find(command);
      if (found == answers_.end()) return Bytes();
      std::vector<std::string>& replies = found->second;
      const std::string reply = replies.front();
      if (replies.size() > 1) replies.erase(replies.begin());
      return Bytes(reply.begin(), reply.end());
    });
  }

  // The unit answers `command` with the replies in turn; the last one stays.
  void Answer(const std::string& command, std::vector<std::string> replies) {
    answers_[command] = std::move(replies);
  }
  void Answer(const std::string& command, const std::string& reply) {
    Answer(command, std::vector<std::string>{reply});
  }

  // A protocol on the media, with the events of its construction cleared.
  std::unique_ptr<TProtocol> Make() {
    auto protocol = std::make_unique<TProtocol>(&media_, &clock_);
    media_.ClearEvents();
    clock_.ClearPauses();
    return protocol;
  }

  // The commands written since the last Make, drains (empty writes) left out.
  std::vector<std::string> Sent() const {
    std::vector<std::string> sent;
    for (const Bytes& bytes : media_.Writes()) {
      if (!bytes.empty()) sent.emplace_back(bytes.begin(), bytes.end());
    }
    return sent;
  }

  int EmptyWrites() const {
    int count = 0;
    for (const Bytes& bytes : media_.Writes()) count += bytes.empty() ? 1 : 0;
    return count;
  }

  void ClearRecords() {
    media_.ClearEvents();
    clock_.ClearPauses();
  }

  std::string Text(int32_t (TProtocol::*read)(char*, int32_t*),
                   TProtocol* protocol, int32_t* code) {
    int32_t size = 0;
    *code = (protocol->*read)(nullptr, &size);
    if (*code != result::kBufferTooSmall) return "";
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    size += 1;
    *code = (protocol->*read)(buffer.data(), &size);
    return *code == result::kSuccess ? std::string(buffer.data()) : "";
  }

  struct Status {
    int32_t input, output, load, capacity, temperature, frequency, backup;
    int32_t power_fail, battery_low, test, shutdown, flag11, buzzer;
  };
  static Status ReadStatus(TProtocol* p) {
    Status s{};
    EXPECT_EQ(0, p->GetInputVoltage(&s.input));
    EXPECT_EQ(0, p->GetOutputVoltage(&s.output));
    EXPECT_EQ(0, p->GetLoad(&s.load));
    EXPECT_EQ(0, p->GetBatteryCapacity(&s.capacity));
    EXPECT_EQ(0, p->GetTemperature(&s.temperature));
    EXPECT_EQ(0, p->GetFrequency(&s.frequency));
    EXPECT_EQ(0, p->GetBackupTime(&s.backup));
    EXPECT_EQ(0, p->GetPowerFail(&s.power_fail));
    EXPECT_EQ(0, p->GetBatteryLow(&s.battery_low));
    EXPECT_EQ(0, p->GetTestActive(&s.test));
    EXPECT_EQ(0, p->GetShutdownActive(&s.shutdown));
    EXPECT_EQ(0, p->GetStatusFlag11(&s.flag11));
    EXPECT_EQ(0, p->GetBuzzerActive(&s.buzzer));
    return s;
  }

  void AnswerHealthyUnit() {
    Answer("D\r", kGoodStatus);
    Answer("P9\r", kDecimalOptions);
    Answer("P3\r", kBatteryData);
  }

  FakeClock clock_;
  ScriptedMedia media_;
  std::map<std::string, std::vector<std::string>> answers_;
};

// ---- Construction and fixed facts ---------------------------------------

TEST_F(TProtocolTest, SetsUpTheLineAndWakesTheUnit) {
  {
    TProtocol protocol(&media_, &clock_);
    EXPECT_EQ(2400, media_.baud_rate());
    EXPECT_EQ(pin::kDtr, media_.driven_pins());
    EXPECT_EQ((std::vector<std::string>{"\r\r"}), Sent());

    int32_t port = 0, baud = 0, type = 0, index = 0, connected = 0;
    int32_t property6 = -1, cold = -1, five = -1;
    EXPECT_EQ(0, protocol.GetPortType(&port));
    EXPECT_EQ(0, protocol.GetBaudRate(&baud));
    EXPECT_EQ(0, protocol.GetMediaType(&type));
    EXPECT_EQ(0, protocol.GetMediaIndex(&index));
    EXPECT_EQ(0, protocol.GetConnected(&connected));
    EXPECT_EQ(0, protocol.GetProperty6(&property6, 0));
    EXPECT_EQ(0, protocol.GetColdStart(&cold, 1));
    EXPECT_EQ(0, protocol.GetProperty5(&five, 1));
    EXPECT_EQ((std::vector<int32_t>{2, 2400, 2, 3, 1, 0, 1, 1}),
              (std::vector<int32_t>{port, baud, type, index, connected,
                                    property6, cold, five}));
    // None of these asked the unit, and no status read does.
    const Status status = ReadStatus(&protocol);
    EXPECT_EQ(0, status.input + status.capacity + status.power_fail);
    EXPECT_EQ(1u, Sent().size());
  }
  EXPECT_EQ(0, media_.driven_pins() & pin::kDtr);
}

// ---- Poll ---------------------------------------------------------------

TEST_F(TProtocolTest, PollFillsTheSnapshotFromTheStatusAnswer) {
  AnswerHealthyUnit();
  auto protocol = Make();
  ASSERT_EQ(0, protocol->Poll());
  // The first decoding asks for the options and the battery data.
  EXPECT_EQ((std::vector<std::string>{"D\r", "P9\r", "P3\r"}), Sent());

  const Status s = ReadStatus(protocol.get());
  EXPECT_EQ(23000, s.input);
  EXPECT_EQ(23000, s.output);
  EXPECT_EQ(2500, s.load);
  EXPECT_EQ(10000, s.capacity);
  EXPECT_EQ(3000, s.temperature);
  EXPECT_EQ(5000, s.frequency);
  // (720 * 2 * 10000 * 2 / 10000) * (100 - 25) / 100
  EXPECT_EQ(2160, s.backup);
  EXPECT_EQ(0, s.power_fail + s.battery_low + s.test + s.shutdown + s.flag11 +
                   s.buzzer);

  ClearRecords();
  ASSERT_EQ(0, protocol->Poll());
  EXPECT_EQ((std::vector<std::string>{"D\r"}), Sent());
}

TEST_F(TProtocolTest, StatusByteBitsSetTheFlags) {
  AnswerHealthyUnit();
  // 0x5A: bits 1, 3, 4 and 6 (flag 11, test, buzzer, power fail).
  Answer("D\r", "#I0O0L0B0T0F0S\x5A.\r");
  auto protocol = Make();
  ASSERT_EQ(0, protocol->Poll());
  const Status s = ReadStatus(protocol.get());
  EXPECT_EQ(1, s.power_fail);
  EXPECT_EQ(0, s.battery_low);
  EXPECT_EQ(1, s.test);
  EXPECT_EQ(0, s.shutdown);
  EXPECT_EQ(1, s.flag11);
  EXPECT_EQ(1, s.buzzer);
}

TEST_F(TProtocolTest, RejectsStatusAnswersWithMissingOrShortFields) {
  const char* bad[] = {
      "#I230.0O230.0L025.0B100.0T30.0F50.0S\x81\r",  // S of one byte
      "#I230.0O230.0L025.0B100.0T30.0S\x81\x84\r",   // no F
      "#I230.0O230.0L025.0B100.0T30.0F50.0\r",       // no S
  };
  for (const char* answer : bad) {
    answers_.clear();
    AnswerHealthyUnit();
    auto protocol = Make();
    ASSERT_EQ(0, protocol->Poll());  // a good snapshot first
    Answer("D\r", answer);
    ClearRecords();
    EXPECT_EQ(result::kMalformedAnswer, protocol->Poll()) << answer;
    EXPECT_EQ(3u, Sent().size());
    int32_t input = 0;
    protocol->GetInputVoltage(&input);
    EXPECT_EQ(23000, input) << "a failed poll must keep the snapshot";
  }
}

TEST_F(TProtocolTest, LoadAboveFullCountsAsNinetyPercent) {
  AnswerHealthyUnit();
  Answer("D\r", "#I230.0O230.0L150.0B100.0T30.0F50.0S\x81\x84\r");
  auto protocol = Make();
  ASSERT_EQ(0, protocol->Poll());
  int32_t backup = 0;
  protocol->GetBackupTime(&backup);
  EXPECT_EQ(2880 * 10 / 100, backup);
}

TEST_F(TProtocolTest, HexadecimalOptionSelectsBase16) {
  AnswerHealthyUnit();
  Answer("P9\r", "#\x88\x80\xF0\r");  // A bit 3: hexadecimal numbers
  Answer("D\r", "#IE6O0E6.8L19B64T1EF32S\x81\x84\r");
  auto protocol = Make();
  ASSERT_EQ(0, protocol->Poll());
  const Status s = ReadStatus(protocol.get());
  EXPECT_EQ(23000, s.input);
  EXPECT_EQ(23080, s.output);  // fraction digits 0x08: 8 tenths
  EXPECT_EQ(5000, s.frequency);
}

TEST_F(TProtocolTest, SilentUnitFailsAfterThreeAttemptsWithDrains) {
  auto protocol = Make();
  EXPECT_EQ(result::kMalformedAnswer, protocol->Poll());
  // Only D: a failed option read would come after a good reply.
  EXPECT_EQ((std::vector<std::string>{"D\r", "D\r", "D\r"}), Sent());
  EXPECT_EQ(2, EmptyWrites());
  EXPECT_EQ((std::vector<int32_t>{100, 100}), clock_.pauses());
}

TEST_F(TProtocolTest, ShortWritesAreRetriedOnlyWhileDsrIsHigh) {
  AnswerHealthyUnit();
  auto protocol = Make();
  media_.FailWrites(true);
  EXPECT_EQ(result::kShortWrite, protocol->Poll());
  EXPECT_EQ((std::vector<int32_t>{100, 100}), clock_.pauses());

  ClearRecords();
  media_.SetInputPins(0);
  EXPECT_EQ(result::kNoAnswer, protocol->Poll());
  EXPECT_TRUE(clock_.pauses().empty());

  media_.FailWrites(false);
  EXPECT_EQ(0, protocol->Poll());
}

TEST_F(TProtocolTest, OptionByteBelow0x80MakesEveryPollFail) {
  AnswerHealthyUnit();
  Answer("P9\r", "#\x80\x7F\xF0\r");
  auto protocol = Make();
  EXPECT_EQ(result::kMalformedAnswer, protocol->Poll());
  EXPECT_EQ(result::kMalformedAnswer, protocol->Poll());
  const Status s = ReadStatus(protocol.get());
  EXPECT_EQ(0, s.input + s.capacity + s.frequency);
  int32_t value = 0;
  EXPECT_EQ(result::kMalformedAnswer, protocol->GetBuzzerSetting(&value));
}

TEST_F(TProtocolTest, HostileStatusAnswersCauseNoHarm) {
  AnswerHealthyUnit();
  Answer("P3\r", "#99999999999,99999999999,99999999999,0\r");
  const std::string huge(20, '9');
  Answer("D\r", "#I" + huge + "O-" + huge + "L" + huge + "." + huge + "B" +
                    huge + "T" + "F" + "S\xFF\xFF\r");
  auto protocol = Make();
  ASSERT_EQ(0, protocol->Poll());
  const Status s = ReadStatus(protocol.get());
  EXPECT_EQ(INT32_MAX, s.input);
  EXPECT_EQ(INT32_MIN, s.output);
  EXPECT_EQ(0, s.temperature);
  EXPECT_EQ(1, s.power_fail);

  // A reply that fills the buffer without its CR is malformed.
  Answer("D\r", "#I1O1L1B1T1F1S\x81\x81" + std::string(200, '7') + "\r");
  EXPECT_EQ(result::kMalformedAnswer, protocol->Poll());
}

// ---- Property queries ---------------------------------------------------

TEST_F(TProtocolTest, OneSettingsQueryServesAllFourLimits) {
  Answer("P1\r", "#230,264,196,20\r");
  auto protocol = Make();
  int32_t value = 0;
  EXPECT_EQ(0, protocol->GetInputLow(&value, 0));
  EXPECT_EQ(196, value);
  EXPECT_EQ(0, protocol->GetBatteryOut(&value, 0));
  EXPECT_EQ(230, value);
  EXPECT_EQ(0, protocol->GetInputHigh(&value, 0));
  EXPECT_EQ(264, value);
  EXPECT_EQ(0, protocol->GetBatteryLowLevel(&value, 0));
  EXPECT_EQ(20, value);
  EXPECT_EQ((std::vector<std::string>{"P1\r"}), Sent());
}

TEST_F(TProtocolTest, ShortFieldListFailsButKeepsTheFieldsBeforeTheGap) {
  Answer("P1\r", "#230.75,264,196\r");  // the fraction is dropped
  auto protocol = Make();
  int32_t value = 0;
  EXPECT_EQ(result::kMalformedAnswer, protocol->GetInputLow(&value, 0));
  EXPECT_EQ((std::vector<std::string>{"P1\r", "P1\r"}), Sent());
  EXPECT_EQ((std::vector<int32_t>{100}), clock_.pauses());
  ClearRecords();
  EXPECT_EQ(0, protocol->GetBatteryOut(&value, 0));
  EXPECT_EQ(230, value);
  EXPECT_EQ(0, protocol->GetInputHigh(&value, 0));
  EXPECT_EQ(264, value);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(TProtocolTest, NumberQueriesKeepHundredthsOrWholeCounts) {
  Answer("P2\r", "#1000,600,230,45.5,65\r");
  Answer("P3\r", kBatteryData);
  auto protocol = Make();
  const struct {
    int32_t (TProtocol::*read)(int32_t*);
    int32_t expected;
  } cases[] = {
      {&TProtocol::GetRatedVA, 100000},
      {&TProtocol::GetRatedWatt, 60000},
      {&TProtocol::GetRatedVoltage, 23000},
      {&TProtocol::GetRatedFrequencyLow, 4550},
      {&TProtocol::GetRatedFrequencyHigh, 6500},
      {&TProtocol::GetBatteryVoltage, 1200},
      {&TProtocol::GetBatteryCount, 2},  // whole batteries
      {&TProtocol::GetBatteryAmpHours, 720},
      {&TProtocol::GetExternalBatteries, 0},
  };
  for (const auto& c : cases) {
    int32_t value = -1;
    EXPECT_EQ(0, (protocol.get()->*c.read)(&value));
    EXPECT_EQ(c.expected, value);
  }
  EXPECT_EQ((std::vector<std::string>{"P2\r", "P3\r"}), Sent());
}

TEST_F(TProtocolTest, IdentificationTextsEndAtTheFirstBlank) {
  Answer("P4\r", "#X1 model, 2.10,a,b\r");
  auto protocol = Make();
  int32_t code = 0;
  EXPECT_EQ("X1", Text(&TProtocol::GetModelName, protocol.get(), &code));
  EXPECT_EQ("2.10",
            Text(&TProtocol::GetFirmwareVersion, protocol.get(), &code));
  EXPECT_EQ("a", Text(&TProtocol::GetText36, protocol.get(), &code));
  EXPECT_EQ("b", Text(&TProtocol::GetText33, protocol.get(), &code));
  EXPECT_EQ(1u, Sent().size());
}

TEST_F(TProtocolTest, ModelNameTooLongForTheProbeBufferGivesFive) {
  Answer("P4\r", "#ABCDEFGHIJKLMNOPQRST,1,2,3\r");
  auto protocol = Make();
  char buffer[16] = {};
  int32_t size = 16;
  EXPECT_EQ(result::kBufferTooSmall, protocol->GetModelName(buffer, &size));
  EXPECT_EQ(21, size);
  EXPECT_EQ('\0', buffer[0]);

  Answer("P4\r", "#ABCDEFGHIJKLMNO,1,2,3\r");
  auto fits = Make();
  size = 16;
  EXPECT_EQ(0, fits->GetModelName(buffer, &size));
  EXPECT_STREQ("ABCDEFGHIJKLMNO", buffer);
}

TEST_F(TProtocolTest, LongIdentificationFieldsAreKeptWhole) {
  const std::string name(120, 'M');
  Answer("P4\r", "#" + name + ",1,2,3\r");
  auto protocol = Make();
  int32_t code = 0;
  EXPECT_EQ(name, Text(&TProtocol::GetModelName, protocol.get(), &code));
  EXPECT_EQ(0, code);
}

TEST_F(TProtocolTest, DefaultLimitComesFromTheMiddleOfTheRange) {
  Answer("P6\r", "#250,260,270,0\r");
  Answer("P7\r", "#240\r");
  Answer("P8\r", "#10,20,30,40\r");
  Answer("P5\r", "#200,210\r");
  auto protocol = Make();
  int32_t value = 0;
  int32_t code = 0;
  EXPECT_EQ("250,260,270",
            Text(&TProtocol::GetInputHighRange, protocol.get(), &code));
  EXPECT_EQ(0, protocol->GetInputHigh(&value, 1));
  EXPECT_EQ(260, value);
  EXPECT_EQ(0, protocol->GetInputLow(&value, 1));
  EXPECT_EQ(240, value);
  EXPECT_EQ(0, protocol->GetBatteryLowLevel(&value, 1));
  EXPECT_EQ(20, value);
  EXPECT_EQ(0, protocol->GetBatteryOut(&value, 1));
  EXPECT_EQ(200, value);
  EXPECT_EQ((std::vector<std::string>{"P6\r", "P7\r", "P8\r", "P5\r"}), Sent());
  // Derived once, then served from the default slot.
  ClearRecords();
  EXPECT_EQ(0, protocol->GetInputHigh(&value, 1));
  EXPECT_EQ(260, value);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(TProtocolTest, EmptyOrZeroRangeHasNoDefault) {
  for (const char* answer : {"#\r", "#0,0\r"}) {
    Answer("P6\r", answer);
    auto protocol = Make();
    int32_t value = 0;
    int32_t size = 0;
    EXPECT_EQ(result::kNotReadYet, protocol->GetInputHighRange(nullptr, &size))
        << answer;
    EXPECT_EQ(result::kNotReadYet, protocol->GetInputHigh(&value, 1)) << answer;
  }
}

TEST_F(TProtocolTest, SilentUnitLeavesPropertiesUnread) {
  auto protocol = Make();
  int32_t value = 0;
  EXPECT_EQ(result::kMalformedAnswer, protocol->GetRatedVA(&value));
  EXPECT_EQ(2u, Sent().size());
  EXPECT_EQ(result::kMalformedAnswer, protocol->GetRatedVA(&value));
  EXPECT_EQ(4u, Sent().size());
}

TEST_F(TProtocolTest, OptionQueryFillsSwitchesAndBits) {
  Answer("P9\r", "#\xE8\x80\xD0\r");  // A: bits 3, 5, 6; B: bits 4, 6
  auto protocol = Make();
  int32_t v46 = -1, v47 = -1, v52 = -1, v53 = -1, cold = -1, five = -1;
  int32_t buzzer = -1;
  EXPECT_EQ(0, protocol->GetProperty46(&v46));
  EXPECT_EQ(0, protocol->GetProperty47(&v47));
  EXPECT_EQ(0, protocol->GetProperty52(&v52));
  EXPECT_EQ(0, protocol->GetProperty53(&v53));
  EXPECT_EQ(0, protocol->GetColdStart(&cold, 0));
  EXPECT_EQ(0, protocol->GetProperty5(&five, 0));
  EXPECT_EQ(0, protocol->GetBuzzerSetting(&buzzer));
  // Option 52 is 1 because bit 4 of A is clear.
  EXPECT_EQ((std::vector<int32_t>{1, 1, 1, 1, 0, 1, 1}),
            (std::vector<int32_t>{v46, v47, v52, v53, cold, five, buzzer}));
  EXPECT_EQ(1u, Sent().size());
}

// ---- Settings and commands ----------------------------------------------

TEST_F(TProtocolTest, SettingUpdatesTheCacheOnlyWhenAcknowledged) {
  Answer("P1\r", "#230,264,196,20\r");
  Answer("C4:07\r", "#1\r");
  Answer("C4:05\r", "#0\r");
  auto protocol = Make();
  int32_t value = 0;
  ASSERT_EQ(0, protocol->GetBatteryLowLevel(&value, 0));
  ClearRecords();
  EXPECT_EQ(result::kNotSupported, protocol->SetBatteryLowLevel(7));
  EXPECT_EQ(0, protocol->GetBatteryLowLevel(&value, 0));
  EXPECT_EQ(20, value);
  EXPECT_EQ(0, protocol->SetBatteryLowLevel(5));
  EXPECT_EQ(0, protocol->GetBatteryLowLevel(&value, 0));
  EXPECT_EQ(5, value);
  // A refusal is an answer: no second attempt.
  EXPECT_EQ((std::vector<std::string>{"C4:07\r", "C4:05\r"}), Sent());
}

TEST_F(TProtocolTest, SettingCommandsAndTheirCells) {
  const struct {
    int32_t (TProtocol::*set)(int32_t);
    int32_t value;
    const char* command;
  } cases[] = {
      {&TProtocol::SetInputHigh, 1000, "C2:1000\r"},
      {&TProtocol::SetInputLow, 96, "C3:096\r"},
      {&TProtocol::SetBatteryOut, 230, "C1:230\r"},
      {&TProtocol::SetColdStart, 0, "C6:0\r"},
      {&TProtocol::SetProperty5, 1, "C5:1\r"},
  };
  for (const auto& c : cases) {
    Answer(c.command, "#\r");  // nothing after # counts as 0
    auto protocol = Make();
    EXPECT_EQ(0, (protocol.get()->*c.set)(c.value)) << c.command;
    EXPECT_EQ((std::vector<std::string>{c.command}), Sent());
  }
  // The current slot follows the set; the default stays.
  auto protocol = Make();
  int32_t value = -1;
  ASSERT_EQ(0, protocol->SetColdStart(0));
  EXPECT_EQ(0, protocol->GetColdStart(&value, 0));
  EXPECT_EQ(0, value);
  EXPECT_EQ(0, protocol->GetColdStart(&value, 1));
  EXPECT_EQ(1, value);
}

TEST_F(TProtocolTest, BuzzerSettingAndCancelCommand) {
  Answer("C7:1\r", "#0\r");
  Answer("C7:0\r", "#0\r");
  Answer("C7:2\r", "#0\r");
  auto protocol = Make();
  int32_t value = -1;
  ASSERT_EQ(0, protocol->SetBuzzer(false));
  EXPECT_EQ(0, protocol->GetBuzzerSetting(&value));
  EXPECT_EQ(0, value);
  EXPECT_EQ(0, protocol->CancelCommand());
  EXPECT_EQ(0, protocol->GetBuzzerSetting(&value));
  EXPECT_EQ(0, value);
  ASSERT_EQ(0, protocol->SetBuzzer(true));
  EXPECT_EQ(0, protocol->GetBuzzerSetting(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ((std::vector<std::string>{"C7:0\r", "C7:2\r", "C7:1\r"}), Sent());
}

TEST_F(TProtocolTest, SettingFailures) {
  auto protocol = Make();
  // Garbage twice: 9 after a second attempt.
  Answer("C3:180\r", "garbage\r");
  EXPECT_EQ(result::kMalformedAnswer, protocol->SetInputLow(180));
  EXPECT_EQ(2u, Sent().size());
  EXPECT_EQ((std::vector<int32_t>{100}), clock_.pauses());

  // Garbage, then an acknowledgement: the second attempt succeeds.
  ClearRecords();
  Answer("C3:180\r", std::vector<std::string>{"#", "#0\r"});
  EXPECT_EQ(0, protocol->SetInputLow(180));
  EXPECT_EQ(2u, Sent().size());

  // A short write on a line with DSR low: 8 at once.
  ClearRecords();
  media_.SetInputPins(0);
  media_.LimitNextWrite(2);
  EXPECT_EQ(result::kNoAnswer, protocol->SetInputLow(170));
  EXPECT_EQ(1u, Sent().size());
  int32_t value = 0;
  EXPECT_EQ(0, protocol->GetInputLow(&value, 0));
  EXPECT_EQ(180, value);

  // SetProperty6 never talks to the unit.
  ClearRecords();
  EXPECT_EQ(result::kNotSupported, protocol->SetProperty6(1));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(TProtocolTest, SelfTestIgnoresTheAnswer) {
  auto protocol = Make();
  EXPECT_EQ(0, protocol->StartTest(10));
  EXPECT_EQ(0, protocol->StartTest(7200));
  EXPECT_EQ(0, protocol->StartTest(-1));
  EXPECT_EQ((std::vector<std::string>{"T.1\r", "T99\r", "CT\r"}), Sent());

  ClearRecords();
  media_.FailWrites(true);
  EXPECT_EQ(result::kShortWrite, protocol->StartTest(60));
  EXPECT_TRUE(clock_.pauses().empty());
}

TEST_F(TProtocolTest, ShutdownsNeedAnAcknowledgement) {
  Answer("S02R0012\r", "#0\r");
  Answer("S.5\r", "#3\r");
  Answer("C\r", "#0\r");
  auto protocol = Make();
  EXPECT_EQ(0, protocol->ShutdownRestore(120, 600));
  EXPECT_EQ(result::kNotSupported, protocol->Shutdown(30));
  EXPECT_EQ(0, protocol->Shutdown(-1));
  EXPECT_EQ(0, protocol->ShutdownRestore(-1, 600));
  // A silent unit: malformed at once, no second attempt.
  EXPECT_EQ(result::kMalformedAnswer, protocol->Shutdown(120));
  EXPECT_EQ(
      (std::vector<std::string>{"S02R0012\r", "S.5\r", "C\r", "C\r", "S02\r"}),
      Sent());
  EXPECT_TRUE(clock_.pauses().empty());
}

}  // namespace

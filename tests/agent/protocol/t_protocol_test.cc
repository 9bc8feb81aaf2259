#include "agent/protocol/t_protocol.h"

#include <cstdint>
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
using Values = std::vector<int32_t>;
using Commands = std::vector<std::string>;

// A healthy 230 V unit; its status byte 0x81 carries none of the six flags.
const char kGoodStatus[] = "#I230.0O230.0L025.0B100.0T30.0F50.0S\x81\x84\r";
// Options: A = 0x80 (decimal numbers), B = 0xF0; battery: 7.2 Ah, 2 pieces.
const char kDecimalOptions[] = "#\x80\x80\xF0\r";
const char kBatteryData[] = "#12.0,2,7.2,0\r";
constexpr int32_t kMax = INT32_MAX;

class TProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media_.AttachClock(&clock_);
    media_.SetResponder([this](const Bytes& written) {
      auto found = answers_.find(std::string(written.begin(), written.end()));
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

  // A protocol on the media, with the events of its construction cleared.
  std::unique_ptr<TProtocol> Make() {
    auto protocol = std::make_unique<TProtocol>(&media_, &clock_);
    ClearRecords();
    return protocol;
  }
  void ClearRecords() {
    media_.ClearEvents();
    clock_.ClearPauses();
  }

  // The commands written since the last clear, drains (empty writes) left out.
  Commands Sent() const {
    Commands sent;
    for (const Bytes& bytes : media_.Writes()) {
      if (!bytes.empty()) sent.emplace_back(bytes.begin(), bytes.end());
    }
    return sent;
  }

  // A text read through a buffer of exactly the size the protocol asks for.
  static std::string Text(TProtocol* p,
                          int32_t (TProtocol::*read)(char*, int32_t*)) {
    int32_t size = 0;
    if ((p->*read)(nullptr, &size) != result::kBufferTooSmall || size <= 0) {
      return "<no size>";
    }
    std::vector<char> buffer(static_cast<size_t>(size));
    return (p->*read)(buffer.data(), &size) == 0 ? buffer.data() : "<failed>";
  }

  // Reads the getters in turn, passing `which` to each (-1 for a failure).
  template <typename... Which>
  static Values Read(
      TProtocol* p,
      std::initializer_list<int32_t (TProtocol::*)(int32_t*, Which...)> reads,
      Which... which) {
    Values values;
    for (auto read : reads) {
      int32_t value = -1;
      values.push_back((p->*read)(&value, which...) == 0 ? value : -1);
    }
    return values;
  }
  // Input, output, load, capacity, temperature, frequency, backup time, then
  // the flags power fail, battery low, test, shutdown, 11 and buzzer.
  static Values StatusValues(TProtocol* p) {
    return Read(p, {&TProtocol::GetInputVoltage, &TProtocol::GetOutputVoltage,
                    &TProtocol::GetLoad, &TProtocol::GetBatteryCapacity,
                    &TProtocol::GetTemperature, &TProtocol::GetFrequency,
                    &TProtocol::GetBackupTime, &TProtocol::GetPowerFail,
                    &TProtocol::GetBatteryLow, &TProtocol::GetTestActive,
                    &TProtocol::GetShutdownActive, &TProtocol::GetStatusFlag11,
                    &TProtocol::GetBuzzerActive});
  }

  FakeClock clock_;
  ScriptedMedia media_;
  std::map<std::string, std::vector<std::string>> answers_;
};

TEST_F(TProtocolTest, SetsUpTheLineAndWakesTheUnit) {
  {
    TProtocol protocol(&media_, &clock_);
    EXPECT_EQ(2400, media_.baud_rate());
    EXPECT_EQ(pin::kDtr, media_.driven_pins());
    EXPECT_EQ(Commands{"\r\r"}, Sent());
  }
  EXPECT_EQ(0, media_.driven_pins() & pin::kDtr);
}

// Each case is the second poll, after one of kGoodStatus.
TEST_F(TProtocolTest, PollDecodesTheStatusAnswerOrKeepsTheSnapshot) {
  const Values healthy = {23000, 23000, 2500, 10000, 3000, 5000, 2160,
                          0,     0,     0,    0,     0,    0};
  const std::string huge(20, '9');
  const struct {
    const char* name;
    std::string status;
    int32_t code;
    Values expected;
    std::string options = kDecimalOptions;
    std::string battery = kBatteryData;
  } cases[] = {
      // Backup: (720 * 2 * 10000 * 2 / 10000) * (100 - 25) / 100.
      {"healthy", kGoodStatus, 0, healthy},
      // 0x5A: bits 1, 3, 4 and 6 (flag 11, test, buzzer, power fail).
      {"flags",
       "#I0O0L0B0T0F0S\x5A.\r",
       0,
       {0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 1}},
      // A load above 100 per cent counts as 90 in the backup time.
      {"overload",
       "#I230.0O230.0L150.0B100.0T30.0F50.0S\x81\x84\r",
       0,
       {23000, 23000, 15000, 10000, 3000, 5000, 288, 0, 0, 0, 0, 0, 0}},
      // Option A bit 3: hexadecimal; fraction digits 0x08 are 8 tenths.
      {"hexadecimal",
       "#IE6O0E6.8L19B64T1EF32S\x81\x84\r",
       0,
       {23000, 23080, 2500, 10000, 3000, 5000, 2160, 0, 0, 0, 0, 0, 0},
       "#\x88\x80\xF0\r"},
      // Beyond 32 bits saturates, empty fields read 0, bit 7 is ignored.
      {"hostile",
       "#I" + huge + "O-" + huge + "L" + huge + "." + huge + "B" + huge +
           "TFS\xFF\xFF\r",
       0,
       {kMax, INT32_MIN, kMax, kMax, 0, 0, kMax, 1, 1, 1, 1, 1, 1},
       kDecimalOptions,
       "#99999999999,99999999999,99999999999,0\r"},
      {"one-byte S", "#I230.0O230.0L025.0B100.0T30.0F50.0S\x81\r",
       result::kMalformedAnswer, healthy},
      {"no F", "#I1O1L1B1T1S\x81\x84\r", result::kMalformedAnswer, healthy},
      {"no S", "#I1O1L1B1T1F1\r", result::kMalformedAnswer, healthy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Answer("D\r", {kGoodStatus, c.status});
    Answer("P9\r", {c.options});
    Answer("P3\r", {c.battery});
    auto protocol = Make();
    ASSERT_EQ(0, protocol->Poll());
    // Only the first decoding asks for the options and the battery data.
    EXPECT_EQ((Commands{"D\r", "P9\r", "P3\r"}), Sent());
    ClearRecords();
    EXPECT_EQ(c.code, protocol->Poll());
    EXPECT_EQ(Commands(c.code == 0 ? 1 : 3, "D\r"), Sent());
    EXPECT_EQ(c.expected, StatusValues(protocol.get()));
  }
}

TEST_F(TProtocolTest, PollFailureCodes) {
  auto protocol = Make();
  // A silent unit: three tries of D, the later two drained and 100 ms apart.
  EXPECT_EQ(result::kMalformedAnswer, protocol->Poll());
  EXPECT_EQ(Commands(3, "D\r"), Sent());
  EXPECT_EQ(5u, media_.Writes().size());
  EXPECT_EQ((Values{100, 100}), clock_.pauses());
  // Short writes are retried while DSR is high, given up at once when low.
  ClearRecords();
  media_.FailWrites(true);
  EXPECT_EQ(result::kShortWrite, protocol->Poll());
  EXPECT_EQ((Values{100, 100}), clock_.pauses());
  ClearRecords();
  media_.SetInputPins(0);
  EXPECT_EQ(result::kNoAnswer, protocol->Poll());
  EXPECT_TRUE(clock_.pauses().empty());
}

TEST_F(TProtocolTest, NulEndsThePayloadOfEveryAnswer) {
  using namespace std::string_literals;
  // A status whose S field has one byte before a NUL is too short.
  Answer("D\r",
         {kGoodStatus, "#I230.0O230.0L025.0B100.0T30.0F50.0S\x81\0\x84\r"s});
  Answer("P9\r", {kDecimalOptions});
  Answer("P3\r", {kBatteryData});
  auto protocol = Make();
  ASSERT_EQ(0, protocol->Poll());
  EXPECT_EQ(result::kMalformedAnswer, protocol->Poll());

  // A field list loses the fields after a NUL.
  Answer("P1\r", {"#230,264\0,196,20\r"s});
  int32_t value = 0;
  EXPECT_EQ(result::kMalformedAnswer, protocol->GetInputLow(&value, 0));

  // The option bytes end at a NUL, so a NUL after them is no bad byte: the
  // payload is one byte, option byte B takes its fallback 0xF0.
  Answer("P9\r", {"#\xC7\0\x01\r"s});
  auto fresh = Make();
  EXPECT_EQ(0, fresh->GetProperty46(&value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(0, fresh->GetBuzzerSetting(&value));
  EXPECT_EQ(1, value);

  // A range text and an identification text end at a NUL too.
  Answer("P6\r", {"#250,260\0,270\r"s});
  Answer("P4\r", {"#KT\0X,1.0,a,b\r"s});
  char text[32] = {};
  int32_t size = sizeof text;
  ASSERT_EQ(0, fresh->GetInputHighRange(text, &size));
  EXPECT_STREQ("250,260", text);
  size = sizeof text;
  EXPECT_EQ(result::kMalformedAnswer, fresh->GetModelName(text, &size));
}

TEST_F(TProtocolTest, ShortFieldListFailsButKeepsTheFieldsBeforeTheGap) {
  Answer("P1\r",
         {"#230.75,264,196\r", "#230.75,264,196\r", "#230,264,196,20\r"});
  auto protocol = Make();
  int32_t value = 0;
  EXPECT_EQ(result::kMalformedAnswer, protocol->GetInputLow(&value, 0));
  EXPECT_EQ(Commands(2, "P1\r"), Sent());
  EXPECT_EQ(Values{100}, clock_.pauses());
  // Battery out and input high were kept (the fraction dropped); the failed
  // query is not remembered, so the next read of a missing cell asks again.
  ClearRecords();
  EXPECT_EQ((Values{230, 264}),
            Read(protocol.get(),
                 {&TProtocol::GetBatteryOut, &TProtocol::GetInputHigh}, 0));
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ((Values{196, 20}),
            Read(protocol.get(),
                 {&TProtocol::GetInputLow, &TProtocol::GetBatteryLowLevel}, 0));
  EXPECT_EQ(Commands{"P1\r"}, Sent());
}

TEST_F(TProtocolTest, NumberQueriesKeepHundredthsOrWholeCounts) {
  Answer("P2\r", {"#1000,600,230,45.5,65\r"});
  Answer("P3\r", {kBatteryData});
  auto protocol = Make();
  // The battery count is in whole batteries, the rest in hundredths.
  EXPECT_EQ(
      (Values{100000, 60000, 23000, 4550, 6500, 1200, 2, 720, 0}),
      Read(protocol.get(),
           {&TProtocol::GetRatedVA, &TProtocol::GetRatedWatt,
            &TProtocol::GetRatedVoltage, &TProtocol::GetRatedFrequencyLow,
            &TProtocol::GetRatedFrequencyHigh, &TProtocol::GetBatteryVoltage,
            &TProtocol::GetBatteryCount, &TProtocol::GetBatteryAmpHours,
            &TProtocol::GetExternalBatteries}));
  EXPECT_EQ((Commands{"P2\r", "P3\r"}), Sent());
}

TEST_F(TProtocolTest, IdentificationTextsEndAtTheFirstBlank) {
  const std::string name(100, 'M');
  Answer("P4\r", {"#" + name + " model, 2.10,a,b\r"});
  auto protocol = Make();
  // Too long for a small buffer: 5 and the size needed, nothing copied.
  char buffer[16] = {};
  int32_t size = 16;
  EXPECT_EQ(result::kBufferTooSmall, protocol->GetModelName(buffer, &size));
  EXPECT_EQ(101, size);
  EXPECT_EQ('\0', buffer[0]);
  TProtocol* p = protocol.get();
  EXPECT_EQ(name, Text(p, &TProtocol::GetModelName));
  EXPECT_EQ("2.10", Text(p, &TProtocol::GetFirmwareVersion));
  EXPECT_EQ("a", Text(p, &TProtocol::GetText36));
  EXPECT_EQ("b", Text(p, &TProtocol::GetText33));
  EXPECT_EQ(1u, Sent().size());
}

TEST_F(TProtocolTest, DefaultLimitComesFromTheMiddleOfTheRange) {
  Answer("P6\r", {"#250,260,270,0\r"});
  Answer("P7\r", {"#240\r"});
  Answer("P8\r", {"#10,20,30,40\r"});
  Answer("P5\r", {"#200,210\r"});
  auto protocol = Make();
  EXPECT_EQ("250,260,270", Text(protocol.get(), &TProtocol::GetInputHighRange));
  for (int round = 0; round < 2; ++round) {  // derived once, then kept
    EXPECT_EQ((Values{260, 240, 20, 200}),
              Read(protocol.get(),
                   {&TProtocol::GetInputHigh, &TProtocol::GetInputLow,
                    &TProtocol::GetBatteryLowLevel, &TProtocol::GetBatteryOut},
                   1));
  }
  EXPECT_EQ((Commands{"P6\r", "P7\r", "P8\r", "P5\r"}), Sent());

  for (const char* answer : {"#\r", "#0,0\r"}) {  // no range, no default
    Answer("P6\r", {answer});
    int32_t value = 0;
    EXPECT_EQ(result::kNotReadYet, Make()->GetInputHigh(&value, 1)) << answer;
  }
}

TEST_F(TProtocolTest, SettingCommandsUpdateTheirCells) {
  const Commands commands = {"C2:1000\r", "C3:096\r", "C4:05\r", "C6:0\r",
                             "C7:1\r",    "C7:0\r",   "C7:2\r"};
  for (const std::string& command : commands) {
    Answer(command, {"#\r"});  // nothing after # counts as 0
  }
  auto protocol = Make();
  EXPECT_EQ(0, protocol->SetInputHigh(1000));
  EXPECT_EQ(0, protocol->SetInputLow(96));
  EXPECT_EQ(0, protocol->SetBatteryLowLevel(5));
  EXPECT_EQ(0, protocol->SetColdStart(0));
  EXPECT_EQ(0, protocol->SetBuzzer(true));
  EXPECT_EQ(0, protocol->SetBuzzer(false));
  EXPECT_EQ(0, protocol->CancelCommand());
  EXPECT_EQ(result::kNotSupported, protocol->SetProperty6(1));
  // The current slots follow without a query; the cancel leaves the buzzer
  // setting alone, and the cold-start default stays.
  EXPECT_EQ((Values{1000, 96, 5, 0}),
            Read(protocol.get(),
                 {&TProtocol::GetInputHigh, &TProtocol::GetInputLow,
                  &TProtocol::GetBatteryLowLevel, &TProtocol::GetColdStart},
                 0));
  EXPECT_EQ((Values{1}), Read(protocol.get(), {&TProtocol::GetColdStart}, 1));
  EXPECT_EQ((Values{0}), Read(protocol.get(), {&TProtocol::GetBuzzerSetting}));
  EXPECT_EQ(commands, Sent());
}

TEST_F(TProtocolTest, SettingAcknowledgementsAndFailures) {
  Answer("P1\r", {"#230,264,196,20\r"});
  Answer("C3:170\r", {"#1\r"});
  Answer("C3:180\r", {"garbage\r", "garbage\r", "#", "#0\r"});
  auto protocol = Make();
  int32_t value = 0;
  ASSERT_EQ(0, protocol->GetInputLow(&value, 0));
  ClearRecords();
  // A refusal is an answer: 1 without a second attempt, the cache unchanged.
  EXPECT_EQ(result::kNotSupported, protocol->SetInputLow(170));
  EXPECT_EQ(Commands{"C3:170\r"}, Sent());
  // Garbage twice: 9 after a second attempt 100 ms later.
  EXPECT_EQ(result::kMalformedAnswer, protocol->SetInputLow(180));
  EXPECT_EQ(Values{100}, clock_.pauses());
  EXPECT_EQ(0, protocol->GetInputLow(&value, 0));
  EXPECT_EQ(196, value);
  // Garbage, then an acknowledgement: the second attempt succeeds.
  EXPECT_EQ(0, protocol->SetInputLow(180));
  EXPECT_EQ(5u, Sent().size());
  // A short write on a line with DSR low: 8 at once, the cache unchanged.
  ClearRecords();
  media_.SetInputPins(0);
  media_.LimitNextWrite(2);
  EXPECT_EQ(result::kNoAnswer, protocol->SetInputLow(170));
  EXPECT_EQ(1u, Sent().size());
  EXPECT_EQ(0, protocol->GetInputLow(&value, 0));
  EXPECT_EQ(180, value);
}

TEST_F(TProtocolTest, SelfTestIgnoresTheAnswerShutdownsNeedOne) {
  Answer("S02R0012\r", {"#0\r"});
  Answer("S.5\r", {"#3\r"});
  Answer("C\r", {"#0\r"});
  auto protocol = Make();
  EXPECT_EQ(0, protocol->StartTest(10));
  EXPECT_EQ(0, protocol->StartTest(-1));
  EXPECT_EQ(0, protocol->ShutdownRestore(120, 600));
  EXPECT_EQ(result::kNotSupported, protocol->Shutdown(30));
  EXPECT_EQ(0, protocol->Shutdown(-1));
  EXPECT_EQ(0, protocol->ShutdownRestore(-1, 600));
  // A silent unit: malformed at once, no second attempt.
  EXPECT_EQ(result::kMalformedAnswer, protocol->Shutdown(120));
  EXPECT_EQ(
      (Commands{"T.1\r", "CT\r", "S02R0012\r", "S.5\r", "C\r", "C\r", "S02\r"}),
      Sent());
  media_.FailWrites(true);
  EXPECT_EQ(result::kShortWrite, protocol->StartTest(60));
  EXPECT_TRUE(clock_.pauses().empty());
}

}  // namespace

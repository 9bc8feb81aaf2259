#include "agent/protocol/p99_proxy.h"

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/p99_tables.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_p99_unit.h"
#include "tests/support/scripted_media.h"

namespace {

// The proxy as its owner uses it: a P99Protocol over a scripted media that
// a fake P99 unit answers.
class P99ProxyTest : public testing::Test {
 protected:
  // Returns the result of the identification.
  int32_t Start() {
    protocol_.reset();  // it borrows the media
    media_ = std::make_unique<ScriptedMedia>();
    unit_.AttachTo(media_.get());
    protocol_ = std::make_unique<P99Protocol>(media_.get(), &clock_);
    proxy_ = protocol_->proxy();
    char name[16];
    int32_t size = sizeof(name);
    return protocol_->GetModelName(name, &size);
  }

  // Also reads the battery-out setting the decoding needs, so that later
  // decodes talk to nobody.
  void StartIdentified() {
    ASSERT_EQ(Start(), 0);
    int32_t volts = 0;
    ASSERT_EQ(protocol_->GetBatteryOut(&volts, 0), 0);
  }

  int32_t Decode(uint8_t d0, uint8_t d2, uint8_t d3, uint8_t d5, uint8_t d6) {
    const uint8_t data[7] = {d0, 0, d2, d3, 136, d5, d6};
    return proxy_->DecodeStatus(data);
  }

  int32_t Value(int32_t (P99Proxy::*read)(int32_t*)) {
    int32_t value = -12345;
    EXPECT_EQ((proxy_->*read)(&value), 0);
    return value;
  }

  FakeClock clock_;
  FakeP99Unit unit_;
  std::unique_ptr<ScriptedMedia> media_;
  std::unique_ptr<P99Protocol> protocol_;
  P99Proxy* proxy_ = nullptr;
};

TEST_F(P99ProxyTest, DecodesTheWorked650VAStatusAndItsFlags) {
  StartIdentified();
  const uint8_t data[7] = {123, 0x55, 10, 197, 136, 178, 0x00};
  ASSERT_EQ(proxy_->DecodeStatus(data), 0);
  EXPECT_EQ(Value(&P99Proxy::GetInputVoltage), 11500);
  EXPECT_EQ(Value(&P99Proxy::GetOutputVoltage), 11500);
  EXPECT_EQ(Value(&P99Proxy::GetLoad), 3030);
  EXPECT_EQ(Value(&P99Proxy::GetBatteryCapacity), 10000);
  EXPECT_EQ(Value(&P99Proxy::GetBackupTime), 950);
  EXPECT_EQ(Value(&P99Proxy::GetTemperature), 3000);
  EXPECT_EQ(Value(&P99Proxy::GetFrequency), 6000);
  EXPECT_EQ(proxy_->tables().backup, &p99::kBackupTables[1]);
  // The backup estimate clamps capacity and load to 0..100.
  EXPECT_EQ(proxy_->EstimateBackup(250, -7), proxy_->EstimateBackup(100, 0));
  EXPECT_EQ(proxy_->EstimateBackup(-3, 400), proxy_->EstimateBackup(0, 100));

  const auto flags = {&P99Proxy::GetPowerFail, &P99Proxy::GetBatteryLow,
                      &P99Proxy::GetShutdownActive, &P99Proxy::GetBuzzerActive,
                      &P99Proxy::GetTestActive};
  for (auto flag : flags) EXPECT_EQ(Value(flag), 0);
  ASSERT_EQ(Decode(123, 10, 197, 178, 0xC3), 0);
  std::vector<int32_t> raised;
  for (auto flag : flags) raised.push_back(Value(flag));
  EXPECT_EQ(raised, (std::vector<int32_t>{1, 1, 1, 1, 0}));
  // On battery the output is the nominal output voltage (BO1 default 120).
  EXPECT_EQ(Value(&P99Proxy::GetOutputVoltage), 12000);
}

// A cell's value as text, or its result code as "<2>".
template <typename T>
std::string Shown(int32_t code, const T& value) {
  std::ostringstream out;
  if (code != 0) {
    out << "<" << code << ">";
  } else {
    out << value;
  }
  return out.str();
}

TEST_F(P99ProxyTest, IdentifiesListedModelsAndRemapsRoNumbers) {
  struct Row {
    const char* reported;
    int32_t result;
    const char* cells;  // model name, index and class
  };
  const Row rows[] = {
      {"RO39", 0, "KV650 18 4"},          {"ro41", 0, "KV700 19 4"},
      {"Ro 37", 0, "KV900 22 4"},         {"rO43", 0, "KV1250 24 4"},
      {"100VA", 0, "100VA 11 3"},         {"TM3000E", 0, "TM3000E 32 5"},
      {"RO40", 10, "<2> <2> <2>"},        {"RO", 10, "<2> <2> <2>"},
      {"UNKNOWN", 10, "UNKNOWN <2> <2>"}, {"650va", 10, "650va <2> <2>"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reported);
    unit_.model = row.reported;
    EXPECT_EQ(Start(), row.result);
    EXPECT_EQ(proxy_->tables_ready(), row.result == 0);
    char text[32];
    int32_t size = sizeof(text);
    int32_t index = -1;
    int32_t model_class = -1;
    const std::string name = Shown(proxy_->GetModelName(text, &size), text);
    EXPECT_EQ(name + " " + Shown(proxy_->GetModelIndex(&index), index) + " " +
                  Shown(proxy_->GetModelClass(&model_class), model_class),
              row.cells);
  }
}

TEST_F(P99ProxyTest, MapsRegister0FToThreeSettings) {
  unit_.registers[0x0F] = 0x13;
  StartIdentified();
  int32_t cold = -1, p5 = -1, p6 = -1;
  EXPECT_EQ(protocol_->GetColdStart(&cold, 0), 0);
  EXPECT_EQ(unit_.Count('R'), 5);  // 0x3D, 0x29, 0x2B, 0x18, 0x0F
  EXPECT_EQ(proxy_->GetProperty5(&p5, 0), 0);
  EXPECT_EQ(proxy_->GetProperty6(&p6, 0), 0);
  EXPECT_EQ((std::vector<int32_t>{cold, p5, p6}),
            (std::vector<int32_t>{0, 1, 1}));

  unit_.ClearRequests();
  EXPECT_EQ(protocol_->SetProperty6(0), 0);
  EXPECT_EQ(unit_.requests(),
            (std::vector<FakeP99Unit::Bytes>{{'Q', 0x0F, 0x03, '\r'}}));
  // Cold start 1 clears bit 0; the other bits keep their cached values.
  uint8_t byte = 0;
  EXPECT_EQ(proxy_->EncodeSetting(4, 1, &byte), 0);
  EXPECT_EQ(byte, 0x02);
}

TEST_F(P99ProxyTest, DecodesAndEncodesSettings) {
  StartIdentified();
  int32_t value = 0;
  EXPECT_EQ(proxy_->DecodeSetting(3, 0xFF, &value), 0);  // BO1 code -1
  EXPECT_EQ(value, 124);
  value = 7;
  EXPECT_EQ(proxy_->DecodeSetting(3, 0x05, &value), 14);  // no code 5
  EXPECT_EQ(value, 7);
  EXPECT_EQ(proxy_->GetBatteryOut(&value, 0), 0);
  EXPECT_EQ(value, 124);  // cell unchanged by the failed decode
  EXPECT_EQ(proxy_->DecodeSetting(7, 0, &value), 1);

  uint8_t byte = 0;
  EXPECT_EQ(proxy_->EncodeSetting(0, 131, &byte), 0);  // HI1 code -5
  EXPECT_EQ(byte, 0xFB);
  EXPECT_EQ(proxy_->EncodeSetting(0, 142, &byte), 14);
  EXPECT_EQ(proxy_->EncodeSetting(29, 1, &byte), 13);
  EXPECT_EQ(proxy_->EncodeSetting(35, 1, &byte), 13);
  EXPECT_EQ(proxy_->EncodeSetting(7, 1, &byte), 1);

  // Item, register byte and the value it decodes to.
  const int rows[][3] = {{35, 0x00, 1}, {35, 0x04, 2}, {35, 0x10, 3},
                         {35, 0x08, 0}, {36, 0x01, 1}, {36, 0xFE, 2},
                         {36, 0xFF, 3}, {36, 0x02, 0}, {29, 0x10, 1},
                         {29, 0xEF, 0}};
  for (const auto& row : rows) {
    EXPECT_EQ(
        proxy_->DecodeSetting(row[0], static_cast<uint8_t>(row[1]), &value), 0);
    EXPECT_EQ(value, row[2]) << row[0] << " " << row[1];
  }
  uint8_t reg = 0;
  EXPECT_EQ(proxy_->GetSettingRegister(36, &reg), 0);
  EXPECT_EQ(reg, 0x2B);
  EXPECT_EQ(proxy_->GetSettingRegister(7, &reg), 11);
}

TEST_F(P99ProxyTest, SelectionFailsForVoltageClassZero) {
  unit_.registers[0x29] = 0x08;
  // Identification succeeds; the failed selection is not reported by it.
  EXPECT_EQ(Start(), 0);
  EXPECT_FALSE(proxy_->tables_ready());
  // Every later decoding tries the selection again and reports it.
  EXPECT_EQ(Decode(123, 10, 197, 178, 0x80), 10);
  EXPECT_EQ(Value(&P99Proxy::GetPowerFail), 0);  // not reached
  int32_t value = 0;
  EXPECT_EQ(proxy_->DecodeSetting(0, 0, &value), 10);
}

TEST_F(P99ProxyTest, StoresDefaultsAndRangeTextsOnSelection) {
  StartIdentified();
  int32_t value = 0;
  EXPECT_EQ(proxy_->GetInputHigh(&value, 1), 0);
  EXPECT_EQ(value, 136);
  EXPECT_EQ(proxy_->GetColdStart(&value, 1), 0);
  EXPECT_EQ(value, 1);

  char text[64];
  int32_t size = 0;
  EXPECT_EQ(proxy_->GetInputHighRange(nullptr, &size), 5);
  EXPECT_EQ(size, 44);
  EXPECT_EQ(proxy_->GetInputHighRange(text, &size), 0);
  EXPECT_STREQ(text, "131,132,133,134,135,136,137,138,139,140,141");
}

TEST_F(P99ProxyTest, PowerFailDuringSelfTestDependsOnModel) {
  struct Row {
    const char* model;
    int32_t power_fail;
  };
  const Row rows[] = {{"285VA", 0},  {"650VA", 0},  {"1500VA", 0},
                      {"KV320", 0},  {"KV900", 0},  {"KV1000", 1},
                      {"KV1250", 0}, {"KV1500", 1}, {"KV2200", 1},
                      {"TM1500", 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.model);
    unit_.model = row.model;
    StartIdentified();
    ASSERT_EQ(Decode(123, 10, 197, 178, 0x84), 0);
    EXPECT_EQ(Value(&P99Proxy::GetPowerFail), row.power_fail);
    EXPECT_EQ(Value(&P99Proxy::GetTestActive), 1);
    // Without a test running the flag always stands.
    ASSERT_EQ(Decode(123, 10, 197, 178, 0x80), 0);
    EXPECT_EQ(Value(&P99Proxy::GetPowerFail), 1);
  }
}

TEST(P99FilterTest, SettleSmoothAndOneWay) {
  // Settle: a change is taken once it held for `limit` polls in a row.
  const std::vector<int32_t> sequences[][2] = {
      {{23100, 23100}, {23000, 23100}},
      {{23100, 22900, 23100, 23100}, {23000, 23000, 23000, 23100}},
      {{23000, 23100, 23000, 23100}, {23000, 23000, 23000, 23000}}};
  for (const auto& sequence : sequences) {
    int32_t value = 23000;
    int32_t counter = 0;
    for (size_t i = 0; i < sequence[0].size(); ++i) {
      value = p99_filter::Settle(value, sequence[0][i], &counter, 2, false);
      EXPECT_EQ(value, sequence[1][i]) << "poll " << i;
    }
  }
  int32_t counter = 1;
  EXPECT_EQ(p99_filter::Settle(23000, 30000, &counter, 2, true), 30000);
  EXPECT_EQ(counter, 1);  // a jump leaves the counter alone

  EXPECT_EQ(p99_filter::Smooth(5000, 5005, 900, false), 5000);
  EXPECT_EQ(p99_filter::Smooth(5000, 5050, 900, false), 5005);
  EXPECT_EQ(p99_filter::Smooth(5000, 4000, 900, false), 4900);
  EXPECT_EQ(p99_filter::Smooth(5000, 5300, 900, true), 5300);
  // Large readings must not overflow the weighted sum.
  EXPECT_EQ(p99_filter::Smooth(2000000000, 2000000000, 900, false), 2000000000);
  EXPECT_EQ(p99_filter::OneWay(5000, 6000, true, false), 5000);
  EXPECT_EQ(p99_filter::OneWay(5000, 4000, true, false), 4000);
  EXPECT_EQ(p99_filter::OneWay(5000, 4000, false, false), 5000);
  EXPECT_EQ(p99_filter::OneWay(5000, 6000, false, false), 6000);
  EXPECT_EQ(p99_filter::OneWay(5000, 4000, false, true), 4000);
}

TEST_F(P99ProxyTest, FrequencyJumpsOnTinyAndLargeSteps) {
  // A class-5 unit: FRQ2 gives 10 hundredths of a hertz per step of x.
  unit_.model = "TM1500";
  StartIdentified();
  // d5 and the frequency after it: from 0 taken at once, a step of 10
  // smoothed, of 9 taken, of 290 taken, of 50 smoothed.
  const int steps[][2] = {
      {50, 5000}, {51, 5001}, {51, 5010}, {80, 5300}, {75, 5295}};
  for (const auto& step : steps) {
    ASSERT_EQ(Decode(100, 10, 50, static_cast<uint8_t>(step[0]), 0x00), 0);
    EXPECT_EQ(Value(&P99Proxy::GetFrequency), step[1]) << step[0];
  }
}

TEST_F(P99ProxyTest, CapacityMovesOneWayUntilTheLoadMoves) {
  StartIdentified();
  // d2 (load), d3 (capacity), d6 (flags) and the capacity after it: on
  // battery under 10 percent load it stays at 0; a load step of 4 percent
  // lets the reading through; then on battery it never rises and on mains
  // it never falls.
  const int polls[][4] = {{3, 197, 0x80, 0},      {3, 197, 0x80, 0},
                          {88, 197, 0x80, 10000}, {88, 174, 0x80, 5000},
                          {88, 197, 0x80, 5000},  {66, 197, 0x00, 10000},
                          {66, 197, 0x00, 10000}, {66, 174, 0x00, 10000}};
  for (const auto& poll : polls) {
    ASSERT_EQ(Decode(123, static_cast<uint8_t>(poll[0]),
                     static_cast<uint8_t>(poll[1]), 178,
                     static_cast<uint8_t>(poll[2])),
              0);
    EXPECT_EQ(Value(&P99Proxy::GetBatteryCapacity), poll[3])
        << poll[0] << " " << poll[1] << " " << poll[2];
  }
}

TEST_F(P99ProxyTest, TapRatioKeepsHighInputVoltagesPositive) {
  // A 230 V class-4 unit with item 29 set uses tap ratios; an input of
  // 333 V (33300) would turn negative if cut to 16 bits.
  unit_.model = "KV500";
  unit_.registers[0x29] = 0x10;
  unit_.registers[0x3D] = 0x10;
  StartIdentified();
  ASSERT_EQ(Decode(160, 10, 197, 178, 0x10), 0);
  EXPECT_EQ(Value(&P99Proxy::GetInputVoltage), 33300);
  EXPECT_EQ(Value(&P99Proxy::GetOutputVoltage), 33300 * 120 / 140);
  // Tap position 0 passes the input through.
  ASSERT_EQ(Decode(160, 10, 197, 178, 0x00), 0);
  EXPECT_EQ(Value(&P99Proxy::GetOutputVoltage), 33300);
}

TEST_F(P99ProxyTest, FailedOwnerReadKeepsTheFlagsButNotTheMeasurements) {
  ASSERT_EQ(Start(), 0);
  // The battery-out setting is still unread when the unit falls silent
  // with DSR low: the owner's register read ends with 8.
  unit_.silent_requests = 100;
  media_->SetInputPins(0);
  EXPECT_EQ(Decode(123, 10, 197, 178, 0x81), 8);
  EXPECT_EQ(Value(&P99Proxy::GetPowerFail), 1);
  EXPECT_EQ(Value(&P99Proxy::GetBuzzerActive), 1);
  EXPECT_EQ(Value(&P99Proxy::GetInputVoltage), 0);
}

}  // namespace

#include "agent/protocol/t_protocol.h"

#include <memory>
#include <new>

#include "agent/media/i_media.h"
#include "agent/protocol/t_commands.h"
#include "agent/protocol/t_number.h"
#include "agent/protocol/t_reply.h"

namespace {

// Property cells; 6 and 33 to 37 are not used.
enum Cell : int {
  kInputHigh = 0,
  kInputLow = 1,
  kBatteryLowLevel = 2,
  kBatteryOut = 3,
  kColdStart = 4,
  kSetting5 = 5,
  kBuzzerSetting = 7,
  kInputHighRange = 8,
  kInputLowRange = 9,
  kBatteryLowRange = 10,
  kBatteryOutRange = 11,
  kModelName = 12,
  kFirmwareVersion = 13,
  kText3 = 14,
  kText4 = 15,
  kRatedVoltage = 16,
  kRatedFrequencyLow = 17,
  kRatedFrequencyHigh = 18,
  kRatedVA = 19,
  kRatedWatt = 20,
  kLineSpeed = 21,
  kPortTypeCell = 22,
  kMediaTypeCell = 23,
  kMediaIndexCell = 24,
  kBatteryVoltage = 25,
  kBatteryCountCell = 26,
  kBatteryAmpHours = 27,
  kExternalBatteries = 28,
  kOption46 = 29,
  kOption47 = 30,
  kOption52 = 31,
  kOption53 = 32,
};

// The property queries and what they fill.
constexpr int32_t kSettingsQuery = 1;  // P1: the four limits
constexpr int32_t kRatingsQuery = 2;   // P2
constexpr int32_t kBatteryQuery = 3;   // P3
constexpr int32_t kIdentityQuery = 4;  // P4: four texts
constexpr int32_t kOutRangeQuery = 5;  // P5 to P8: range texts
constexpr int32_t kHighRangeQuery = 6;
constexpr int32_t kLowRangeQuery = 7;
constexpr int32_t kBatteryLowRangeQuery = 8;
constexpr int32_t kOptionsQuery = 9;  // P9: option bits

constexpr int kSettingsCells[] = {kBatteryOut, kInputHigh, kInputLow,
                                  kBatteryLowLevel};
constexpr int kRatingsCells[] = {kRatedVA, kRatedWatt, kRatedVoltage,
                                 kRatedFrequencyLow, kRatedFrequencyHigh};
constexpr int kBatteryCells[] = {kBatteryVoltage, kBatteryCountCell,
                                 kBatteryAmpHours, kExternalBatteries};
constexpr int kIdentityCells[] = {kModelName, kFirmwareVersion, kText3, kText4};

constexpr int32_t kQueryAttempts = 2;
constexpr int32_t kSettingAttempts = 2;
constexpr int32_t kPollAttempts = 3;

// The numbered settings of the unit.
constexpr int32_t kSettingBatteryOut = 1;
constexpr int32_t kSettingInputHigh = 2;
constexpr int32_t kSettingInputLow = 3;
constexpr int32_t kSettingBatteryLow = 4;
constexpr int32_t kSettingFive = 5;
constexpr int32_t kSettingColdStart = 6;
constexpr int32_t kSettingBuzzer = 7;
constexpr int32_t kBuzzerCancelValue = 2;

constexpr int kNoCell = -1;

int32_t Report(int32_t source, int32_t* value) {
  *value = source;
  return result::kSuccess;
}

}  // namespace

TProtocol::TProtocol(IMedia* media, Clock* clock)
    : media_(media), exchange_(media, clock) {
  cells_[kPortTypeCell].StoreNumber(PropertyCell::kCurrent, kPortType);
  cells_[kLineSpeed].StoreNumber(PropertyCell::kCurrent, kBaudRate);
  cells_[kMediaTypeCell].StoreNumber(PropertyCell::kCurrent, media_->GetType());
  cells_[kMediaIndexCell].StoreNumber(PropertyCell::kCurrent,
                                      media_->GetIndex());
  cells_[kColdStart].StoreNumber(PropertyCell::kDefault, 1);
  cells_[kSetting5].StoreNumber(PropertyCell::kDefault, 1);
  cells_[kBuzzerSetting].StoreNumber(PropertyCell::kDefault, 1);

  media_->SetBaudRate(kBaudRate);
  media_->SetPinState(pin::kRts, 0);
  media_->SetPinState(pin::kDtr, 1);

  CommandFrame wake;
  wake.SetText("\r\r", -1);
  exchange_.Exchange(&wake);
}

TProtocol::~TProtocol() { media_->SetPinState(pin::kDtr, 0); }

// ---- Status reads -------------------------------------------------------

int32_t TProtocol::GetInputVoltage(int32_t* value) {
  return Report(snapshot_.input_voltage, value);
}
int32_t TProtocol::GetOutputVoltage(int32_t* value) {
  return Report(snapshot_.output_voltage, value);
}
int32_t TProtocol::GetBatteryCapacity(int32_t* value) {
  return Report(snapshot_.capacity, value);
}
int32_t TProtocol::GetLoad(int32_t* value) {
  return Report(snapshot_.load, value);
}
int32_t TProtocol::GetTemperature(int32_t* value) {
  return Report(snapshot_.temperature, value);
}
int32_t TProtocol::GetFrequency(int32_t* value) {
  return Report(snapshot_.frequency, value);
}
int32_t TProtocol::GetBackupTime(int32_t* value) {
  return Report(snapshot_.backup_time, value);
}
int32_t TProtocol::GetPowerFail(int32_t* value) {
  return Report(snapshot_.power_fail, value);
}
int32_t TProtocol::GetBatteryLow(int32_t* value) {
  return Report(snapshot_.battery_low, value);
}
int32_t TProtocol::GetTestActive(int32_t* value) {
  return Report(snapshot_.test_active, value);
}
int32_t TProtocol::GetShutdownActive(int32_t* value) {
  return Report(snapshot_.shutdown_active, value);
}
int32_t TProtocol::GetStatusFlag11(int32_t* value) {
  return Report(snapshot_.flag11, value);
}
int32_t TProtocol::GetConnected(int32_t* value) { return Report(1, value); }
int32_t TProtocol::GetBuzzerActive(int32_t* value) {
  return Report(snapshot_.buzzer_active, value);
}

// ---- Poll ---------------------------------------------------------------

int32_t TProtocol::Poll() {
  CommandFrame frame;
  frame.SetText("D\r", -1);
  // Before a retry, an empty write flushes the line and whatever the unit
  // still sends is read and dropped.
  auto drain = [this](int32_t) {
    CommandFrame empty;
    exchange_.Exchange(&empty);
  };
  auto check = [this](const CommandFrame& reply) {
    std::string_view payload;
    if (!ExtractPayload(reply, &payload)) return result::kMalformedAnswer;
    return DecodeStatus(payload);
  };
  return exchange_.Run(&frame, kPollAttempts, drain, check);
}

int32_t TProtocol::DecodeStatus(std::string_view payload) {
  int32_t hexadecimal = 0;
  int32_t code = GetProperty53(&hexadecimal);
  if (code != result::kSuccess) return code;
  int32_t amp_hours = 0;
  int32_t battery_count = 0;
  if ((code = GetBatteryAmpHours(&amp_hours)) != result::kSuccess) return code;
  if ((code = GetBatteryCount(&battery_count)) != result::kSuccess) return code;

  const TStatusFields fields = SplitStatusFields(payload);
  const std::string_view status = fields.field[TStatusFields::kStatus];
  if (!fields.AllPresent() || status.size() < 2) {
    return result::kMalformedAnswer;
  }
  const int base = hexadecimal != 0 ? 16 : 10;
  Snapshot next;
  next.input_voltage =
      ParseHundredths(fields.field[TStatusFields::kInput], base);
  next.output_voltage =
      ParseHundredths(fields.field[TStatusFields::kOutput], base);
  next.load = ParseHundredths(fields.field[TStatusFields::kLoad], base);
  next.capacity = ParseHundredths(fields.field[TStatusFields::kCapacity], base);
  next.temperature =
      ParseHundredths(fields.field[TStatusFields::kTemperature], base);
  next.frequency =
      ParseHundredths(fields.field[TStatusFields::kFrequency], base);
  next.backup_time =
      EstimateBackupTime(amp_hours, battery_count, next.capacity, next.load);

  const TStatusFlags flags = DecodeStatusByte(static_cast<uint8_t>(status[0]));
  next.power_fail = flags.power_fail;
  next.battery_low = flags.battery_low;
  next.shutdown_active = flags.shutdown_active;
  next.flag11 = flags.flag11;
  next.test_active = flags.test_active;
  next.buzzer_active = flags.buzzer_active;
  snapshot_ = next;
  return result::kSuccess;
}

// ---- Property queries ---------------------------------------------------

int32_t TProtocol::Query(int32_t number) {
  char text[8];
  snprintf(text, sizeof text, "P%d\r", static_cast<int>(number));
  CommandFrame frame;
  frame.SetText(text, -1);
  return exchange_.Run(&frame, kQueryAttempts,
                       [this, number](const CommandFrame& reply) {
                         std::string_view payload;
                         if (!ExtractPayload(reply, &payload)) {
                           return result::kMalformedAnswer;
                         }
                         return ParseQueryAnswer(number, payload);
                       });
}

int32_t TProtocol::ParseQueryAnswer(int32_t number, std::string_view payload) {
  switch (number) {
    case kSettingsQuery:
      return ParseNumberList(payload, kSettingsCells, 4, 100);
    case kRatingsQuery:
      return ParseNumberList(payload, kRatingsCells, 5, 1);
    case kBatteryQuery:
      return ParseNumberList(payload, kBatteryCells, 4, 1);
    case kIdentityQuery:
      return ParseIdentification(payload);
    case kOutRangeQuery:
      return cells_[kBatteryOutRange].StoreText(PropertyCell::kCurrent,
                                                TrimRangeText(payload).c_str());
    case kHighRangeQuery:
      return cells_[kInputHighRange].StoreText(PropertyCell::kCurrent,
                                               TrimRangeText(payload).c_str());
    case kLowRangeQuery:
      return cells_[kInputLowRange].StoreText(PropertyCell::kCurrent,
                                              TrimRangeText(payload).c_str());
    case kBatteryLowRangeQuery:
      return cells_[kBatteryLowRange].StoreText(PropertyCell::kCurrent,
                                                TrimRangeText(payload).c_str());
    case kOptionsQuery:
      return ParseOptions(payload);
    default:
      return result::kNotSupported;
  }
}

int32_t TProtocol::ParseNumberList(std::string_view payload, const int* cells,
                                   int32_t count, int32_t divisor) {
  TFieldList list(payload);
  for (int32_t i = 0; i < count; ++i) {
    std::string_view field;
    if (!list.Next(i == count - 1, &field)) return result::kMalformedAnswer;
    const int32_t value = ParseHundredths(field, 10) / divisor;
    const int32_t code =
        cells_[cells[i]].StoreNumber(PropertyCell::kCurrent, value);
    if (code != result::kSuccess) return code;
  }
  return result::kSuccess;
}

int32_t TProtocol::ParseIdentification(std::string_view payload) {
  TFieldList list(payload);
  const int32_t count = static_cast<int32_t>(std::size(kIdentityCells));
  for (int32_t i = 0; i < count; ++i) {
    std::string_view field;
    if (!list.Next(i == count - 1, &field)) return result::kMalformedAnswer;
    // The copy ends the word with a NUL; a NUL inside it simply cuts it.
    const std::string word(FirstWord(field));
    const int32_t code = cells_[kIdentityCells[i]].StoreText(
        PropertyCell::kCurrent, word.c_str());
    if (code != result::kSuccess) return code;
  }
  return result::kSuccess;
}

int32_t TProtocol::ParseOptions(std::string_view payload) {
  TOptionBits bits;
  if (!DecodeOptionBits(payload, &bits)) return result::kMalformedAnswer;
  const struct {
    int cell;
    int32_t value;
  } stores[] = {{kOption52, bits.option52},    {kOption53, bits.option53},
                {kOption47, bits.option47},    {kOption46, bits.option46},
                {kColdStart, bits.cold_start}, {kSetting5, bits.setting5},
                {kBuzzerSetting, bits.buzzer}};
  for (const auto& store : stores) {
    const int32_t code =
        cells_[store.cell].StoreNumber(PropertyCell::kCurrent, store.value);
    if (code != result::kSuccess) return code;
  }
  return result::kSuccess;
}

// ---- Property accessors -------------------------------------------------

int32_t TProtocol::ReadNumber(int cell, int32_t query, int32_t* value) {
  return ReadNumberOrQuery(cells_[cell], value,
                           [this, query] { return Query(query); });
}

int32_t TProtocol::ReadText(int cell, int32_t query, char* buffer,
                            int32_t* size) {
  return ReadTextOrQuery(cells_[cell], buffer, size,
                         [this, query] { return Query(query); });
}

int32_t TProtocol::ReadLimit(int cell, int32_t* value, int32_t which,
                             int32_t (TProtocol::*range)(char*, int32_t*)) {
  if (which == 0) return ReadNumber(cell, kSettingsQuery, value);

  PropertyCell& limit = cells_[cell];
  if (limit.ReadNumber(PropertyCell::kDefault, value) == result::kSuccess) {
    return result::kSuccess;
  }
  int32_t size = 0;
  const int32_t sized = (this->*range)(nullptr, &size);
  if (sized != result::kBufferTooSmall) return sized;
  if (size <= 0) return result::kNotSupported;
  std::unique_ptr<char[]> text(new (std::nothrow) char[size]);
  if (!text) return result::kOutOfMemory;
  if ((this->*range)(text.get(), &size) == result::kSuccess) {
    const int32_t code =
        limit.StoreNumber(PropertyCell::kDefault, MiddleRangeValue(text.get()));
    if (code != result::kSuccess) return code;
  }
  return limit.ReadNumber(PropertyCell::kDefault, value);
}

int32_t TProtocol::ReadSwitch(int cell, int32_t* value, int32_t which) {
  if (which == 0) return ReadNumber(cell, kOptionsQuery, value);
  return cells_[cell].ReadNumber(PropertyCell::kDefault, value);
}

int32_t TProtocol::GetInputHigh(int32_t* value, int32_t which) {
  return ReadLimit(kInputHigh, value, which, &TProtocol::GetInputHighRange);
}
int32_t TProtocol::GetInputLow(int32_t* value, int32_t which) {
  return ReadLimit(kInputLow, value, which, &TProtocol::GetInputLowRange);
}
int32_t TProtocol::GetBatteryLowLevel(int32_t* value, int32_t which) {
  return ReadLimit(kBatteryLowLevel, value, which,
                   &TProtocol::GetBatteryLowRange);
}
int32_t TProtocol::GetBatteryOut(int32_t* value, int32_t which) {
  return ReadLimit(kBatteryOut, value, which, &TProtocol::GetBatteryOutRange);
}
int32_t TProtocol::GetColdStart(int32_t* value, int32_t which) {
  return ReadSwitch(kColdStart, value, which);
}
int32_t TProtocol::GetProperty5(int32_t* value, int32_t which) {
  return ReadSwitch(kSetting5, value, which);
}
int32_t TProtocol::GetProperty6(int32_t* value, int32_t /*which*/) {
  return Report(0, value);
}

int32_t TProtocol::GetInputHighRange(char* buffer, int32_t* size) {
  return ReadText(kInputHighRange, kHighRangeQuery, buffer, size);
}
int32_t TProtocol::GetInputLowRange(char* buffer, int32_t* size) {
  return ReadText(kInputLowRange, kLowRangeQuery, buffer, size);
}
int32_t TProtocol::GetBatteryLowRange(char* buffer, int32_t* size) {
  return ReadText(kBatteryLowRange, kBatteryLowRangeQuery, buffer, size);
}
int32_t TProtocol::GetBatteryOutRange(char* buffer, int32_t* size) {
  return ReadText(kBatteryOutRange, kOutRangeQuery, buffer, size);
}
int32_t TProtocol::GetText33(char* buffer, int32_t* size) {
  return ReadText(kText4, kIdentityQuery, buffer, size);
}
int32_t TProtocol::GetModelName(char* buffer, int32_t* size) {
  return ReadText(kModelName, kIdentityQuery, buffer, size);
}
int32_t TProtocol::GetFirmwareVersion(char* buffer, int32_t* size) {
  return ReadText(kFirmwareVersion, kIdentityQuery, buffer, size);
}
int32_t TProtocol::GetText36(char* buffer, int32_t* size) {
  return ReadText(kText3, kIdentityQuery, buffer, size);
}

int32_t TProtocol::GetRatedVoltage(int32_t* value) {
  return ReadNumber(kRatedVoltage, kRatingsQuery, value);
}
int32_t TProtocol::GetRatedFrequencyLow(int32_t* value) {
  return ReadNumber(kRatedFrequencyLow, kRatingsQuery, value);
}
int32_t TProtocol::GetRatedFrequencyHigh(int32_t* value) {
  return ReadNumber(kRatedFrequencyHigh, kRatingsQuery, value);
}
int32_t TProtocol::GetRatedVA(int32_t* value) {
  return ReadNumber(kRatedVA, kRatingsQuery, value);
}
int32_t TProtocol::GetRatedWatt(int32_t* value) {
  return ReadNumber(kRatedWatt, kRatingsQuery, value);
}

// The fixed cells are filled at construction and never queried.
int32_t TProtocol::GetPortType(int32_t* value) {
  return cells_[kPortTypeCell].ReadNumber(PropertyCell::kCurrent, value);
}
int32_t TProtocol::GetMediaType(int32_t* value) {
  return cells_[kMediaTypeCell].ReadNumber(PropertyCell::kCurrent, value);
}
int32_t TProtocol::GetMediaIndex(int32_t* value) {
  return cells_[kMediaIndexCell].ReadNumber(PropertyCell::kCurrent, value);
}
int32_t TProtocol::GetBaudRate(int32_t* value) {
  return cells_[kLineSpeed].ReadNumber(PropertyCell::kCurrent, value);
}

int32_t TProtocol::GetProperty46(int32_t* value) {
  return ReadNumber(kOption46, kOptionsQuery, value);
}
int32_t TProtocol::GetProperty47(int32_t* value) {
  return ReadNumber(kOption47, kOptionsQuery, value);
}
int32_t TProtocol::GetBatteryVoltage(int32_t* value) {
  return ReadNumber(kBatteryVoltage, kBatteryQuery, value);
}
int32_t TProtocol::GetBatteryCount(int32_t* value) {
  int32_t hundredths = 0;
  const int32_t code =
      ReadNumber(kBatteryCountCell, kBatteryQuery, &hundredths);
  if (code != result::kSuccess) return code;
  return Report(hundredths / 100, value);
}
int32_t TProtocol::GetBatteryAmpHours(int32_t* value) {
  return ReadNumber(kBatteryAmpHours, kBatteryQuery, value);
}
int32_t TProtocol::GetExternalBatteries(int32_t* value) {
  int32_t hundredths = 0;
  const int32_t code =
      ReadNumber(kExternalBatteries, kBatteryQuery, &hundredths);
  if (code != result::kSuccess) return code;
  return Report(hundredths / 100, value);
}
int32_t TProtocol::GetProperty52(int32_t* value) {
  return ReadNumber(kOption52, kOptionsQuery, value);
}
int32_t TProtocol::GetProperty53(int32_t* value) {
  return ReadNumber(kOption53, kOptionsQuery, value);
}
int32_t TProtocol::GetBuzzerSetting(int32_t* value) {
  int32_t setting = 0;
  const int32_t code = ReadNumber(kBuzzerSetting, kOptionsQuery, &setting);
  if (code != result::kSuccess) return code;
  return Report(setting != 0 ? 1 : 0, value);
}

// ---- Settings and commands ----------------------------------------------

int32_t TProtocol::SendSetting(int32_t setting, int32_t value, int32_t digits,
                               int cell) {
  const int32_t code = SendAcknowledged(SettingCommand(setting, value, digits),
                                        kSettingAttempts);
  if (code != result::kSuccess || cell == kNoCell) return code;
  return cells_[cell].StoreNumber(PropertyCell::kCurrent, value);
}

int32_t TProtocol::SendAcknowledged(const std::string& command,
                                    int32_t attempts) {
  CommandFrame frame;
  frame.SetText(command.c_str(), -1);
  int32_t acknowledgement = 0;
  // A well-formed answer ends the attempts, a refusal included.
  const int32_t code = exchange_.Run(
      &frame, attempts, [&acknowledgement](const CommandFrame& reply) {
        std::string_view payload;
        if (!ExtractPayload(reply, &payload)) return result::kMalformedAnswer;
        acknowledgement = ParseAcknowledgement(payload);
        return result::kSuccess;
      });
  if (code != result::kSuccess) return code;
  return acknowledgement > 0 ? result::kNotSupported : result::kSuccess;
}

int32_t TProtocol::SetInputHigh(int32_t value) {
  return SendSetting(kSettingInputHigh, value, 3, kInputHigh);
}
int32_t TProtocol::SetInputLow(int32_t value) {
  return SendSetting(kSettingInputLow, value, 3, kInputLow);
}
int32_t TProtocol::SetBatteryLowLevel(int32_t value) {
  return SendSetting(kSettingBatteryLow, value, 2, kBatteryLowLevel);
}
int32_t TProtocol::SetBatteryOut(int32_t value) {
  return SendSetting(kSettingBatteryOut, value, 3, kBatteryOut);
}
int32_t TProtocol::SetColdStart(int32_t value) {
  return SendSetting(kSettingColdStart, value, 1, kColdStart);
}
int32_t TProtocol::SetProperty5(int32_t value) {
  return SendSetting(kSettingFive, value, 1, kSetting5);
}
int32_t TProtocol::SetProperty6(int32_t /*value*/) {
  return result::kNotSupported;
}
int32_t TProtocol::SetBuzzer(bool on) {
  return SendSetting(kSettingBuzzer, on ? 1 : 0, 1, kBuzzerSetting);
}
int32_t TProtocol::CancelCommand() {
  return SendSetting(kSettingBuzzer, kBuzzerCancelValue, 1, kNoCell);
}

int32_t TProtocol::StartTest(int32_t seconds) {
  CommandFrame frame;
  frame.SetText(TestCommand(seconds).c_str(), -1);
  // The unit's answer to a test command carries nothing the agent uses.
  return exchange_.Run(&frame, 1,
                       [](const CommandFrame&) { return result::kSuccess; });
}

int32_t TProtocol::ShutdownRestore(int32_t delay, int32_t restore) {
  return SendAcknowledged(ShutdownRestoreCommand(delay, restore), 1);
}

int32_t TProtocol::Shutdown(int32_t delay) {
  return SendAcknowledged(ShutdownCommand(delay), 1);
}

#include "agent/protocol/p99_protocol.h"

#include <cstring>
#include <initializer_list>

#include "agent/media/i_media.h"
#include "agent/protocol/p99_proxy.h"
#include "agent/protocol/property_cell.h"

namespace {

constexpr uint8_t kCr = 0x0D;

// Attempts of each exchange.
constexpr int32_t kPollAttempts = 3;
constexpr int32_t kIdentificationAttempts = 3;
constexpr int32_t kInfoTextAttempts = 2;
constexpr int32_t kRegisterAttempts = 2;

// Reply lengths.
constexpr int32_t kStatusLength = 14;
constexpr int32_t kIdentificationLength = 21;
constexpr int32_t kInfoTextLength = 22;

// Seconds per tick of the unit's timers.
constexpr double kTickSeconds = 0.131;
constexpr float kTickSecondsSingle = 0.131f;

// Sets a frame to the bytes and the reply length.
void Load(CommandFrame* frame, std::initializer_list<uint8_t> bytes,
          int32_t reply_length) {
  frame->Set(bytes.begin(), static_cast<int32_t>(bytes.size()), reply_length);
}

// Tick count of a time in seconds, truncated toward zero, as raw bits for
// the byte fields (a negative count keeps its two's complement low bits).
// 64 bits hold the count of any 32-bit time, so the conversion is defined.
uint64_t Ticks(int64_t seconds) {
  return static_cast<uint64_t>(
      static_cast<int64_t>(static_cast<double>(seconds) / kTickSeconds));
}

// The check of a reply that must repeat the first `count` bytes sent.
int32_t CheckEcho(const CommandFrame& frame, int32_t count) {
  return std::memcmp(frame.reply, frame.command, static_cast<size_t>(count)) ==
                 0
             ? result::kSuccess
             : result::kMalformedAnswer;
}

}  // namespace

P99Protocol::P99Protocol(IMedia* media, Clock* clock)
    : media_(media), proxy_(new P99Proxy(this)), exchange_(media, clock) {
  proxy_->StoreNumber(P99Proxy::kCellPortType, kPortType);
  proxy_->StoreNumber(P99Proxy::kCellBaudRate, kBaudRate);
  proxy_->StoreNumber(P99Proxy::kCellMediaType, media_->GetType());
  proxy_->StoreNumber(P99Proxy::kCellMediaIndex, media_->GetIndex());

  media_->SetBaudRate(kBaudRate);
  media_->SetPinState(pin::kRts, 0);
  media_->SetPinState(pin::kDtr, 1);

  // Wake the unit; whatever it answers is of no interest.
  CommandFrame wake;
  Load(&wake, {kCr, kCr}, -1);
  exchange_.Exchange(&wake);
}

P99Protocol::~P99Protocol() {
  proxy_.reset();
  media_->SetPinState(pin::kDtr, 0);
}

void P99Protocol::Release() { delete this; }

// ----- Forwarded to the proxy -------------------------------------------

#define P99_FORWARD(Name) \
  int32_t P99Protocol::Name(int32_t* value) { return proxy_->Name(value); }

P99_FORWARD(GetInputVoltage)
P99_FORWARD(GetOutputVoltage)
P99_FORWARD(GetBatteryCapacity)
P99_FORWARD(GetLoad)
P99_FORWARD(GetTemperature)
P99_FORWARD(GetFrequency)
P99_FORWARD(GetBackupTime)
P99_FORWARD(GetPowerFail)
P99_FORWARD(GetBatteryLow)
P99_FORWARD(GetTestActive)
P99_FORWARD(GetShutdownActive)
P99_FORWARD(GetStatusFlag11)
P99_FORWARD(GetConnected)
P99_FORWARD(GetBuzzerActive)
P99_FORWARD(GetPortType)
P99_FORWARD(GetMediaType)
P99_FORWARD(GetMediaIndex)
P99_FORWARD(GetBaudRate)
P99_FORWARD(GetProperty47)
#undef P99_FORWARD

int32_t P99Protocol::GetInputHighRange(char* buffer, int32_t* size) {
  return proxy_->GetInputHighRange(buffer, size);
}
int32_t P99Protocol::GetInputLowRange(char* buffer, int32_t* size) {
  return proxy_->GetInputLowRange(buffer, size);
}
int32_t P99Protocol::GetBatteryLowRange(char* buffer, int32_t* size) {
  return proxy_->GetBatteryLowRange(buffer, size);
}
int32_t P99Protocol::GetBatteryOutRange(char* buffer, int32_t* size) {
  return proxy_->GetBatteryOutRange(buffer, size);
}

int32_t P99Protocol::GetProperty52(int32_t* value) {
  *value = 0;
  return result::kSuccess;
}
int32_t P99Protocol::GetProperty53(int32_t* value) {
  *value = 0;
  return result::kSuccess;
}

// ----- Proxy first, the unit on a miss -----------------------------------

int32_t P99Protocol::GetText33(char* buffer, int32_t* size) {
  return ReadOrQuery([&] { return proxy_->GetText33(buffer, size); },
                     [&] { return ReadInfoText(); });
}

#define P99_IDENTIFIED_TEXT(Name)                                  \
  int32_t P99Protocol::Name(char* buffer, int32_t* size) {         \
    return ReadOrQuery([&] { return proxy_->Name(buffer, size); }, \
                       [&] { return ReadIdentification(); });      \
  }
#define P99_IDENTIFIED_NUMBER(Name)                           \
  int32_t P99Protocol::Name(int32_t* value) {                 \
    return ReadOrQuery([&] { return proxy_->Name(value); },   \
                       [&] { return ReadIdentification(); }); \
  }

P99_IDENTIFIED_TEXT(GetModelName)
P99_IDENTIFIED_TEXT(GetFirmwareVersion)
P99_IDENTIFIED_NUMBER(GetRatedVoltage)
P99_IDENTIFIED_NUMBER(GetRatedFrequencyLow)
P99_IDENTIFIED_NUMBER(GetRatedFrequencyHigh)
P99_IDENTIFIED_NUMBER(GetModelIndex)
P99_IDENTIFIED_NUMBER(GetModelClass)
#undef P99_IDENTIFIED_TEXT
#undef P99_IDENTIFIED_NUMBER

// ----- Settings -----------------------------------------------------------

int32_t P99Protocol::SetInputHigh(int32_t value) {
  return WriteSetting(0, value);
}
int32_t P99Protocol::SetInputLow(int32_t value) {
  return WriteSetting(1, value);
}
int32_t P99Protocol::SetBatteryLowLevel(int32_t value) {
  return WriteSetting(2, value);
}
int32_t P99Protocol::SetBatteryOut(int32_t value) {
  return WriteSetting(3, value);
}
int32_t P99Protocol::SetColdStart(int32_t value) {
  return WriteSetting(4, value);
}
int32_t P99Protocol::SetProperty5(int32_t value) {
  return WriteSetting(5, value);
}
int32_t P99Protocol::SetProperty6(int32_t value) {
  return WriteSetting(6, value);
}

int32_t P99Protocol::GetInputHigh(int32_t* value, int32_t which) {
  return ReadSetting(0, value, which);
}
int32_t P99Protocol::GetInputLow(int32_t* value, int32_t which) {
  return ReadSetting(1, value, which);
}
int32_t P99Protocol::GetBatteryLowLevel(int32_t* value, int32_t which) {
  return ReadSetting(2, value, which);
}
int32_t P99Protocol::GetBatteryOut(int32_t* value, int32_t which) {
  return ReadSetting(3, value, which);
}
int32_t P99Protocol::GetColdStart(int32_t* value, int32_t which) {
  return ReadSetting(4, value, which);
}
int32_t P99Protocol::GetProperty5(int32_t* value, int32_t which) {
  return ReadSetting(5, value, which);
}
int32_t P99Protocol::GetProperty6(int32_t* value, int32_t which) {
  return ReadSetting(6, value, which);
}
int32_t P99Protocol::GetProperty46(int32_t* value) {
  return ReadSetting(P99Proxy::kItem29, value, 0);
}
int32_t P99Protocol::GetVoltageClass(int32_t* value) {
  return ReadSetting(P99Proxy::kItemVoltageClass, value, 0);
}
int32_t P99Protocol::GetVoltageVariant(int32_t* value, int32_t which) {
  return ReadSetting(P99Proxy::kItemVoltageVariant, value, which);
}

int32_t P99Protocol::ReadProxyItem(int32_t item, int32_t* out, int32_t which) {
  switch (item) {
    case 0:
      return proxy_->GetInputHigh(out, which);
    case 1:
      return proxy_->GetInputLow(out, which);
    case 2:
      return proxy_->GetBatteryLowLevel(out, which);
    case 3:
      return proxy_->GetBatteryOut(out, which);
    case 4:
      return proxy_->GetColdStart(out, which);
    case 5:
      return proxy_->GetProperty5(out, which);
    case 6:
      return proxy_->GetProperty6(out, which);
    case P99Proxy::kItem29:
      return proxy_->GetProperty46(out);
    case P99Proxy::kItemVoltageClass:
      return proxy_->GetVoltageClass(out);
    case P99Proxy::kItemVoltageVariant:
      return proxy_->GetVoltageVariant(out, which);
    default:
      return result::kNoTableItem;
  }
}

int32_t P99Protocol::ReadSetting(int32_t item, int32_t* out, int32_t which) {
  // Defaults come from the table selection, never from the unit.
  if (which != 0) return ReadProxyItem(item, out, which);
  return ReadOrQuery([&] { return ReadProxyItem(item, out, 0); },
                     [&] { return FetchSetting(item, out); });
}

int32_t P99Protocol::FetchSetting(int32_t item, int32_t* out) {
  uint8_t reg = 0;
  const int32_t found = proxy_->GetSettingRegister(item, &reg);
  if (found != result::kSuccess) return found;
  CommandFrame frame;
  Load(&frame, {'R', reg, kCr}, 2);
  const int32_t code =
      exchange_.Run(&frame, kRegisterAttempts, [](const CommandFrame& f) {
        return f.reply[0] == 'R' ? result::kSuccess : result::kMalformedAnswer;
      });
  if (code != result::kSuccess) return code;
  return proxy_->DecodeSetting(item, frame.reply[1], out);
}

int32_t P99Protocol::WriteSetting(int32_t item, int32_t value) {
  int32_t current = 0;
  const int32_t read = ReadSetting(item, &current, 0);
  if (read != result::kSuccess) return read;
  if (current == value) return result::kSuccess;

  uint8_t reg = 0;
  uint8_t byte = 0;
  int32_t code = proxy_->GetSettingRegister(item, &reg);
  if (code != result::kSuccess) return code;
  code = proxy_->EncodeSetting(item, value, &byte);
  if (code != result::kSuccess) return code;

  CommandFrame frame;
  Load(&frame, {'Q', reg, byte, kCr}, 3);
  code = exchange_.Run(&frame, kRegisterAttempts,
                       [](const CommandFrame& f) { return CheckEcho(f, 3); });
  // The unit did not confirm: the cache goes back to what it last reported.
  // This includes a lost link (8), so the cache never claims a value the
  // unit may not hold.
  if (code != result::kSuccess) proxy_->StoreNumber(item, current);
  return code;
}

// ----- Identification and info text ----------------------------------------

int32_t P99Protocol::ReadIdentification() {
  CommandFrame frame;
  Load(&frame, {'F', kCr}, kIdentificationLength);
  int32_t code =
      exchange_.Run(&frame, kIdentificationAttempts, [](const CommandFrame& f) {
        const uint8_t* r = f.reply;
        const bool framed = r[0] == '.' && r[11] == '.' && r[13] == '.' &&
                            r[15] == '.' && r[20] == kCr;
        return framed ? result::kSuccess : result::kMalformedAnswer;
      });
  if (code != result::kSuccess) return code;
  const uint8_t* r = frame.reply;

  // The rating bytes are unsigned: a 230 V unit sends 230.
  const int32_t rated_voltage = int32_t{r[12]} * 100;
  const int32_t rated_frequency = int32_t{r[14]} * 100;
  code = proxy_->StoreNumber(P99Proxy::kCellRatedVoltage, rated_voltage);
  if (code != result::kSuccess) return code;
  code = proxy_->StoreNumber(P99Proxy::kCellRatedFrequencyLow, rated_frequency);
  if (code != result::kSuccess) return code;
  code =
      proxy_->StoreNumber(P99Proxy::kCellRatedFrequencyHigh, rated_frequency);
  if (code != result::kSuccess) return code;

  // Model text: bytes 1-10 without the trailing blanks and CRs.
  char model[11] = {};
  int32_t end = 10;
  while (end >= 1 && (r[end] == ' ' || r[end] == kCr)) --end;
  for (int32_t i = 1; i <= end; ++i) model[i - 1] = static_cast<char>(r[i]);
  code = proxy_->StoreText(P99Proxy::kCellModelText, model);
  if (code != result::kSuccess) return code;

  const char firmware[6] = {static_cast<char>(r[16]), '.',
                            static_cast<char>(r[17]), static_cast<char>(r[18]),
                            static_cast<char>(r[19]), '\0'};
  code = proxy_->StoreText(P99Proxy::kCellFirmware, firmware);
  if (code != result::kSuccess) return code;

  return proxy_->IdentifyModel();
}

int32_t P99Protocol::ReadInfoText() {
  CommandFrame frame;
  Load(&frame, {'N', kCr}, kInfoTextLength);
  const int32_t code =
      exchange_.Run(&frame, kInfoTextAttempts, [](const CommandFrame& f) {
        return f.reply[0] == '.' && f.reply[21] == kCr
                   ? result::kSuccess
                   : result::kMalformedAnswer;
      });
  if (code != result::kSuccess) return code;
  char text[21];
  std::memcpy(text, frame.reply + 1, 20);
  text[20] = '\0';
  return proxy_->StoreText(P99Proxy::kCellInfoText, text);
}

// ----- Status poll --------------------------------------------------------

int32_t P99Protocol::Poll() {
  CommandFrame frame;
  Load(&frame, {'D', kCr}, kStatusLength);
  return exchange_.Run(&frame, kPollAttempts, [this](const CommandFrame& f) {
    const uint8_t* r = f.reply;
    const bool framed = r[0] == '#' && r[4] == '.' && r[8] == '.' &&
                        r[10] == static_cast<uint8_t>(~r[9]) &&
                        r[12] == static_cast<uint8_t>(~r[11]) && r[13] == kCr;
    if (!framed) return result::kMalformedAnswer;
    const uint8_t data[7] = {r[1], r[2], r[3], r[5], r[6], r[7], r[9]};
    return proxy_->DecodeStatus(data);
  });
}

// ----- Commands -----------------------------------------------------------

int32_t P99Protocol::SendEchoed(const uint8_t* bytes, int32_t length,
                                int32_t echo) {
  CommandFrame frame;
  frame.Set(bytes, length, echo);
  return exchange_.Run(
      &frame, 1, [echo](const CommandFrame& f) { return CheckEcho(f, echo); });
}

int32_t P99Protocol::StartTest(int32_t seconds) {
  if (seconds == -1) {
    const uint8_t cancel[] = {'C', 'T', kCr};
    return SendEchoed(cancel, 3, 2);
  }
  // The unit counts in 0.131 s ticks, worked out in single precision; the
  // count is capped at 255 and only its low byte is sent.
  int64_t ticks =
      static_cast<int64_t>(static_cast<float>(seconds) / kTickSecondsSingle);
  if (ticks > 255) ticks = 255;
  const uint8_t command[] = {'T', static_cast<uint8_t>(ticks & 0xFF), kCr};
  return SendEchoed(command, 3, 2);
}

int32_t P99Protocol::ShutdownRestore(int32_t delay, int32_t restore) {
  if (delay == -1 && restore == -1) {
    const uint8_t cancel[] = {'C', 'S', kCr};
    return SendEchoed(cancel, 3, 2);
  }
  if (delay > kMaxShutdownDelay) return result::kInvalid;
  // The sum is formed in 64 bits; a negative argument (a sum smaller than
  // one of its parts) and a sum too large for the 24-bit field are refused.
  const int64_t total = int64_t{delay} + restore;
  if (delay < 0 || restore < 0) return result::kInvalid;
  if (total > kMaxRestoreTotal) return result::kInvalid;

  const uint64_t delay_ticks = Ticks(delay);
  const uint64_t total_ticks = Ticks(total);
  const uint8_t command[] = {'S',
                             static_cast<uint8_t>((delay_ticks >> 8) & 0xFF),
                             static_cast<uint8_t>(delay_ticks & 0xFF),
                             'R',
                             static_cast<uint8_t>((total_ticks >> 16) & 0xFF),
                             static_cast<uint8_t>((total_ticks >> 8) & 0xFF),
                             static_cast<uint8_t>(total_ticks & 0xFF),
                             kCr};
  return SendEchoed(command, 8, 7);
}

int32_t P99Protocol::Shutdown(int32_t delay) {
  if (delay == -1) {
    const uint8_t cancel[] = {'C', 'S', kCr};
    return SendEchoed(cancel, 3, 2);
  }
  if (delay > kMaxShutdownDelay) return result::kInvalid;
  // Other negative delays are sent as the low 16 bits of their tick count.
  const uint64_t ticks = Ticks(delay);
  const uint8_t command[] = {'S', static_cast<uint8_t>((ticks >> 8) & 0xFF),
                             static_cast<uint8_t>(ticks & 0xFF), 'W', kCr};
  return SendEchoed(command, 5, 4);
}

int32_t P99Protocol::CancelCommand() {
  const uint8_t command[] = {'B', kCr};
  return SendEchoed(command, 2, 1);
}

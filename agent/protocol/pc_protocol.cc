#include "agent/protocol/pc_protocol.h"

#include "agent/media/i_media.h"
#include "common/time/clock.h"

namespace {

// Lines the protocol drives; all of them are dropped on every failure.
constexpr int32_t kDrivenLines = pin::kDtr | pin::kRts | pin::kBreak;
// The contact lines; the unit feeds them from RTS or the break condition.
constexpr int32_t kContactLines = pin::kDcd | pin::kCts;
// Re-reads of the lines while the mains is reported missing, to ride out a
// short dip or a bouncing contact.
constexpr int32_t kPowerFailRereads = 2;

int32_t PowerFailFrom(int32_t lines) { return (lines & pin::kCts) ? 0 : 1; }
int32_t BatteryLowFrom(int32_t lines) { return (lines & pin::kDcd) ? 0 : 1; }

}  // namespace

PcProtocol::PcProtocol(IMedia* media, Clock* clock)
    : media_(media), clock_(clock) {
  if (media_ != nullptr) {
    media_type_ = media_->GetType();
    media_index_ = media_->GetIndex();
  }
  DropLines();
}

PcProtocol::~PcProtocol() { DropLines(); }

void PcProtocol::Release() { delete this; }

int32_t PcProtocol::GetPowerFail(int32_t* value) {
  *value = power_fail_;
  return result::kSuccess;
}

int32_t PcProtocol::GetBatteryLow(int32_t* value) {
  *value = battery_low_;
  return result::kSuccess;
}

int32_t PcProtocol::GetShutdownActive(int32_t* value) {
  *value = 0;
  return result::kSuccess;
}

int32_t PcProtocol::GetConnected(int32_t* value) {
  *value = 1;
  return result::kSuccess;
}

int32_t PcProtocol::GetModelName(char* buffer, int32_t* size) {
  if (size == nullptr) return result::kBufferTooSmall;
  return ReadTextOrQuery(model_, buffer, size, [this] { return Probe(); });
}

int32_t PcProtocol::GetPortType(int32_t* value) {
  *value = 1;
  return result::kSuccess;
}

int32_t PcProtocol::GetMediaType(int32_t* value) {
  *value = media_type_;
  return result::kSuccess;
}

int32_t PcProtocol::GetMediaIndex(int32_t* value) {
  *value = media_index_;
  return result::kSuccess;
}

int32_t PcProtocol::GetBaudRate(int32_t* value) {
  *value = 0;
  return result::kSuccess;
}

int32_t PcProtocol::Probe() {
  int32_t code = result::kNotThisProtocol;
  if (LinesLookLikeContactUnit()) {
    code = model_.StoreText(PropertyCell::kCurrent, kModelName);
    if (code == result::kSuccess) return code;
  }
  DropLines();
  model_.StoreText(PropertyCell::kCurrent, nullptr);
  return code;
}

bool PcProtocol::LinesLookLikeContactUnit() {
  int32_t lines = 0;
  // With DTR and RTS raised a contact unit leaves DSR alone.
  if (!SetLines(pin::kDtr | pin::kRts, 1)) return false;
  Settle();
  if (!ReadLines(&lines) || (lines & pin::kDsr) != 0) return false;
  // Unfed, its contacts cannot pull DCD or CTS high...
  if (!SetLines(pin::kDtr | pin::kRts, 0)) return false;
  Settle();
  if (!ReadLines(&lines) || (lines & kContactLines) != 0) return false;
  // ...and fed by RTS and the break condition, on mains with a charged
  // battery, they raise both.
  if (!SetLines(pin::kRts | pin::kBreak, 1)) return false;
  Settle();
  if (!ReadLines(&lines) || (lines & kContactLines) != kContactLines) {
    return false;
  }
  // RTS stays raised to feed the contacts.
  return SetLines(pin::kBreak, 0);
}

int32_t PcProtocol::Poll() {
  const int32_t previous_power_fail = power_fail_;
  const int32_t previous_battery_low = previous_battery_low_;

  int32_t sample = 0;
  if (!SetLines(pin::kDtr | pin::kRts, 1)) return MediaFailure();
  Settle();
  if (!ReadLines(&sample)) return MediaFailure();
  if ((sample & pin::kDsr) != 0 && CheckDsrIgnoresDtr() != result::kSuccess) {
    return MediaFailure();
  }
  if (!SetLines(pin::kDtr, 0)) return MediaFailure();

  int32_t power_fail = PowerFailFrom(sample);
  int32_t battery_low = BatteryLowFrom(sample);
  for (int32_t i = 0; i < kPowerFailRereads && power_fail == 1; ++i) {
    if (battery_low == 1 && !SetLines(pin::kRts, 1)) return MediaFailure();
    Settle();
    int32_t lines = 0;
    if (!ReadLines(&lines)) return MediaFailure();
    power_fail = PowerFailFrom(lines);
    battery_low = BatteryLowFrom(lines);
  }
  previous_battery_low_ = battery_low;
  power_fail_ = power_fail;
  battery_low_ = battery_low;

  // Both alarms at once, out of a quiet state, look more like a pulled cable
  // than a real event. Fed by the break condition, a connected unit still
  // raises its lines; if they stay low the unit is reported as gone.
  if (previous_power_fail == 0 && previous_battery_low == 0 &&
      power_fail == 1 && battery_low == 1) {
    int32_t lines = 0;
    if (!SetLines(pin::kRts | pin::kBreak, 1)) return MediaFailure();
    Settle();
    if (!ReadLines(&lines)) return MediaFailure();
    if (!SetLines(pin::kBreak, 0)) return MediaFailure();
    if ((lines & kContactLines) != kContactLines) return result::kNoAnswer;
  }

  // A low battery matters only while the unit runs on it.
  if (power_fail_ == 0) battery_low_ = 0;
  return result::kSuccess;
}

int32_t PcProtocol::CheckDsrIgnoresDtr() {
  int32_t lines = 0;
  if (!SetLines(pin::kDtr, 0)) return result::kMediaFailure;
  Settle();
  if (!ReadLines(&lines)) return result::kMediaFailure;
  if ((lines & pin::kDsr) != 0) return result::kSuccess;
  // DSR dropped with DTR; raise DTR again to see whether it follows back.
  if (!SetLines(pin::kDtr, 1)) return result::kMediaFailure;
  Settle();
  if (!ReadLines(&lines)) return result::kMediaFailure;
  return (lines & pin::kDsr) != 0 ? result::kMediaFailure : result::kSuccess;
}

int32_t PcProtocol::Shutdown(int32_t delay) {
  if (delay < 0) return result::kNotSupported;
  if (power_fail_ == 0) {
    if (!SetLines(pin::kDtr, 1)) return MediaFailure();
    clock_->Pause(kMainsPulseMillis);
    if (!SetLines(pin::kDtr, 0)) return MediaFailure();
    clock_->Pause(kMainsGapMillis);
  }
  if (!SetLines(pin::kDtr, 1)) return MediaFailure();
  clock_->Pause(kShutdownHoldMillis);
  return result::kSuccess;
}

int32_t PcProtocol::MediaFailure() {
  DropLines();
  return result::kMediaFailure;
}

bool PcProtocol::SetLines(int32_t mask, int32_t on) {
  return media_ != nullptr && media_->SetPinState(mask, on) != 0;
}

bool PcProtocol::ReadLines(int32_t* mask) {
  return media_ != nullptr && media_->GetPinState(mask) != 0;
}

void PcProtocol::DropLines() { SetLines(kDrivenLines, 0); }

void PcProtocol::Settle() { clock_->Pause(kSettleMillis); }

#include "agent/command_dispatcher.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "agent/media/platform_factory.h"
#include "agent/protocol/result_codes.h"
#include "common/integer_text.h"

namespace {

using ValueRead = int32_t (IProtocol::*)(int32_t*);
using ValueWrite = int32_t (IProtocol::*)(int32_t);
using SelectedRead = int32_t (IProtocol::*)(int32_t*, int32_t);
using TextRead = int32_t (IProtocol::*)(char*, int32_t*);

// S0 to S13.
constexpr ValueRead kStatusReads[] = {
    &IProtocol::GetInputVoltage,    &IProtocol::GetOutputVoltage,
    &IProtocol::GetBatteryCapacity, &IProtocol::GetLoad,
    &IProtocol::GetTemperature,     &IProtocol::GetFrequency,
    &IProtocol::GetBackupTime,      &IProtocol::GetPowerFail,
    &IProtocol::GetBatteryLow,      &IProtocol::GetTestActive,
    &IProtocol::GetShutdownActive,  &IProtocol::GetStatusFlag11,
    &IProtocol::GetConnected,       &IProtocol::GetBuzzerActive,
};

// W0 to W6; W7 is SetBuzzer.
constexpr ValueWrite kSettingWrites[] = {
    &IProtocol::SetInputHigh,       &IProtocol::SetInputLow,
    &IProtocol::SetBatteryLowLevel, &IProtocol::SetBatteryOut,
    &IProtocol::SetColdStart,       &IProtocol::SetProperty5,
    &IProtocol::SetProperty6,
};

// R0 to R6.
constexpr SelectedRead kSettingReads[] = {
    &IProtocol::GetInputHigh,       &IProtocol::GetInputLow,
    &IProtocol::GetBatteryLowLevel, &IProtocol::GetBatteryOut,
    &IProtocol::GetColdStart,       &IProtocol::GetProperty5,
    &IProtocol::GetProperty6,
};

// R8 to R15.
constexpr TextRead kTextReads[] = {
    &IProtocol::GetInputHighRange,  &IProtocol::GetInputLowRange,
    &IProtocol::GetBatteryLowRange, &IProtocol::GetBatteryOutRange,
    &IProtocol::GetModelName,       &IProtocol::GetFirmwareVersion,
    &IProtocol::GetText36,          &IProtocol::GetText33,
};

// R16 to R30.
constexpr ValueRead kFactReads[] = {
    &IProtocol::GetRatedVoltage,       &IProtocol::GetRatedFrequencyLow,
    &IProtocol::GetRatedFrequencyHigh, &IProtocol::GetRatedVA,
    &IProtocol::GetRatedWatt,          &IProtocol::GetBaudRate,
    &IProtocol::GetPortType,           &IProtocol::GetMediaType,
    &IProtocol::GetMediaIndex,         &IProtocol::GetBatteryVoltage,
    &IProtocol::GetBatteryCount,       &IProtocol::GetBatteryAmpHours,
    &IProtocol::GetExternalBatteries,  &IProtocol::GetProperty46,
    &IProtocol::GetProperty47,
};

constexpr int32_t kDeviceListCommand = 37;
constexpr int32_t kMediaSelectCommand = 4;

// The largest text a text read may ask for. A protocol asking for more (or
// for a negative size) gets its "buffer too small" answer passed on.
constexpr int32_t kMaxTextSize = 64 * 1024;

// Which media selection needs a new protocol: 6 rows (the new selection) of
// 12 columns (the present one). O no, X yes, V when the new index differs
// from the protocol's, * when it differs from the present selection's index.
constexpr char kRestartMatrix[] =
    "OOOOOOOOOOOX"
    "XOOOOO*XXXXX"
    "XVOVOV*XXXXX"
    "OXOXXXXOOO*X"
    "VXOXXXXVOV*X"
    "XXOXOXOXOXOO";
constexpr int kMatrixColumns = 12;

// The pipe grammar's number (the command number and each argument): read
// the way strtol reads base 10 (leading blanks, an optional sign, digits up to
// the first other byte). False when no digits follow or the number does not
// fit 32 bits, which the grammar counts as no number.
bool ParsePipeNumber(std::string_view text, int32_t* number) {
  return ParseLeadingInt32Strict(text, number);
}

enum class ReplyKind { kNothing, kValue, kText };

// Appends a device list entry to the R37 reply text. The name is whatever
// the device's path ends in, so it may hold any byte: a line break would
// split the reply in two, a comma would split the entry. Both, and every
// other control byte, are shown as '?'; the entry stays selectable by its
// type and index.
void AppendDeviceEntry(const std::string& entry, std::string* text) {
  for (char c : entry) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool shown = byte >= 0x20 && byte != 0x7F && c != ',';
    text->push_back(shown ? c : '?');
  }
}

}  // namespace

CommandDispatcher::CommandDispatcher(PlatformFactory* platform,
                                     MediaSelection* selection)
    : platform_(platform), selection_(selection) {}

int32_t CommandDispatcher::Dispatch(std::string_view line, bool cut_off,
                                    IProtocol* protocol, std::string* reply) {
  line_ = line;
  protocol_ = protocol;
  reply->clear();
  // The number after the letter; it stays -1 when there is none or it does
  // not fit 32 bits (ParsePipeNumber leaves it alone then).
  int32_t number = -1;
  if (line_.size() >= 2) ParsePipeNumber(line_.substr(1), &number);
  if (!line_.empty()) reply->push_back(line_[0]);
  reply->append(std::to_string(number));

  int32_t code = result::kNotSupported;
  int32_t value = 0;
  std::string text;
  ReplyKind kind = ReplyKind::kNothing;
  const char letter = line_.empty() ? '\0' : line_[0];
  if (cut_off) {
    // Part of the line was dropped; acting on what is left could pass a
    // cut-off argument on.
    code = result::kMalformedArgument;
  } else if (letter == 'S') {
    code = DispatchStatus(number, &value);
    kind = ReplyKind::kValue;
  } else if (letter == 'W') {
    code = DispatchWrite(number, &value);
  } else if (letter == 'R') {
    bool has_text = false;
    code = DispatchRead(number, &value, &text, &has_text);
    kind = has_text ? ReplyKind::kText : ReplyKind::kValue;
  } else if (letter == 'C') {
    code = DispatchCommand(number);
  }

  if (code == result::kSuccess) {
    if (kind == ReplyKind::kValue) {
      reply->push_back(' ');
      reply->append(std::to_string(value));
    } else if (kind == ReplyKind::kText) {
      reply->push_back(' ');
      reply->append(text);
    }
  } else {
    reply->append("E ");
    reply->append(std::to_string(code));
  }
  reply->push_back('\n');
  line_ = std::string_view();
  protocol_ = nullptr;
  return code;
}

int32_t CommandDispatcher::ReadArgument(int which, int32_t* value) const {
  const char* at = line_.data();
  const char* end = line_.data() + line_.size();
  for (int i = 0; i < which; ++i) {
    const void* space = std::memchr(at, ' ', static_cast<size_t>(end - at));
    if (space == nullptr) return result::kMalformedArgument;
    at = static_cast<const char*>(space) + 1;
  }
  if (at >= end) return result::kMalformedArgument;
  if (!ParsePipeNumber(std::string_view(at, static_cast<size_t>(end - at)),
                       value)) {
    return result::kMalformedArgument;
  }
  return result::kSuccess;
}

int32_t CommandDispatcher::DispatchStatus(int32_t number, int32_t* value) {
  if (number < 0 || number > 13 || !protocol_) return result::kNotSupported;
  return (protocol_->*kStatusReads[number])(value);
}

int32_t CommandDispatcher::DispatchWrite(int32_t number, int32_t* value) {
  if (number < 0 || number > 7 || !protocol_) return result::kNotSupported;
  int32_t code = ReadArgument(1, value);
  if (code != result::kSuccess) return code;
  if (number == 7) return protocol_->SetBuzzer(*value != 0);
  return (protocol_->*kSettingWrites[number])(*value);
}

int32_t CommandDispatcher::DispatchRead(int32_t number, int32_t* value,
                                        std::string* text, bool* has_text) {
  if (number == kDeviceListCommand) {
    *has_text = true;
    return ListDevices(text);
  }
  if (number < 0 || number > 30 || !protocol_) return result::kNotSupported;
  if (number <= 6) {
    int32_t code = ReadArgument(1, value);
    if (code != result::kSuccess) return code;
    return (protocol_->*kSettingReads[number])(value, *value);
  }
  if (number == 7) {
    int32_t code = protocol_->GetBuzzerSetting(value);
    if (code == result::kSuccess) *value &= 1;
    return code;
  }
  if (number <= 15) return ReadText(number, value, text, has_text);
  return (protocol_->*kFactReads[number - 16])(value);
}

int32_t CommandDispatcher::ReadText(int32_t number, int32_t* size,
                                    std::string* text, bool* has_text) {
  TextRead read = kTextReads[number - 8];
  *size = 0;
  int32_t code = (protocol_->*read)(nullptr, size);
  if (code != result::kBufferTooSmall) return code;
  if (*size < 0 || *size > kMaxTextSize) return code;
  std::vector<char> buffer(static_cast<size_t>(*size) + 1, '\0');
  code = (protocol_->*read)(buffer.data(), size);
  if (code != result::kSuccess) return code;
  text->assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  // A newline inside the text would split the reply into two lines and put
  // the service's replies out of step with its commands.
  for (char& c : *text) {
    if (c == '\n') c = ' ';
  }
  *has_text = true;
  return code;
}

int32_t CommandDispatcher::ListDevices(std::string* text) {
  std::vector<std::string> devices;
  if (!platform_->GetDeviceList(&devices)) return result::kMediaFailure;
  bool first = true;
  for (const std::string& entry : devices) {
    int32_t type = -1;
    int32_t index = -1;
    if (!ParseDeviceEntry(entry, &type, &index)) continue;
    // A serial port is listed by position, the second media kind as a whole.
    if (type == media_type::kSerial && index == 0) continue;
    if (type == media_type::kSecondKind && index != 0) continue;
    if (!first) text->push_back(',');
    AppendDeviceEntry(entry, text);
    first = false;
  }
  return result::kSuccess;
}

int32_t CommandDispatcher::DispatchCommand(int32_t number) {
  if (number == kMediaSelectCommand) {
    int32_t type = 0;
    int32_t index = 0;
    int32_t code = ReadArgument(1, &type);
    if (code == result::kSuccess) code = ReadArgument(2, &index);
    if (code != result::kSuccess) return code;
    code = NeedsRestart(protocol_, type, index) ? result::kMediaChanged
                                                : result::kNotSupported;
    selection_->type = type;
    selection_->index = index;
    return code;
  }
  if (number < 0 || number > 3 || !protocol_) return result::kNotSupported;
  if (number == 3) return protocol_->CancelCommand();
  int32_t arg = 0;
  int32_t code = ReadArgument(1, &arg);
  if (code != result::kSuccess) return code;
  if (number == 0) return protocol_->StartTest(arg);
  if (number == 2) return protocol_->Shutdown(arg);
  int32_t arg2 = 0;
  code = ReadArgument(2, &arg2);
  if (code != result::kSuccess) return code;
  return protocol_->ShutdownRestore(arg, arg2);
}

bool CommandDispatcher::NeedsRestart(IProtocol* protocol, int32_t new_type,
                                     int32_t new_index) const {
  int32_t protocol_type = -1;
  int32_t protocol_index = -1;
  if (protocol != nullptr) {
    protocol->GetMediaType(&protocol_type);
    protocol->GetMediaIndex(&protocol_index);
  }

  int row = 0;
  switch (new_type) {
    case media_type::kAutomatic:
      row = 0;
      break;
    case media_type::kSecondKind:
      row = new_index == 0 ? 1 : 2;
      break;
    case media_type::kSerial:
      row = new_index == 0 ? 3 : 4;
      break;
    case media_type::kNone:
      row = 5;
      break;
    default:
      return true;  // no such media: start over
  }

  // For a specific kind, the odd columns stand for a protocol that cannot
  // tell its media index.
  const int unknown_index = protocol_index == -1 ? 1 : 0;
  int column = 0;
  switch (selection_->type) {
    case media_type::kAutomatic:
      column = protocol_type == media_type::kSerial       ? 0
               : protocol_type == media_type::kSecondKind ? 1
                                                          : 2;
      break;
    case media_type::kSecondKind:
      column = (selection_->index == 0 ? 3 : 5) + unknown_index;
      break;
    case media_type::kSerial:
      column = (selection_->index == 0 ? 7 : 9) + unknown_index;
      break;
    case media_type::kNone:
      column = 11;
      break;
    default:
      return true;
  }

  switch (kRestartMatrix[row * kMatrixColumns + column]) {
    case 'O':
      return false;
    case 'V':
      return new_index != protocol_index;
    case '*':
      return new_index != selection_->index;
    default:
      return true;
  }
}

#include "agent/protocol/t_reply.h"

#include <cstring>
#include <limits>

#include "agent/protocol/t_number.h"

namespace {

constexpr uint8_t kCr = 0x0D;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

int LetterIndex(char c) {
  // A NUL must not match the terminator of the letter set.
  if (c == '\0') return -1;
  const char* found = strchr(TStatusFields::kLetters, c);
  return found == nullptr ? -1
                          : static_cast<int>(found - TStatusFields::kLetters);
}

int64_t SaturatingMultiply(int64_t a, int64_t b) {
  int64_t product = 0;
  if (!__builtin_mul_overflow(a, b, &product)) return product;
  const bool negative = (a < 0) != (b < 0);
  return negative ? std::numeric_limits<int64_t>::min()
                  : std::numeric_limits<int64_t>::max();
}

bool Bit(uint8_t byte, int bit) { return ((byte >> bit) & 1) != 0; }

}  // namespace

bool ExtractPayload(const CommandFrame& frame, std::string_view* payload) {
  int32_t received = frame.read_length;
  if (received > CommandFrame::kBufferSize)
    received = CommandFrame::kBufferSize;
  if (received < 2) {
    // One byte cannot be both '#' and CR.
    return false;
  }
  if (frame.reply[0] != '#' || frame.reply[received - 1] != kCr) return false;
  std::string_view text(reinterpret_cast<const char*>(frame.reply) + 1,
                        static_cast<size_t>(received) - 2);
  // The payload is a NUL-terminated text (the CR is replaced by the end of
  // the text): a NUL the unit sent ends it early, whatever follows.
  *payload = text.substr(0, text.find('\0'));
  return true;
}

bool TStatusFields::AllPresent() const {
  for (bool seen : present) {
    if (!seen) return false;
  }
  return true;
}

TStatusFields SplitStatusFields(std::string_view payload) {
  TStatusFields fields;
  int current = -1;
  size_t start = 0;
  for (size_t i = 0; i <= payload.size(); ++i) {
    const int letter = i < payload.size() ? LetterIndex(payload[i]) : -1;
    if (letter < 0 && i < payload.size()) continue;
    if (current >= 0) {
      fields.field[current] = payload.substr(start, i - start);
      fields.present[current] = true;
    }
    current = letter;
    start = i + 1;
  }
  return fields;
}

bool TFieldList::Next(bool last, std::string_view* field) {
  if (rest_.empty()) return false;
  if (last) {
    *field = rest_;
    rest_ = std::string_view();
    return true;
  }
  const size_t comma = rest_.find(',');
  if (comma == std::string_view::npos) return false;
  *field = rest_.substr(0, comma);
  rest_.remove_prefix(comma + 1);
  return true;
}

std::string_view FirstWord(std::string_view field) {
  size_t begin = 0;
  while (begin < field.size() && IsBlank(field[begin])) ++begin;
  size_t end = begin;
  while (end < field.size() && !IsBlank(field[end])) ++end;
  return field.substr(begin, end - begin);
}

std::string TrimRangeText(std::string_view payload) {
  // ExtractPayload already ends a payload at its first NUL; a view from
  // elsewhere is cut the same way, as the text is kept NUL-terminated.
  std::string_view text = payload.substr(0, payload.find('\0'));
  size_t end = text.size();
  size_t i = text.size();
  for (; i > 0; --i) {
    const char c = text[i - 1];
    if (c == ',') {
      end = i - 1;
    } else if (c != '0') {
      break;
    }
  }
  // Nothing but zeros and commas: the unit has no range for this setting.
  if (i == 0) end = 0;
  return std::string(text.substr(0, end));
}

int32_t MiddleRangeValue(std::string_view range) {
  size_t commas = 0;
  for (char c : range) {
    if (c == ',') ++commas;
  }
  size_t wanted = commas / 2;
  size_t start = 0;
  while (wanted > 0) {
    start = range.find(',', start) + 1;
    --wanted;
  }
  std::string_view field = range.substr(start);
  field = field.substr(0, field.find(','));
  constexpr size_t kMaxFieldLength = 31;
  return ParseAnswerInteger(field.substr(0, kMaxFieldLength), 10);
}

bool DecodeOptionBits(std::string_view payload, TOptionBits* bits) {
  for (char c : payload) {
    if ((static_cast<uint8_t>(c) & 0x80) == 0) return false;
  }
  const uint8_t a = payload.empty() ? 0xC7 : static_cast<uint8_t>(payload[0]);
  const uint8_t b =
      payload.size() >= 3 ? static_cast<uint8_t>(payload[2]) : 0xF0;
  bits->option52 = Bit(a, 4) ? 0 : 1;
  bits->option53 = Bit(a, 3);
  bits->option47 = Bit(a, 5);
  bits->option46 = Bit(a, 6);
  bits->cold_start = Bit(b, 5);
  bits->setting5 = Bit(b, 6);
  bits->buzzer = Bit(b, 4);
  return true;
}

TStatusFlags DecodeStatusByte(uint8_t byte) {
  TStatusFlags flags;
  flags.power_fail = Bit(byte, 6);
  flags.battery_low = Bit(byte, 5);
  flags.shutdown_active = Bit(byte, 2);
  flags.flag11 = Bit(byte, 1);
  flags.test_active = Bit(byte, 3);
  flags.buzzer_active = Bit(byte, 4);
  return flags;
}

int32_t EstimateBackupTime(int32_t amp_hours, int32_t battery_count,
                           int32_t capacity, int32_t load) {
  int32_t load_percent = load / 100;
  if (load_percent > 100) load_percent = 90;
  int64_t charge = SaturatingMultiply(amp_hours, battery_count);
  charge = SaturatingMultiply(charge, capacity);
  charge = SaturatingMultiply(charge, 2) / 10000;
  const int64_t remaining = 100 - static_cast<int64_t>(load_percent);
  const int64_t estimate = SaturatingMultiply(charge, remaining) / 100;
  if (estimate > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (estimate < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(estimate);
}

int32_t ParseAcknowledgement(std::string_view payload) {
  return ParseAnswerInteger(payload, 10);
}

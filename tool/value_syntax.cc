#include "tool/value_syntax.h"

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <limits>

namespace {

enum class IntegerRead { kOk, kNone, kOutOfRange };

// Reads an integer the way a text stream reads an int: skips white space,
// takes an optional sign and at least one digit. Advances `*cursor` past
// what was read; on kNone the cursor position is of no further use.
IntegerRead ReadStreamInteger(const char** cursor, int64_t* value) {
  const char* p = *cursor;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  if (!std::isdigit(static_cast<unsigned char>(*p))) return IntegerRead::kNone;
  constexpr int64_t kLimit = std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  bool too_big = false;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    if (!too_big) {
      magnitude = magnitude * 10 + (*p - '0');
      if (magnitude > kLimit + 1) too_big = true;
    }
    ++p;
  }
  *cursor = p;
  if (too_big || (!negative && magnitude > kLimit)) {
    return IntegerRead::kOutOfRange;
  }
  *value = negative ? -magnitude : magnitude;
  return IntegerRead::kOk;
}

}  // namespace

bool ParseDecimal(const char* text, int32_t* value) {
  if (text == nullptr) return false;
  return ParseDecimal(std::string_view(text), value);
}

bool ParseDecimal(std::string_view text, int32_t* value) {
  int64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
    if (result > std::numeric_limits<int32_t>::max()) return false;
  }
  *value = static_cast<int32_t>(result);
  return true;
}

bool ParseOnOff(const char* text, int32_t* value) {
  if (text == nullptr) return false;
  if (strcasecmp(text, "on") == 0) {
    *value = 1;
    return true;
  }
  if (strcasecmp(text, "off") == 0) {
    *value = 0;
    return true;
  }
  return false;
}

bool ParseLeadingInteger(const char* text, int32_t* value) {
  if (text == nullptr) return false;
  int64_t read = 0;
  switch (ReadStreamInteger(&text, &read)) {
    case IntegerRead::kOk:
      *value = static_cast<int32_t>(read);
      return true;
    case IntegerRead::kNone:
      *value = 0;
      return true;
    default:
      return false;
  }
}

bool ParseDuration(const char* text, int32_t* seconds) {
  if (text == nullptr) return false;
  const char* p = text;
  int64_t total = 0;
  if (ReadStreamInteger(&p, &total) != IntegerRead::kOk || total < 0) {
    return false;
  }
  for (int part = 0; part < 2; ++part) {
    if (*p == '\0') break;
    if (*p != ':') return false;
    ++p;
    int64_t next = 0;
    IntegerRead read = ReadStreamInteger(&p, &next);
    if (read == IntegerRead::kNone) break;
    if (read == IntegerRead::kOutOfRange || next < 0) return false;
    total = total * 60 + next;
    if (total > std::numeric_limits<int32_t>::max()) return false;
  }
  *seconds = static_cast<int32_t>(total);
  return true;
}

std::string DurationText(int32_t seconds) {
  int32_t hours = seconds / 3600;
  int32_t minutes = (seconds % 3600) / 60;
  std::string text;
  if (hours != 0) text += std::to_string(hours) + " hour ";
  if (hours != 0 || minutes != 0) text += std::to_string(minutes) + " minute ";
  return text + std::to_string(seconds % 60);
}

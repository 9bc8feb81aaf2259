#include "tool/value_syntax.h"

#include <strings.h>

#include <cstdint>
#include <limits>

#include "common/integer_text.h"

namespace {

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

}  // namespace

bool ParseDecimal(const char* text, int32_t* value) {
  if (text == nullptr) return false;
  return ParseDecimal(std::string_view(text), value);
}

bool ParseDecimal(std::string_view text, int32_t* value) {
  if (text.empty()) {
    *value = 0;
    return true;
  }
  // No sign at all, not even the '-' the whole-text reader takes.
  if (text[0] == '-') return false;
  return ParseWholeInt32(text, 0, kInt32Max, value);
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
  return ParseLeadingInteger(std::string_view(text), value);
}

bool ParseLeadingInteger(std::string_view text, int32_t* value) {
  const LeadingInteger scan = ScanLeadingInteger(text);
  if (scan.beyond_int32) return false;
  *value = scan.found ? static_cast<int32_t>(scan.value) : 0;
  return true;
}

bool ParseDuration(const char* text, int32_t* seconds) {
  if (text == nullptr) return false;
  std::string_view rest(text);
  LeadingInteger part = ScanLeadingInteger(rest);
  if (!part.found || part.beyond_int32 || part.value < 0) return false;
  int64_t total = part.value;
  rest.remove_prefix(part.end);
  for (int count = 0; count < 2; ++count) {
    if (rest.empty()) break;
    if (rest[0] != ':') return false;
    rest.remove_prefix(1);
    part = ScanLeadingInteger(rest);
    if (!part.found) break;
    if (part.beyond_int32 || part.value < 0) return false;
    total = total * 60 + part.value;
    if (total > kInt32Max) return false;
    rest.remove_prefix(part.end);
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

#include "common/integer_text.h"

#include <limits>

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

// Reads digits from text[i] on. The magnitude stops growing once it is past
// the int32 range, so it never overflows int64.
size_t ScanDigits(std::string_view text, size_t i, int base,
                  int64_t* magnitude) {
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) break;
    if (*magnitude <= kInt32Max + 1) *magnitude = *magnitude * base + digit;
  }
  return i;
}

// Applies the sign and tells whether the result fits int32.
bool Signed(bool negative, int64_t magnitude, int64_t* value) {
  const int64_t limit = negative ? -kInt32Min : kInt32Max;
  const bool fits = magnitude <= limit;
  const int64_t clamped = fits ? magnitude : limit;
  *value = negative ? -clamped : clamped;
  return fits;
}

}  // namespace

bool IsIntegerBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'z') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'Z') {
    value = c - 'A' + 10;
  }
  return value >= 0 && value < base ? value : -1;
}

LeadingInteger ScanLeadingInteger(std::string_view text, int base) {
  LeadingInteger scan;
  if (base < 2 || base > 36) return scan;
  size_t i = 0;
  while (i < text.size() && IsIntegerBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t magnitude = 0;
  const size_t end = ScanDigits(text, i, base, &magnitude);
  if (end == i) return scan;
  scan.found = true;
  scan.end = end;
  scan.beyond_int32 = !Signed(negative, magnitude, &scan.value);
  return scan;
}

int32_t ParseLeadingInt32Saturating(std::string_view text, int base,
                                    size_t* rest) {
  const LeadingInteger scan = ScanLeadingInteger(text, base);
  if (rest != nullptr) *rest = scan.end;
  return static_cast<int32_t>(scan.value);
}

bool ParseLeadingInt32Strict(std::string_view text, int32_t* value) {
  const LeadingInteger scan = ScanLeadingInteger(text);
  if (!scan.found || scan.beyond_int32) return false;
  *value = static_cast<int32_t>(scan.value);
  return true;
}

bool ParseWholeInt32(std::string_view text, int32_t minimum, int32_t maximum,
                     int32_t* value, int base) {
  if (base < 2 || base > 36) return false;
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) i = 1;
  int64_t magnitude = 0;
  const size_t end = ScanDigits(text, i, base, &magnitude);
  if (end == i || end != text.size()) return false;
  int64_t parsed = 0;
  if (!Signed(negative, magnitude, &parsed)) return false;
  if (parsed < minimum || parsed > maximum) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseWholeInt32(std::string_view text, int32_t* value) {
  return ParseWholeInt32(text, std::numeric_limits<int32_t>::min(),
                         std::numeric_limits<int32_t>::max(), value);
}

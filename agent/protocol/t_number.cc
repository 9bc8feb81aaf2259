#include "agent/protocol/t_number.h"

#include <limits>

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// The value of c as a digit of base, or -1.
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

int32_t Clamp(int64_t value) {
  if (value > kInt32Max) return static_cast<int32_t>(kInt32Max);
  if (value < kInt32Min) return static_cast<int32_t>(kInt32Min);
  return static_cast<int32_t>(value);
}

// Reads blanks, a sign and digits from text. The magnitude stops growing
// once it is past the int32 range, so it never overflows int64.
struct IntegerScan {
  bool negative = false;
  int64_t magnitude = 0;
  size_t end = 0;  // just after the last digit, or 0 when none was read
};

IntegerScan ScanInteger(std::string_view text, int base) {
  IntegerScan scan;
  if (base < 2 || base > 36) return scan;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    scan.negative = text[i] == '-';
    ++i;
  }
  bool any = false;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) break;
    any = true;
    if (scan.magnitude <= kInt32Max)
      scan.magnitude = scan.magnitude * base + digit;
  }
  if (any) {
    scan.end = i;
  } else {
    scan.negative = false;
  }
  return scan;
}

}  // namespace

int32_t ParseLeadingInteger(std::string_view text, int base, size_t* rest) {
  const IntegerScan scan = ScanInteger(text, base);
  if (rest != nullptr) *rest = scan.end;
  return Clamp(scan.negative ? -scan.magnitude : scan.magnitude);
}

int32_t ParseHundredths(std::string_view text, int base) {
  const size_t dot = text.find('.');
  const std::string_view whole =
      dot == std::string_view::npos ? text : text.substr(0, dot);
  // The sign is looked up by hand because the integer scan drops it when no
  // digit follows ("-.5").
  size_t i = 0;
  while (i < whole.size() && IsBlank(whole[i])) ++i;
  const bool negative = i < whole.size() && whole[i] == '-';

  const IntegerScan scan = ScanInteger(whole, base);
  int64_t value = scan.magnitude * 100;  // at most about 2^31 * 100
  if (dot != std::string_view::npos) {
    const std::string_view fraction = text.substr(dot + 1);
    int64_t hundredths = 0;
    const int first = fraction.empty() ? -1 : DigitValue(fraction[0], base);
    if (first >= 0) {
      const int second =
          fraction.size() > 1 ? DigitValue(fraction[1], base) : -1;
      hundredths = second >= 0 ? first * base + second : first * 10;
    }
    value += hundredths;
  }
  return Clamp(negative ? -value : value);
}

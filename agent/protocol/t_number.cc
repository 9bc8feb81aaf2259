#include "agent/protocol/t_number.h"

#include <limits>

#include "common/integer_text.h"

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

int32_t Clamp(int64_t value) {
  if (value > kInt32Max) return static_cast<int32_t>(kInt32Max);
  if (value < kInt32Min) return static_cast<int32_t>(kInt32Min);
  return static_cast<int32_t>(value);
}

}  // namespace

int32_t ParseAnswerInteger(std::string_view text, int base, size_t* rest) {
  return ParseLeadingInt32Saturating(text, base, rest);
}

int32_t ParseHundredths(std::string_view text, int base) {
  const size_t dot = text.find('.');
  const std::string_view whole =
      dot == std::string_view::npos ? text : text.substr(0, dot);
  // The sign is looked up by hand because the integer scan drops it when no
  // digit follows ("-.5").
  size_t i = 0;
  while (i < whole.size() && IsIntegerBlank(whole[i])) ++i;
  const bool negative = i < whole.size() && whole[i] == '-';

  // The scan saturates at the int32 limits, so the magnitude is at most 2^31
  // and the hundredths at most about 2^31 * 100.
  const LeadingInteger scan = ScanLeadingInteger(whole, base);
  const int64_t magnitude = scan.value < 0 ? -scan.value : scan.value;
  int64_t value = magnitude * 100;
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

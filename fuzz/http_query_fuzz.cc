// The HTTP endpoint's query parameter values (query_params.h): the input
// after its first byte, cut at each '&', is given to the count reader (the
// first byte picks the maximum) and to the time reader. Checks: a value is
// either accepted, with its result within bounds and no message, or refused
// with the message of the 400 answer and the output untouched; a count is
// accepted exactly when it is plain digits naming 1 to the maximum, and is
// that number; Unix seconds are accepted exactly up to the year 9999 and
// read back exactly; an accepted local time writes back (in UTC here) as
// the very text it was read from, so no impossible date is moved to
// another day.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/http/log_entry.h"
#include "service/http/query_params.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "query parameter invariant broken: %s\n", what);
    abort();
  }
}

constexpr int64_t kLatestTime = 253402300799;  // 9999-12-31T23:59:59Z

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// The digits' value, or -1 beyond 18 digits.
int64_t DigitsValue(const std::string& text) {
  const size_t first = text.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  if (text.size() - first > 18) return -1;
  int64_t value = 0;
  for (size_t i = first; i < text.size(); ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

void CheckCount(const std::string& text, int32_t maximum) {
  int32_t value = -77;
  std::string error;
  const bool accepted = ParseCountParam(text, maximum, &value, &error);
  const int64_t digits = AllDigits(text) ? DigitsValue(text) : -1;
  const bool expected = digits >= 1 && digits <= maximum && text.size() <= 10;
  Check(accepted == expected, "a count accepted against its digits");
  if (accepted) {
    Check(error.empty(), "an accepted count with a message");
    Check(value == digits, "a count read as another number");
  } else {
    Check(!error.empty(), "a refused count without a message");
    Check(value == -77, "a refused count wrote the value");
  }
}

void CheckTime(const std::string& text) {
  int64_t seconds = -77;
  std::string error;
  const bool accepted = ParseTimeParam(text, &seconds, &error);
  if (!accepted) {
    Check(!error.empty(), "a refused time without a message");
    Check(seconds == -77, "a refused time wrote the value");
    if (AllDigits(text) && text.size() <= 12) {
      Check(DigitsValue(text) > kLatestTime, "Unix seconds refused");
    }
    return;
  }
  Check(error.empty(), "an accepted time with a message");
  Check(seconds >= 0 && seconds <= kLatestTime, "a time out of bounds");
  if (AllDigits(text)) {
    Check(seconds == DigitsValue(text), "Unix seconds read differently");
    return;
  }
  std::string written = EntryTimeText(seconds);
  Check(written.size() == 19, "a time written in another form");
  written[4] = '-';
  written[7] = '-';
  written[10] = 'T';
  // A leap second (:60) reads as the second after it.
  if (text.compare(17, 2, "60") == 0) return;
  Check(written == text, "a local time that does not write back as itself");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t maxima[] = {1, 40, 1000, 100000, 2147483647};
  const int32_t maximum = maxima[data[0] % 5];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (size_t start = 0;;) {
    const size_t end = input.find('&', start);
    const std::string value = input.substr(start, end - start);
    CheckCount(value, maximum);
    CheckTime(value);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return 0;
}

#include "service/http/query_params.h"

#include <charconv>

#include "service/http/log_entry.h"

namespace {

constexpr int64_t kLatestTime = 253402300799;  // 9999-12-31T23:59:59Z

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool ParseCountParam(const std::string& text, int32_t maximum, int32_t* value,
                     std::string* error) {
  int64_t parsed = 0;
  const char* end = text.data() + text.size();
  if (!AllDigits(text) || text.size() > 10 ||
      std::from_chars(text.data(), end, parsed).ptr != end || parsed < 1 ||
      parsed > maximum) {
    *error = "limit wants a whole number from 1 to " + std::to_string(maximum);
    return false;
  }
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseTimeParam(const std::string& text, int64_t* unix_seconds,
                    std::string* error) {
  const char* kMessage =
      "since wants Unix seconds or local time as YYYY-MM-DDTHH:MM:SS";
  if (AllDigits(text)) {
    int64_t parsed = 0;
    const char* end = text.data() + text.size();
    if (text.size() > 12 ||
        std::from_chars(text.data(), end, parsed).ptr != end ||
        parsed > kLatestTime) {
      *error = kMessage;
      return false;
    }
    *unix_seconds = parsed;
    return true;
  }
  // The local form is the stored form with other separators.
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
      text[10] != 'T') {
    *error = kMessage;
    return false;
  }
  std::string stored = text;
  stored[4] = '/';
  stored[7] = '/';
  stored[10] = ' ';
  int64_t parsed = 0;
  std::string local;
  // The bound of the Unix form holds here as well: a leap second on the
  // last day (or a zone west of UTC) would go past it.
  if (!ParseEntryTime(stored, &parsed, &local) || parsed > kLatestTime) {
    *error = kMessage;
    return false;
  }
  *unix_seconds = parsed;
  return true;
}

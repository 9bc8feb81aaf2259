#include "service/http/log_entry.h"

#include <cstdio>
#include <vector>

#include "common/integer_text.h"
#include "common/time/timestamp.h"

namespace {

constexpr size_t kTimeLength = 19;  // "YYYY/MM/DD HH:MM:SS"

bool Field(std::string_view text, size_t at, size_t length, int32_t minimum,
           int32_t maximum, int32_t* value) {
  // Digits only: the integer reader would also take a sign ("-0", "+1").
  const std::string_view digits = text.substr(at, length);
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  return ParseWholeInt32(digits, minimum, maximum, value);
}

// The days of a month of the proleptic Gregorian calendar.
int32_t DaysInMonth(int32_t year, int32_t month) {
  static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30,
                                    31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The blank-separated integers after the time; false when any is not one.
bool ParseValues(std::string_view rest, std::vector<int32_t>* values) {
  size_t at = 0;
  while (at < rest.size()) {
    if (rest[at] != ' ') return false;
    size_t start = at + 1;
    size_t end = rest.find(' ', start);
    if (end == std::string_view::npos) end = rest.size();
    int32_t value = 0;
    if (!ParseWholeInt32(rest.substr(start, end - start), &value)) return false;
    values->push_back(value);
    at = end;
  }
  return true;
}

}  // namespace

bool ParseEntryTime(std::string_view text, int64_t* unix_seconds,
                    std::string* local_time) {
  if (text.size() < kTimeLength || text[4] != '/' || text[7] != '/' ||
      text[10] != ' ' || text[13] != ':' || text[16] != ':') {
    return false;
  }
  CalendarFields fields;
  if (!Field(text, 0, 4, 1970, 9999, &fields.year) ||
      !Field(text, 5, 2, 1, 12, &fields.month) ||
      !Field(text, 8, 2, 1, 31, &fields.day) ||
      !Field(text, 11, 2, 0, 23, &fields.hour) ||
      !Field(text, 14, 2, 0, 59, &fields.minute) ||
      !Field(text, 17, 2, 0, 60, &fields.second) ||
      fields.day > DaysInMonth(fields.year, fields.month)) {
    // An impossible date (February 30th) would otherwise be carried over
    // into the next month.
    return false;
  }
  *unix_seconds = Timestamp::FromCalendar(fields).Value() / 1000;
  std::string iso(text.substr(0, kTimeLength));
  iso[4] = '-';
  iso[7] = '-';
  iso[10] = 'T';
  *local_time = std::move(iso);
  return true;
}

bool ParseEventEntry(std::string_view text, EventEntry* entry) {
  EventEntry parsed;
  std::vector<int32_t> values;
  if (!ParseEntryTime(text, &parsed.unix_seconds, &parsed.local_time) ||
      !ParseValues(text.substr(kTimeLength), &values) || values.size() != 1) {
    return false;
  }
  parsed.code = values[0];
  *entry = std::move(parsed);
  return true;
}

bool ParseRecordEntry(std::string_view text, RecordEntry* entry) {
  RecordEntry parsed;
  std::vector<int32_t> values;
  if (!ParseEntryTime(text, &parsed.unix_seconds, &parsed.local_time) ||
      !ParseValues(text.substr(kTimeLength), &values) ||
      values.size() != kRecordValueCount) {
    return false;
  }
  for (int32_t i = 0; i < kRecordValueCount; ++i) parsed.values[i] = values[i];
  *entry = std::move(parsed);
  return true;
}

std::string EntryTimeText(int64_t unix_seconds) {
  CalendarFields fields = Timestamp(unix_seconds * 1000).ToCalendar();
  char text[40];
  std::snprintf(text, sizeof(text), "%04d/%02d/%02d %02d:%02d:%02d",
                static_cast<int>(fields.year), static_cast<int>(fields.month),
                static_cast<int>(fields.day), static_cast<int>(fields.hour),
                static_cast<int>(fields.minute),
                static_cast<int>(fields.second));
  return text;
}

#include "common/time/timestamp.h"

#include <time.h>

#include <climits>

#include <iomanip>

Timestamp Timestamp::Now() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return Timestamp(static_cast<int64_t>(now.tv_sec) * 1000 +
                   now.tv_nsec / 1000000);
}

Timestamp Timestamp::FromCalendar(const CalendarFields& fields) {
  // The platform's fields are plain ints counted from 1900 and from January;
  // a year or month so far out that the shift does not fit one has no time.
  const int64_t year = static_cast<int64_t>(fields.year) - 1900;
  const int64_t month = static_cast<int64_t>(fields.month) - 1;
  if (year < INT_MIN || year > INT_MAX || month < INT_MIN || month > INT_MAX) {
    return Timestamp(kNoTimeMillis);
  }
  struct tm first = {};
  first.tm_sec = fields.second;
  first.tm_min = fields.minute;
  first.tm_hour = fields.hour;
  first.tm_mday = fields.day;
  first.tm_mon = static_cast<int>(month);
  first.tm_year = static_cast<int>(year);
  first.tm_isdst = 0;
  struct tm copy = first;
  time_t seconds = mktime(&first);
  if (first.tm_isdst > 0) {
    // Daylight saving time is in effect at that date: convert again with it.
    copy.tm_isdst = first.tm_isdst;
    seconds = mktime(&copy);
  }
  // mktime's failure (-1) gives -1000 like any other second; a second count
  // whose milliseconds do not fit 64 bits gives the same.
  int64_t millis = 0;
  if (__builtin_mul_overflow(static_cast<int64_t>(seconds), 1000, &millis)) {
    return Timestamp(kNoTimeMillis);
  }
  return Timestamp(millis);
}

CalendarFields Timestamp::ToCalendar() const {
  CalendarFields fields;
  const time_t seconds = static_cast<time_t>(millis_ / 1000);
  struct tm local;
  if (localtime_r(&seconds, &local) == nullptr) return fields;
  fields.second = local.tm_sec;
  fields.minute = local.tm_min;
  fields.hour = local.tm_hour;
  fields.day = local.tm_mday;
  fields.month = local.tm_mon + 1;
  fields.year = local.tm_year + 1900;
  fields.weekday = local.tm_wday;
  return fields;
}

std::ostream& operator<<(std::ostream& out, const Timestamp& timestamp) {
  const CalendarFields f = timestamp.ToCalendar();
  out.fill('0');
  // A year before 1 keeps its sign in front of the zeros ("-026", not
  // "0-26"), so that the text reads back.
  const std::ios_base::fmtflags adjust =
      out.flags() & std::ios_base::adjustfield;
  out << std::internal << std::setw(4) << f.year;
  out.setf(adjust, std::ios_base::adjustfield);
  out << '/' << std::setw(2) << f.month << '/' << std::setw(2) << f.day << ' ';
  if (out.flags() & std::ios_base::skipws)
    out << std::setw(1) << f.weekday << ' ';
  out << std::setw(2) << f.hour << ':' << std::setw(2) << f.minute << ':'
      << std::setw(2) << f.second;
  return out;
}

namespace {

// Reads one integer and then requires the separator that must follow it.
// Returns false (with the stream failed) on a missing number or separator.
bool ReadField(std::istream& in, int32_t* value, char separator) {
  if (!(in >> *value)) return false;
  if (separator == '\0') return true;
  const int next = in.peek();
  if (next != static_cast<unsigned char>(separator)) {
    in.setstate(std::ios_base::failbit);
    return false;
  }
  in.get();
  return true;
}

}  // namespace

std::istream& operator>>(std::istream& in, Timestamp& timestamp) {
  CalendarFields f;
  int32_t weekday = 0;
  const bool ok = ReadField(in, &f.year, '/') && ReadField(in, &f.month, '/') &&
                  ReadField(in, &f.day, ' ') && ReadField(in, &weekday, ' ') &&
                  ReadField(in, &f.hour, ':') &&
                  ReadField(in, &f.minute, ':') &&
                  ReadField(in, &f.second, '\0');
  // The seconds may end the input: eof is then set but the read succeeded.
  if (ok && !in.fail()) timestamp = Timestamp::FromCalendar(f);
  return in;
}

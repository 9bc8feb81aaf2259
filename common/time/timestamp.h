#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

// Local-time calendar fields of a Timestamp.
struct CalendarFields {
  int32_t second = 0;   // 0-59
  int32_t minute = 0;   // 0-59
  int32_t hour = 0;     // 0-23
  int32_t day = 1;      // 1-31
  int32_t month = 1;    // 1-12
  int32_t year = 1970;  // full year, for example 2004
  int32_t weekday = 4;  // 0 = Sunday to 6
};

// A point in time: signed milliseconds since 1970-01-01 00:00:00 UTC. Plain
// value type. Its text form, used by both programs, is
// "YYYY/MM/DD W HH:MM:SS" in local time (W the weekday, 0 = Sunday).
class Timestamp {
 public:
  Timestamp() = default;
  explicit Timestamp(int64_t millis) : millis_(millis) {}

  // The present time of the system's real-time clock.
  static Timestamp Now();

  // The value of a calendar time that cannot be converted: what mktime's
  // failure (-1 seconds) gives.
  static constexpr int64_t kNoTimeMillis = -1000;

  // Local time; the weekday is ignored and the milliseconds are 0. Daylight
  // saving time is first assumed off and taken from mktime's answer. Fields
  // outside their ranges are carried over as mktime does (month 13 is January
  // of the next year). A year or month too far out for the platform's
  // calendar, a date mktime cannot convert, or one whose milliseconds do not
  // fit 64 bits gives kNoTimeMillis.
  static Timestamp FromCalendar(const CalendarFields& fields);

  // Local time of Value() / 1000 seconds. Times outside what the platform's
  // calendar can convert give the epoch's fields.
  CalendarFields ToCalendar() const;

  int64_t Value() const { return millis_; }

  bool operator==(const Timestamp& other) const {
    return millis_ == other.millis_;
  }
  bool operator!=(const Timestamp& other) const { return !(*this == other); }

 private:
  int64_t millis_ = 0;
};

// Writes the text form. The stream's fill character is left at '0'. The
// weekday is written only when the stream skips white space on input (the
// default of every standard stream), so a stream with skipws cleared gets
// "YYYY/MM/DD HH:MM:SS".
std::ostream& operator<<(std::ostream& out, const Timestamp& timestamp);

// Reads the text form with weekday. On failure the stream is left in the
// failed state and the timestamp unchanged; nothing is thrown. Reading that
// ends exactly at the end of input after the seconds succeeds.
std::istream& operator>>(std::istream& in, Timestamp& timestamp);

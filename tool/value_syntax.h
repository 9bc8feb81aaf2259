#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Readers for the values that follow kovra's options, also used on setting
// texts that the UPS service sends back. Each returns true and writes its
// output only when the whole text fits the syntax; outputs are left alone
// otherwise.

// Only decimal digits, no sign and no blanks; unlike ParseWholeInt32 the
// empty text is 0. Values above INT32_MAX are refused rather than wrapped.
bool ParseDecimal(const char* text, int32_t* value);
// The same over a received text, every byte of it: a NUL inside is no digit.
bool ParseDecimal(std::string_view text, int32_t* value);

// "on" gives 1, "off" gives 0, in any letter case.
bool ParseOnOff(const char* text, int32_t* value);

// [hour:][minute:]second. Each part is a leading integer as
// ScanLeadingInteger reads it (leading white space and a sign allowed); a ":"
// with nothing readable after it ends the value ("1:" is 1 s) and text after
// the third part is ignored. Negative parts and totals beyond INT32_MAX are
// refused, so the result is never negative.
bool ParseDuration(const char* text, int32_t* seconds);

// A leading integer read the way atoi reads it (white space, a sign, digits
// up to the first other character; 0 when there are none), except that one
// that does not fit in 32 bits is refused instead of overflowing. Unlike
// ParseLeadingInt32Strict, no digits at all is 0, not a refusal.
bool ParseLeadingInteger(std::string_view text, int32_t* value);
// The same over a C string; false for null.
bool ParseLeadingInteger(const char* text, int32_t* value);

// The way the tool writes a duration: "<h> hour " when h is not 0,
// "<m> minute " when h or m is not 0, then the seconds, with no unit.
std::string DurationText(int32_t seconds);

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Integer readers shared by every program. The programs read numbers under
// a few different rules (a whole-text field, a leading number the way strtol
// reads it, a unit's answer that saturates); each rule has one function here
// whose name says what it does with text that is no number or too big.
// None of them reads past the view, so texts need not be NUL-terminated, and
// none of them can overflow.

// The blanks a strtol-style scan skips: space, tab, newline, vertical tab,
// form feed, carriage return.
bool IsIntegerBlank(char c);

// The value of c as a digit of base (letters for 10 and up, either case),
// or -1 when it is none.
int DigitValue(char c, int base);

// What a strtol-style scan found: leading blanks (space, tab, newline,
// vertical tab, form feed, carriage return), an optional sign, then the
// digits of the base.
struct LeadingInteger {
  bool found = false;         // at least one digit was read
  bool beyond_int32 = false;  // the signed value does not fit int32
  int64_t value = 0;          // the value, saturated at the int32 limits
  size_t end = 0;             // just after the last digit; 0 when none
};

// Scans a leading integer in `base` (2 to 36; any other base finds nothing).
LeadingInteger ScanLeadingInteger(std::string_view text, int base = 10);

// The leading integer saturated at the int32 limits; 0 when there are no
// digits. When `rest` is not null it receives the position just after the
// last digit (0 when there were none).
int32_t ParseLeadingInt32Saturating(std::string_view text, int base = 10,
                                    size_t* rest = nullptr);

// The leading integer, refused (false, *value untouched) when there are no
// digits or it does not fit int32.
bool ParseLeadingInt32Strict(std::string_view text, int32_t* value);

// The whole text as one integer: an optional '-' and at least one digit of
// `base`, nothing else (no blanks, no '+'), within [minimum, maximum].
// Anything else gives false and leaves *value untouched.
bool ParseWholeInt32(std::string_view text, int32_t minimum, int32_t maximum,
                     int32_t* value, int base = 10);

// ParseWholeInt32 over the whole int32 range.
bool ParseWholeInt32(std::string_view text, int32_t* value);

#pragma once

#include <cstdint>
#include <string_view>

// Number readers for the text protocol's answers. Units send measurements as
// decimal (or, when the unit says so, hexadecimal) text with an optional
// fraction; the agent keeps them as integers in hundredths. Both readers work
// on views that need not be NUL-terminated, never read past the view, and
// saturate at the int32 limits instead of overflowing on long digit runs.

// The text protocol's integer rule: an integer in `base` (2 to 16), leading
// blanks and one sign allowed, reading stops at the first character that is
// not a digit of the base; no digits reads as 0, and a value beyond 32 bits
// saturates at the int32 limits. When `rest` is not null it receives the
// position just after the last digit (0 when there were none).
int32_t ParseAnswerInteger(std::string_view text, int base,
                           size_t* rest = nullptr);

// Reads a fixed-point number as hundredths: the integer part (as above) times
// 100, plus the first two digits after the first '.' read in the same base.
// A single fraction digit d counts as d * 10; further digits are dropped
// without rounding. The fraction takes the sign written before the integer
// part, so "-5.5" gives -550 and "-0.5" gives -50.
int32_t ParseHundredths(std::string_view text, int base);

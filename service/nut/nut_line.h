#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The line codec of the NUT network protocol: a request line is split into
// words, and reply values are quoted. Pure functions over text, so the
// request handler and its tests need no socket.
//
// A word is a run of bytes other than blanks (space, tab). A double quote
// starts a quoted part that runs to the next unescaped double quote and may
// hold blanks; quoted and unquoted parts next to each other join into one
// word (a"b c"d is the word ab cd). A backslash takes the next byte literally,
// inside quotes and outside, so \" is a quote and \\ a backslash.

// The longest request line accepted, without its line end. NUT's own server
// keeps requests within about a kilobyte; no valid request comes near it.
constexpr size_t kNutMaxLineBytes = 1024;

// The most words one request may have (INSTCMD ups cmd param has four).
constexpr size_t kNutMaxWords = 16;

enum class NutLineResult {
  kOk,
  kTooLong,            // more than kNutMaxLineBytes bytes
  kTooManyWords,       // more than kNutMaxWords words
  kUnterminatedQuote,  // a quote that is never closed
  kDanglingEscape,     // a backslash as the last byte
  kControlByte,        // a NUL or other control byte (tab excepted)
};

// Splits one request line, without its LF, into words. A CR at the end is
// dropped (clients that end lines with CR LF). On kOk *words holds the
// words (none for a blank line); otherwise *words is left empty.
NutLineResult NutSplitWords(std::string_view line,
                            std::vector<std::string>* words);

// The value as a quoted word: a double quote, the value with a backslash
// before every double quote and backslash in it, and a closing double quote.
// Control bytes (tab excepted), which no request may hold either, are
// written as '?', so every quoted value splits back into one word.
std::string NutQuote(std::string_view value);

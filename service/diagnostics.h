#pragma once

#include <cstdint>
#include <string>

// How much a diagnostic line matters, as the journal ranks it (the <N>
// prefix of sd-daemon(3)).
enum class DiagLevel : int32_t {
  kCritical = 2,  // the system is being shut down
  kError = 3,
  kWarning = 4,   // power failure, low battery
  kNotice = 5,
  kInfo = 6,      // everything else
};

// Writes "kovrad: " and the formatted text as one line to standard error,
// the service's only diagnostics channel (the journal keeps it). The format
// is always a literal of this program, never text from outside. Diag uses
// the info level.
void Diag(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DiagAt(DiagLevel level, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The level of an event of the event log: power failure and low battery
// are warnings, everything else info.
DiagLevel EventDiagLevel(int32_t event_code);

// Whether lines carry the <N> prefix. At start it is on when standard error
// is the journal (JOURNAL_STREAM names it), so a terminal sees plain lines.
void SetDiagPrefixes(bool on);

// The line as written, without its newline: "<N>kovrad: text" with
// prefixes, "kovrad: text" without.
std::string FormatDiagLine(DiagLevel level, bool prefix, const char* text);

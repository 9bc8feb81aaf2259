#pragma once

// Writes "kovrad: " and the formatted text as one line to standard error,
// the service's only diagnostics channel (the journal keeps it). The format
// is always a literal of this program, never text from outside.
void Diag(const char* format, ...) __attribute__((format(printf, 1, 2)));

#include "service/diagnostics.h"

#include <cstdarg>
#include <cstdio>

void Diag(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  // One write per line keeps lines whole when the agent writes to the same
  // standard error.
  std::fprintf(stderr, "kovrad: %s\n", line);
  std::fflush(stderr);
}

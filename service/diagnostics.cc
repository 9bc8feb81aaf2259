#include "service/diagnostics.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "service/event_detector.h"

namespace {

// JOURNAL_STREAM is "DEVICE:INODE" of the stream systemd connected; it only
// counts when standard error is still that stream.
bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat info;
  return fstat(STDERR_FILENO, &info) == 0 &&
         static_cast<unsigned long long>(info.st_dev) == device &&
         static_cast<unsigned long long>(info.st_ino) == inode;
}

int g_prefixes = -1;  // -1: not decided yet

bool Prefixes() {
  if (g_prefixes < 0) g_prefixes = StderrIsJournal() ? 1 : 0;
  return g_prefixes == 1;
}

void Write(DiagLevel level, const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof(text), format, args);
  std::string line = FormatDiagLine(level, Prefixes(), text);
  line += '\n';
  // One write per line keeps lines whole when the agent writes to the same
  // standard error.
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::string FormatDiagLine(DiagLevel level, bool prefix, const char* text) {
  std::string line;
  if (prefix) {
    line += '<';
    line += static_cast<char>('0' + static_cast<int32_t>(level));
    line += '>';
  }
  line += "kovrad: ";
  line += text;
  return line;
}

void SetDiagPrefixes(bool on) { g_prefixes = on ? 1 : 0; }

DiagLevel EventDiagLevel(int32_t event_code) {
  return event_code == kEventPowerFailure || event_code == kEventBatteryLow
             ? DiagLevel::kWarning
             : DiagLevel::kInfo;
}

void Diag(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(DiagLevel::kInfo, format, args);
  va_end(args);
}

void DiagAt(DiagLevel level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(level, format, args);
  va_end(args);
}

// The log command's reading of the records the service lists: event-log
// entries and status records. Checks: an event entry is printed exactly
// when it has a blank, keeping everything up to its last blank; a status
// record is printed on one line, unchanged unless it has the record's
// shape; and a record written from six numbers prints each as the whole
// units it holds.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tool/log_command.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "log record invariant broken: %s\n", what);
    abort();
  }
}

int32_t Number(const uint8_t* data) {
  uint32_t value = 0;
  std::memcpy(&value, data, sizeof value);
  return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string entry(reinterpret_cast<const char*>(data), size);

  std::string line = "unset";
  const size_t blank = entry.rfind(' ');
  const bool printed = FormatEventEntry(entry, &line);
  Check(printed == (blank != std::string::npos),
        "an event entry printed without blank, or dropped with one");
  if (printed) {
    Check(line.compare(0, blank + 1, entry, 0, blank + 1) == 0,
          "an event entry's text before its code changed");
  }

  const std::string record = FormatStatusRecord(entry);
  if (record != entry) {
    Check(record.find('\n') == std::string::npos, "a record over two lines");
  }

  // Six numbers from the input, in the service's record form.
  if (size >= 24) {
    int32_t values[6];
    for (int i = 0; i < 6; ++i) values[i] = Number(data + 4 * i);
    std::string written = "2026/12/08 03:14:15";
    for (int32_t value : values) written += " " + std::to_string(value);
    const std::string shown = FormatStatusRecord(written);
    Check(shown != written, "a well-formed record printed unchanged");
    const std::string volts = " " + std::to_string(values[0] / 100) + "V";
    Check(shown.find(volts) != std::string::npos, "input volts misprinted");
    const std::string hertz = std::to_string(values[4] / 100) + ".";
    Check(shown.find(hertz) != std::string::npos, "frequency misprinted");
  }
  return 0;
}

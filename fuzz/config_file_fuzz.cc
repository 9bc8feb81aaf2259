// kovrad's configuration file parser. Checks: a refused file names itself
// and a line of the text ("NAME:LINE: reason"); an accepted file yields
// settings that, written out the way --check-config prints them and read
// again, give the same settings (users aside: their passwords are never
// printed).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/integer_text.h"
#include "service/config_file.h"

namespace {

void Check(bool condition, const char* what, const std::string& detail) {
  if (!condition) {
    fprintf(stderr, "configuration invariant broken: %s\n%s\n", what,
            detail.c_str());
    abort();
  }
}

// 1 + the number of newlines: the highest line number a fault can name.
int32_t LineCount(const std::string& text) {
  int32_t lines = 1;
  for (char c : text) lines += c == '\n';
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ServiceOptions options;
  std::string error;
  if (!ParseConfigText(text, "fuzz.conf", &options, &error)) {
    const std::string prefix = "fuzz.conf:";
    Check(error.compare(0, prefix.size(), prefix) == 0,
          "a fault does not name the file", error);
    LeadingInteger line =
        ScanLeadingInteger(std::string_view(error).substr(prefix.size()));
    Check(line.found && line.value >= 1 && line.value <= LineCount(text),
          "a fault names no line of the text", error);
    return 0;
  }
  if (!options.config.nut.users.empty()) return 0;
  const std::string printed = FormatSettings(options);
  ServiceOptions again;
  Check(ParseConfigText(printed, "printed.conf", &again, &error),
        "printed settings are refused", error + "\n" + printed);
  Check(FormatSettings(again) == printed, "printed settings read back changed",
        printed + "\n---\n" + FormatSettings(again));
  return 0;
}

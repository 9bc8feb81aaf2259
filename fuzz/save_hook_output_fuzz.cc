// What a save hook prints, as kovrad collects it. Checks: at most max_lines
// lines kept, each of the form "program<TAB>file" and each one of the
// output's own lines; every other non-empty line gives a diagnostic.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "service/save_hook_run.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "save hook invariant broken: %s\n", what);
    abort();
  }
}

bool WellFormed(const std::string& line) {
  const size_t tab = line.find('\t');
  if (tab == std::string::npos || tab == 0 || tab + 1 == line.size()) {
    return false;
  }
  if (line[0] == ' ' || line.find('\t', tab + 1) != std::string::npos) {
    return false;
  }
  for (char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int32_t max_lines = data[0] % 8;
  const std::string output(reinterpret_cast<const char*>(data) + 1, size - 1);
  SaveHookResult result;
  CollectSavedFileLines("/hooks/save", output, max_lines, &result);

  Check(static_cast<int32_t>(result.saved.size()) <= max_lines,
        "more lines kept than allowed");
  size_t lines = 0;
  for (size_t start = 0; start < output.size(); ++lines) {
    const size_t end = output.find('\n', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  ++lines;
  Check(result.saved.size() + result.diagnostics.size() <= lines,
        "more results than lines");
  for (const std::string& line : result.saved) {
    Check(WellFormed(line), "a kept line not of the form program<TAB>file");
    Check(output.find(line) != std::string::npos, "a kept line not printed");
  }
  return 0;
}

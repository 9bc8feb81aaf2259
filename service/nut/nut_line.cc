#include "service/nut/nut_line.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t') || u == 0x7f;
}

}  // namespace

NutLineResult NutSplitWords(std::string_view line,
                            std::vector<std::string>* words) {
  words->clear();
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kNutMaxLineBytes) return NutLineResult::kTooLong;

  std::vector<std::string> found;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (IsControl(c)) return NutLineResult::kControlByte;
    if (c == '\\') {
      if (i + 1 == line.size()) return NutLineResult::kDanglingEscape;
      const char next = line[++i];
      if (IsControl(next)) return NutLineResult::kControlByte;
      word += next;
      in_word = true;
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (IsBlank(c) && !quoted) {
      if (in_word) {
        if (found.size() == kNutMaxWords) return NutLineResult::kTooManyWords;
        found.push_back(std::move(word));
        word.clear();
        in_word = false;
      }
    } else {
      word += c;
      in_word = true;
    }
  }
  if (quoted) return NutLineResult::kUnterminatedQuote;
  if (in_word) {
    if (found.size() == kNutMaxWords) return NutLineResult::kTooManyWords;
    found.push_back(std::move(word));
  }
  *words = std::move(found);
  return NutLineResult::kOk;
}

std::string NutQuote(std::string_view value) {
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted += '"';
  for (char c : value) {
    if (c == '"' || c == '\\') quoted += '\\';
    // A value read from the unit may hold any byte; a control byte would
    // end the reply line early (LF) or reach the client's terminal.
    quoted += IsControl(c) ? '?' : c;
  }
  quoted += '"';
  return quoted;
}

#pragma once

#include <fstream>
#include <sstream>
#include <string>

// Small text helpers the tests share: the whole of a file (empty when it
// cannot be read) and a substring check.

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

#include "sim/wire_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

WireLog::~WireLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool WireLog::Open(const std::string& path, std::string* error) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    *error = "cannot open log file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void WireLog::Write(int64_t wall_ms, const char* what,
                    const std::string& bytes) {
  if (file_ == nullptr) return;
  std::string line = FormatTime(wall_ms);
  line += ' ';
  line += what;
  line += ' ';
  line += Readable(bytes);
  line += '\n';
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

std::string WireLog::Readable(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '<') {
      text += c;
    } else {
      text += '<';
      text += kHex[byte >> 4];
      text += kHex[byte & 0x0F];
      text += '>';
    }
  }
  return text;
}

std::string WireLog::FormatTime(int64_t wall_ms) {
  int64_t seconds = wall_ms / 1000;
  int64_t millis = wall_ms % 1000;
  if (millis < 0) {
    millis += 1000;
    seconds -= 1;
  }
  std::time_t time = static_cast<std::time_t>(seconds);
  std::tm fields{};
  if (localtime_r(&time, &fields) == nullptr) fields = std::tm{};
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                fields.tm_hour, fields.tm_min, fields.tm_sec,
                static_cast<int>(millis));
  return text;
}

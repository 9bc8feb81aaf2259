#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The --log writer: one line per event on the wire (request received,
// answer sent, stray bytes ignored, bytes dropped while the cable is pulled)
// and per control command, each stamped with the local wall-clock time to
// the millisecond, so that tests and people can follow the exchange.
// Line form: "2026-12-07 22:15:01.123 request D<0D>".
class WireLog final {
 public:
  WireLog() = default;
  WireLog(const WireLog&) = delete;
  WireLog& operator=(const WireLog&) = delete;
  ~WireLog();

  // Creates or truncates the file. On failure writes a message to *error
  // and returns false; the log then stays closed and writes nothing.
  bool Open(const std::string& path, std::string* error);
  bool is_open() const { return file_ != nullptr; }

  // Writes one line "<time> <what> <readable bytes>" and flushes it.
  // wall_ms is milliseconds since the epoch.
  void Write(int64_t wall_ms, const char* what, const std::string& bytes);

  // Printable ASCII as it is, every other byte (and "<") as <XX> in hex.
  static std::string Readable(const std::string& bytes);
  // "YYYY-MM-DD HH:MM:SS.mmm" in local time.
  static std::string FormatTime(int64_t wall_ms);

 private:
  std::FILE* file_ = nullptr;
};

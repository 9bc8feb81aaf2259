#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/http/log_entry.h"

class Database;

// Reads the event log and the status records for the HTTP endpoint through
// a read-only connection of its own. The database runs in WAL mode, so these
// reads never wait for the service's writes nor hold them up. Safe to call
// from several threads; the calls take turns on the one connection.
class LogReader final {
 public:
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;
  ~LogReader();

  // Opens the service's database file, which must exist. On failure returns
  // null with the cause in *error.
  static std::unique_ptr<LogReader> Open(const std::string& path,
                                         std::string* error);

  // The newest `limit` events, oldest first. Entries that do not read as
  // events are skipped. False on a database failure, *events untouched.
  bool NewestEvents(int32_t limit, std::vector<EventEntry>* events);

  // The status records written at or after since_unix_seconds, oldest
  // first; at most `limit` of them, the newest when there are more. False
  // on a database failure, *records untouched.
  bool RecordsSince(int64_t since_unix_seconds, int32_t limit,
                    std::vector<RecordEntry>* records);

 private:
  explicit LogReader(std::unique_ptr<Database> db);

  std::mutex mutex_;
  std::unique_ptr<Database> db_;
};

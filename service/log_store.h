#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Database;

// The three lists the service keeps, numbered as clients ask for them.
enum LogList : int32_t {
  kEventLog = 0,
  kSavedFileLog = 1,
  kStatusRecordLog = 2,
};
constexpr int32_t kLogListCount = 3;

// The event log, the saved-file list and the status records, stored as text
// lines in the service's database. Each list keeps at most its retention
// bound of entries and drops the oldest first. Entries are paged backwards
// by key: a page holds the entries older than a key, and its smallest key is
// where the next page starts. Reads fail while the database is unavailable;
// entries still queued in memory are not seen by them.
class LogStore final {
 public:
  struct Limits {
    int32_t max_entries[kLogListCount] = {10000, 10000, 100000};
    int32_t page_size = 40;
  };

  // db must outlive the store.
  LogStore(Database* db, const Limits& limits);

  static bool ValidList(int32_t list) {
    return list >= 0 && list < kLogListCount;
  }

  // Appends one entry. Line breaks in the text are turned into blanks so an
  // entry is always one line of a reply. An entry the database cannot take
  // now (locked, full, unavailable) is queued by it and written later, in
  // order. Returns false when the entry is lost (the queue is full).
  bool Append(int32_t list, const std::string& text);

  // The key from which paging starts: one above the newest entry's key (1
  // for an empty list). Returns false on a database failure.
  bool StartKey(int32_t list, int32_t* key);

  // One page: the newest entries older than key, at most the page size, in
  // ascending order, and in *next_key the key of the oldest of them (key
  // itself when the page is empty). Returns false on a database failure,
  // leaving the outputs alone.
  bool Page(int32_t list, int32_t key, int32_t* next_key,
            std::vector<std::string>* entries);

  // Erases every entry of the list, also those still queued. Returns false
  // when the database is unavailable or refused it.
  bool Clear(int32_t list);

 private:
  Database* db_;
  Limits limits_;
};

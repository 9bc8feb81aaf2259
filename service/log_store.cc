#include "service/log_store.h"

#include <algorithm>
#include <limits>

#include "service/database.h"

LogStore::LogStore(Database* db, const Limits& limits)
    : db_(db), limits_(limits) {}

bool LogStore::Append(int32_t list, const std::string& text) {
  if (!ValidList(list)) return false;
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  int32_t max_entries = limits_.max_entries[list];
  Database::WriteResult result = db_->Write(
      [list, line, max_entries](Database* db) {
        Statement insert(db,
                         "INSERT INTO log_entries (list, text) "
                         "VALUES (?1, ?2);");
        insert.BindInt(1, list);
        insert.BindText(2, line);
        insert.Step();
        if (!insert.Done()) return insert.code();
        // Keep the newest max_entries; everything at or below the first
        // entry past that bound goes.
        Statement trim(db,
                       "DELETE FROM log_entries WHERE list = ?1 AND id <= "
                       "(SELECT id FROM log_entries WHERE list = ?1 "
                       " ORDER BY id DESC LIMIT 1 OFFSET ?2);");
        trim.BindInt(1, list);
        trim.BindInt(2, max_entries);
        trim.Step();
        return trim.Done() ? 0 : trim.code();
      },
      /*queue_if_unavailable=*/true);
  return result != Database::WriteResult::kRefused;
}

bool LogStore::StartKey(int32_t list, int32_t* key) {
  Statement select(db_,
                   "SELECT COALESCE(MAX(id), 0) FROM log_entries "
                   "WHERE list = ?1;");
  select.BindInt(1, list);
  if (!select.Step()) return false;
  int64_t newest = select.ColumnInt(0);
  // Keys travel as 32-bit numbers; a database that has handed out more ids
  // than that still pages from its newest entries.
  *key = static_cast<int32_t>(
      std::min<int64_t>(newest + 1, std::numeric_limits<int32_t>::max()));
  return true;
}

bool LogStore::Page(int32_t list, int32_t key, int32_t* next_key,
                    std::vector<std::string>* entries) {
  Statement select(db_,
                   "SELECT id, text FROM log_entries WHERE list = ?1 "
                   "AND id < ?2 ORDER BY id DESC LIMIT ?3;");
  select.BindInt(1, list);
  select.BindInt(2, key);
  select.BindInt(3, limits_.page_size);
  std::vector<std::string> page;
  int64_t oldest = key;
  while (select.Step()) {
    oldest = select.ColumnInt(0);
    page.push_back(select.ColumnText(1));
  }
  if (!select.Done()) return false;
  std::reverse(page.begin(), page.end());
  *next_key = static_cast<int32_t>(oldest);
  *entries = std::move(page);
  return true;
}

bool LogStore::Clear(int32_t list) {
  // In order with the appends still queued, which it erases too.
  Database::WriteResult result = db_->Write(
      [list](Database* db) {
        Statement erase(db, "DELETE FROM log_entries WHERE list = ?1;");
        erase.BindInt(1, list);
        erase.Step();
        return erase.Done() ? 0 : erase.code();
      },
      /*queue_if_unavailable=*/false);
  return result != Database::WriteResult::kRefused;
}

#include "service/http/log_reader.h"

#include <algorithm>

#include "service/database.h"
#include "service/log_store.h"

namespace {

// Short, so a locked file turns into an error answer, not a stuck thread.
constexpr int32_t kBusyTimeoutMs = 200;

}  // namespace

LogReader::LogReader(std::unique_ptr<Database> db) : db_(std::move(db)) {}

LogReader::~LogReader() = default;

std::unique_ptr<LogReader> LogReader::Open(const std::string& path,
                                           std::string* error) {
  std::unique_ptr<Database> db =
      Database::OpenReadOnly(path, kBusyTimeoutMs, error);
  if (db == nullptr) return nullptr;
  return std::unique_ptr<LogReader>(new LogReader(std::move(db)));
}

bool LogReader::NewestEvents(int32_t limit, std::vector<EventEntry>* events) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement select(db_.get(),
                   "SELECT text FROM log_entries WHERE list = ?1 "
                   "ORDER BY id DESC LIMIT ?2;");
  select.BindInt(1, kEventLog);
  select.BindInt(2, std::max<int32_t>(limit, 0));
  std::vector<EventEntry> found;
  while (select.Step()) {
    EventEntry entry;
    if (ParseEventEntry(select.ColumnText(0), &entry)) {
      found.push_back(std::move(entry));
    }
  }
  if (!select.Done()) return false;
  std::reverse(found.begin(), found.end());
  *events = std::move(found);
  return true;
}

bool LogReader::RecordsSince(int64_t since_unix_seconds, int32_t limit,
                             std::vector<RecordEntry>* records) {
  // Entries are stored in time order, each starting with its local time
  // text, which sorts as the time does: walk back from the newest and stop
  // at the first one before the bound.
  const std::string bound = EntryTimeText(since_unix_seconds);
  std::lock_guard<std::mutex> lock(mutex_);
  Statement select(db_.get(),
                   "SELECT text FROM log_entries WHERE list = ?1 "
                   "ORDER BY id DESC;");
  select.BindInt(1, kStatusRecordLog);
  std::vector<RecordEntry> found;
  while (static_cast<int32_t>(found.size()) < limit) {
    if (!select.Step()) {
      // The end of the list, or an error.
      if (!select.Done()) return false;
      break;
    }
    std::string text = select.ColumnText(0);
    if (text.compare(0, bound.size(), bound) < 0) break;
    RecordEntry entry;
    if (ParseRecordEntry(text, &entry)) found.push_back(std::move(entry));
  }
  std::reverse(found.begin(), found.end());
  *records = std::move(found);
  return true;
}

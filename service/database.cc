#include "service/database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/diagnostics.h"

namespace {

// Each entry brings the schema from its index to the next version. Version
// 0 is a new, empty file or one made before the schema had a version; both
// hold at most these tables, so creating what is missing is the migration.
const char* const kMigrations[] = {
    "CREATE TABLE IF NOT EXISTS parameters ("
    "  space TEXT NOT NULL, key TEXT NOT NULL, value INTEGER NOT NULL,"
    "  PRIMARY KEY (space, key));"
    "CREATE TABLE IF NOT EXISTS log_entries ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  list INTEGER NOT NULL, text TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS log_entries_by_list ON log_entries (list, id);",
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) ==
                  Database::kSchemaVersion,
              "one migration per schema version");

// Failures that a later attempt may not meet: another process holds a lock,
// the disk is full, the file or its folder is read-only for now, the disk
// failed to answer.
bool Transient(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_NOMEM:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return true;
    default:
      return false;
  }
}

// The file is no database, or a damaged one.
bool Broken(int rc) {
  return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

// Takes group and other access away from a file that exists.
void MakePrivate(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      (info.st_mode & 077) != 0) {
    chmod(path.c_str(), info.st_mode & 0700);
  }
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

Database::Database(const std::string& path, const Options& options)
    : path_(path), options_(options) {}

Database::~Database() { sqlite3_close_v2(db_); }

std::unique_ptr<Database> Database::Open(const std::string& path,
                                         std::string* error) {
  std::unique_ptr<Database> database(new Database(path, Options()));
  if (!database->TryOpen()) {
    *error = database->problem_;
    return nullptr;
  }
  return database;
}

std::unique_ptr<Database> Database::OpenReadOnly(const std::string& path,
                                                 int32_t busy_timeout_ms,
                                                 std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    *error = "cannot open " + path + " for reading: " +
             (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<Database> database(new Database(path, Options()));
  database->db_ = db;
  sqlite3_busy_timeout(db, busy_timeout_ms);
  if (!database->Exec("PRAGMA cache_size=-256;")) {
    *error = "cannot prepare " + path + ": " + database->LastError();
    return nullptr;
  }
  return database;
}

std::unique_ptr<Database> Database::OpenOrUnavailable(const std::string& path,
                                                      const Options& options,
                                                      int64_t now) {
  std::unique_ptr<Database> database(new Database(path, options));
  database->last_now_ = now;
  if (!database->TryOpen()) {
    DiagAt(DiagLevel::kError, "database unavailable: %s; settings are the defaults, logs are kept "
         "in memory, next try in %lld s",
         database->problem_.c_str(),
         static_cast<long long>(options.retry_ms / 1000));
    database->next_retry_ms_ = now + options.retry_ms;
  }
  return database;
}

bool Database::TryOpen() {
  bool broken = false;
  if (OpenOnce(&broken)) return true;
  if (!broken) return false;
  MoveAside();
  return OpenOnce(&broken);
}

bool Database::OpenOnce(bool* broken) {
  *broken = false;
  struct stat info;
  if (stat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    problem_ = "cannot open " + path_ + ": not a regular file";
    return false;
  }
  // Made here rather than by SQLite, so that it is private from its first
  // byte whatever the umask; SQLite gives its -wal and -shm files the same
  // mode.
  int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                0600);
  if (fd < 0) {
    problem_ = "cannot open " + path_ + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  MakePrivate(path_);
  MakePrivate(path_ + "-wal");
  MakePrivate(path_ + "-shm");

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      path_.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    problem_ = "cannot open " + path_ + ": " +
               (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return false;
  }
  if (sqlite3_db_readonly(db, "main") == 1) {
    problem_ = "cannot open " + path_ + ": the file is read-only";
    sqlite3_close(db);
    return false;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, options_.open_busy_ms);

  // A file that is not a database fails on its first read, here.
  sqlite3_stmt* check = nullptr;
  rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check;", -1, &check, nullptr);
  std::string verdict;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(check);
    if (rc == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(check, 0);
      verdict = text != nullptr ? reinterpret_cast<const char*>(text) : "";
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(check);
  if (rc != SQLITE_OK || verdict != "ok") {
    *broken = Broken(rc) || (rc == SQLITE_OK && verdict != "ok");
    Close("cannot use " + path_ + ": " +
          (rc != SQLITE_OK ? std::string(sqlite3_errstr(rc))
                           : "integrity check failed: " + verdict));
    return false;
  }

  rc = ExecCode("PRAGMA journal_mode=WAL;");
  if (rc == SQLITE_OK) rc = ExecCode("PRAGMA synchronous=FULL;");
  // Paging through a long list must not grow the resident service: 256 KiB
  // of page cache is plenty for index lookups.
  if (rc == SQLITE_OK) rc = ExecCode("PRAGMA cache_size=-256;");
  if (rc != SQLITE_OK) {
    *broken = Broken(rc);
    Close("cannot prepare " + path_ + ": " + LastError());
    return false;
  }
  MakePrivate(path_ + "-wal");
  MakePrivate(path_ + "-shm");
  if (!Migrate()) return false;
  sqlite3_busy_timeout(db_, options_.busy_ms);
  problem_.clear();
  return true;
}

bool Database::Migrate() {
  int64_t version = 0;
  bool read = false;
  {
    Statement select(this, "PRAGMA user_version;");
    read = select.Step();
    if (read) version = select.ColumnInt(0);
  }
  if (!read) {
    Close("cannot read the schema version of " + path_ + ": " + LastError());
    return false;
  }
  if (version > kSchemaVersion) {
    Close(path_ + " has schema version " + std::to_string(version) +
          ", newer than this kovrad knows (" +
          std::to_string(kSchemaVersion) + "); it is left as it is");
    return false;
  }
  for (int64_t from = version; from < kSchemaVersion; ++from) {
    std::string sql = std::string("BEGIN IMMEDIATE;") +
                      kMigrations[from] + "PRAGMA user_version = " +
                      std::to_string(from + 1) + ";COMMIT;";
    int rc = ExecCode(sql.c_str());
    if (rc != SQLITE_OK) {
      std::string cause = LastError();
      ExecCode("ROLLBACK;");
      Close("cannot bring " + path_ + " from schema version " +
            std::to_string(from) + " to " + std::to_string(from + 1) + ": " +
            cause);
      return false;
    }
  }
  return true;
}

void Database::MoveAside() {
  char stamp[32] = "unknown";
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) != nullptr) {
    strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
  }
  std::string aside = path_ + ".corrupt-" + stamp;
  for (int i = 1; Exists(aside) && i < 1000; ++i) {
    aside = path_ + ".corrupt-" + stamp + "." + std::to_string(i);
  }
  if (rename(path_.c_str(), aside.c_str()) != 0) {
    Diag("cannot move the broken database %s aside: %s", path_.c_str(),
         std::strerror(errno));
    return;
  }
  // The journal files belong to the old file; a new file must not take
  // them for its own.
  for (const char* suffix : {"-wal", "-shm"}) {
    std::string from = path_ + suffix;
    if (Exists(from)) rename(from.c_str(), (aside + suffix).c_str());
  }
  DiagAt(DiagLevel::kError, "database %s was not usable (%s); kept as %s, a new one is made",
       path_.c_str(), problem_.c_str(), aside.c_str());
}

void Database::Close(const std::string& problem) {
  // close_v2: a statement still in scope is finalised later, harmlessly.
  sqlite3_close_v2(db_);
  db_ = nullptr;
  problem_ = problem;
}

bool Database::Tick(int64_t now) {
  last_now_ = now;
  bool reopened = false;
  if (!Available() && now >= next_retry_ms_) {
    if (TryOpen()) {
      Diag("database %s available again", path_.c_str());
      reopened = true;
    } else {
      next_retry_ms_ = now + options_.retry_ms;
    }
  }
  Flush();
  return reopened;
}

Database::WriteResult Database::Write(WriteFn write,
                                      bool queue_if_unavailable) {
  if (!Available() && !queue_if_unavailable) return WriteResult::kRefused;
  if (queue_.size() >= options_.max_queued) {
    ++dropped_;
    // One line per thousand lost writes keeps a long outage readable.
    if (dropped_ % 1000 == 1) {
      DiagAt(DiagLevel::kWarning, "database write queue full (%zu): %llu writes lost so far",
           queue_.size(), static_cast<unsigned long long>(dropped_));
    }
    return WriteResult::kRefused;
  }
  uint64_t sequence = next_sequence_++;
  queue_.push_back(Queued{sequence, std::move(write)});
  // A lock costs this try only the short busy wait; trying on every write
  // also keeps the queue moving for a caller that seldom ticks.
  Flush();
  if (!queue_.empty() && queue_.front().sequence <= sequence) {
    return WriteResult::kQueued;
  }
  return last_dropped_sequence_ == sequence ? WriteResult::kRefused
                                            : WriteResult::kDone;
}

void Database::Flush() {
  if (!Available() || queue_.empty()) return;
  int rc = ExecCode("BEGIN IMMEDIATE;");
  if (rc != SQLITE_OK) {
    if (Broken(rc)) {
      Close("database " + path_ + " became unusable: " + sqlite3_errstr(rc));
      next_retry_ms_ = last_now_;
    }
    return;
  }
  size_t done = 0;
  bool stop = false;
  std::deque<uint64_t> given_up;
  while (done < queue_.size() &&
         done < static_cast<size_t>(options_.flush_batch) && !stop) {
    ExecCode("SAVEPOINT one_write;");
    rc = queue_[done].write(this);
    if (rc == SQLITE_OK || rc == SQLITE_DONE) {
      ExecCode("RELEASE one_write;");
      ++done;
      continue;
    }
    if (sqlite3_get_autocommit(db_) != 0) {
      // SQLite rolled the whole transaction back: nothing of it stands.
      if (Broken(rc)) {
        Close("database " + path_ + " became unusable: " + sqlite3_errstr(rc));
        next_retry_ms_ = last_now_;
      }
      return;
    }
    ExecCode("ROLLBACK TO one_write;");
    ExecCode("RELEASE one_write;");
    if (Transient(rc)) {
      stop = true;
    } else {
      Diag("database write failed and is dropped: %s", sqlite3_errstr(rc));
      given_up.push_back(queue_[done].sequence);
      ++done;
    }
  }
  rc = ExecCode("COMMIT;");
  if (rc != SQLITE_OK) {
    ExecCode("ROLLBACK;");
    return;
  }
  for (size_t i = 0; i < done; ++i) queue_.pop_front();
  for (uint64_t sequence : given_up) {
    ++dropped_;
    last_dropped_sequence_ = sequence;
  }
}

bool Database::Exec(const char* sql) {
  if (db_ == nullptr) return false;
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    Diag("database: %s", message != nullptr ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return false;
  }
  return true;
}

int Database::ExecCode(const char* sql) {
  if (db_ == nullptr) return SQLITE_CANTOPEN;
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

std::string Database::LastError() const {
  return db_ != nullptr ? sqlite3_errmsg(db_) : problem_;
}

Statement::Statement(Database* db, const char* sql) : db_(db) {
  if (db->handle() == nullptr) {
    code_ = SQLITE_CANTOPEN;
    return;
  }
  code_ = sqlite3_prepare_v2(db->handle(), sql, -1, &stmt_, nullptr);
  if (code_ != SQLITE_OK) {
    Diag("database: %s", db->LastError().c_str());
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::BindInt(int index, int64_t value) {
  if (stmt_ != nullptr) sqlite3_bind_int64(stmt_, index, value);
}

void Statement::BindText(int index, const std::string& text) {
  if (stmt_ != nullptr) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  }
}

bool Statement::Step() {
  if (stmt_ == nullptr) return false;
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  code_ = rc;
  if (rc == SQLITE_DONE) {
    done_ = true;
  } else if (!Transient(rc)) {
    // A lock or a full disk is reported by the caller, which retries.
    Diag("database: %s", db_->LastError().c_str());
  }
  return false;
}

int64_t Statement::ColumnInt(int column) {
  return sqlite3_column_int64(stmt_, column);
}

std::string Statement::ColumnText(int column) {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  if (text == nullptr || size <= 0) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(size));
}

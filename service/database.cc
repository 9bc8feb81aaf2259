#include "service/database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdio>

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS parameters ("
    "  space TEXT NOT NULL, key TEXT NOT NULL, value INTEGER NOT NULL,"
    "  PRIMARY KEY (space, key));"
    "CREATE TABLE IF NOT EXISTS log_entries ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  list INTEGER NOT NULL, text TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS log_entries_by_list ON log_entries (list, id);";

}  // namespace

Database::~Database() { sqlite3_close(db_); }

std::unique_ptr<Database> Database::Open(const std::string& path,
                                         std::string* error) {
  // Settings and logs are the service's alone. SQLite gives its WAL and
  // shared-memory files the mode of the database, so the file is made (or
  // tightened) before SQLite opens it.
  if (path != ":memory:") {
    int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || fchmod(fd, 0600) != 0) {
      *error = "cannot open " + path + ": " + std::strerror(errno);
      if (fd >= 0) close(fd);
      return nullptr;
    }
    close(fd);
    // Left by an older kovrad that made them readable to others.
    chmod((path + "-wal").c_str(), 0600);
    chmod((path + "-shm").c_str(), 0600);
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      path.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
      nullptr);
  if (rc != SQLITE_OK) {
    *error = "cannot open " + path + ": " +
             (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<Database> database(new Database(db));
  // A second process on the same file (or a slow disk) must not turn into
  // a failed write at once.
  sqlite3_busy_timeout(db, 2000);
  if (!database->Exec("PRAGMA journal_mode=WAL;") ||
      !database->Exec("PRAGMA synchronous=FULL;") ||
      // Paging through a long list must not grow the resident service:
      // 256 KiB of page cache is plenty for index lookups.
      !database->Exec("PRAGMA cache_size=-256;") || !database->Exec(kSchema)) {
    *error = "cannot prepare " + path + ": " + database->LastError();
    return nullptr;
  }
  return database;
}

bool Database::Exec(const char* sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    std::fprintf(stderr, "kovrad: database: %s\n",
                 message != nullptr ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return false;
  }
  return true;
}

std::string Database::LastError() const { return sqlite3_errmsg(db_); }

Statement::Statement(Database* db, const char* sql) : db_(db) {
  if (sqlite3_prepare_v2(db->handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "kovrad: database: %s\n", db->LastError().c_str());
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
  if (rc == SQLITE_DONE) {
    done_ = true;
  } else {
    std::fprintf(stderr, "kovrad: database: %s\n", db_->LastError().c_str());
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

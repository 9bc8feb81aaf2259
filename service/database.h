#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// The service's one SQLite file, holding its parameters and its three logs.
// It runs in WAL mode with full synchronisation, so every committed write
// survives a crash of the service or of the machine, and a half-done write
// is never seen.
class Database final {
 public:
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  // Opens or creates the file and its tables. On failure returns null and
  // describes the cause in *error.
  static std::unique_ptr<Database> Open(const std::string& path,
                                        std::string* error);

  // Opens an existing file for reading only, for readers in other threads
  // than the writer's. The file is neither created nor changed; a reader
  // that finds the file locked gives up after busy_timeout_ms. On failure
  // returns null and describes the cause in *error.
  static std::unique_ptr<Database> OpenReadOnly(const std::string& path,
                                                int32_t busy_timeout_ms,
                                                std::string* error);

  // Runs SQL text that takes no parameters and returns no rows. On failure
  // writes one line to standard error and returns false.
  bool Exec(const char* sql);

  sqlite3* handle() { return db_; }

  // The last error text of the connection, for diagnostics.
  std::string LastError() const;

 private:
  explicit Database(sqlite3* db) : db_(db) {}

  sqlite3* db_;
};

// One prepared statement, finalised when it goes out of scope. Bind indexes
// are 1-based, column indexes 0-based, as SQLite counts them.
class Statement final {
 public:
  Statement(Database* db, const char* sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  bool ok() const { return stmt_ != nullptr; }
  void BindInt(int index, int64_t value);
  void BindText(int index, const std::string& text);

  // Steps once: true while a row is available. Done() tells a clean end
  // from an error after Step() returned false.
  bool Step();
  bool Done() const { return done_; }

  int64_t ColumnInt(int column);
  std::string ColumnText(int column);

 private:
  Database* db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool done_ = false;
};

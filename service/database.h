#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// The service's one SQLite file, holding its parameters and its three logs.
// It runs in WAL mode with full synchronisation, so every committed write
// survives a crash of the service or of the machine, and a half-done write
// is never seen.
//
// The service must go on watching the UPS whatever becomes of this file, so
// the handle is built never to stop it:
// - At open the file is made readable by the service alone (0600, also its
//   -wal and -shm files), checked (PRAGMA quick_check) and brought to the
//   current schema version (PRAGMA user_version, one transaction per
//   migration). A file that is not a database or fails the check is moved
//   aside as "<file>.corrupt-<time>" (kept, never deleted) and a new one made.
// - When the file cannot be opened at all the handle is "unavailable": reads
//   fail, writes are refused or kept in memory, and Tick() tries to open it
//   again every retry period.
// - Nothing waits on a lock held by another process: the busy wait is a few
//   milliseconds. Writes that cannot go through now (busy, locked, disk full,
//   read-only, I/O error) are kept in a bounded queue, in order, and retried
//   on later Tick() calls.
class Database final {
 public:
  struct Options {
    int32_t open_busy_ms = 250;  // busy wait while opening and migrating
    int32_t busy_ms = 2;         // busy wait for everything afterwards
    int64_t retry_ms = 10000;    // between attempts to open the file again
    size_t max_queued = 10000;   // writes kept while they cannot be made
    int32_t flush_batch = 256;   // queued writes per transaction
  };

  // The schema version this program writes; files at a lower version are
  // migrated, files at a higher one are left alone (unavailable).
  static constexpr int32_t kSchemaVersion = 1;

  // One write: statements without transaction control (the handle wraps
  // them in one), returning the SQLite result code of the first statement
  // that failed, or SQLITE_OK.
  using WriteFn = std::function<int(Database*)>;

  enum class WriteResult {
    kDone,     // committed
    kQueued,   // kept in memory, to be retried by Tick()
    kRefused,  // not made and not kept: the queue is full, the database is
               // unavailable and the write may not wait, or it failed for a
               // reason no retry mends
  };

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

  // Opens or creates the file; never null. When the file cannot be opened
  // the handle is unavailable (Problem() says why) and Tick() retries from
  // now on.
  static std::unique_ptr<Database> OpenOrUnavailable(const std::string& path,
                                                     const Options& options,
                                                     int64_t now);

  // True while the file is open and usable.
  bool Available() const { return db_ != nullptr; }
  // Why it is unavailable; empty while available.
  const std::string& Problem() const { return problem_; }

  // Tries to open the file again now when it is unavailable, then writes
  // what is queued (at most one batch). Returns true when the database has
  // just become available, so that the caller reloads what it keeps in
  // memory. Never blocks for more than the busy wait.
  bool Tick(int64_t now);

  // Makes one write, in order after what is queued. queue_if_unavailable
  // keeps it in memory also while the database is unavailable (the
  // service's own records); without it (client requests) it is refused.
  WriteResult Write(WriteFn write, bool queue_if_unavailable);

  size_t queued() const { return queue_.size(); }
  // Writes given up (queue full, or a failure no retry mends) so far.
  uint64_t dropped() const { return dropped_; }

  // Runs SQL text that takes no parameters and returns no rows. On failure
  // writes one line to standard error and returns false.
  bool Exec(const char* sql);
  // Like Exec but returns the SQLite result code, silently.
  int ExecCode(const char* sql);

  // The open connection, null while unavailable.
  sqlite3* handle() { return db_; }

  // The last error text of the connection, for diagnostics.
  std::string LastError() const;

 private:
  struct Queued {
    uint64_t sequence;
    WriteFn write;
  };

  Database(const std::string& path, const Options& options);

  // Opens the file, moving a broken one aside once. On failure leaves the
  // handle closed with problem_ set.
  bool TryOpen();
  // One attempt; *broken tells a file to move aside from other failures.
  bool OpenOnce(bool* broken);
  bool Migrate();
  void MoveAside();
  void Close(const std::string& problem);
  // Writes up to one batch of the queue in one transaction.
  void Flush();

  std::string path_;
  Options options_;
  sqlite3* db_ = nullptr;
  std::string problem_;
  int64_t next_retry_ms_ = 0;
  int64_t last_now_ = 0;
  std::deque<Queued> queue_;
  uint64_t next_sequence_ = 1;
  uint64_t last_dropped_sequence_ = 0;
  uint64_t dropped_ = 0;
};

// One prepared statement, finalised when it goes out of scope. Bind indexes
// are 1-based, column indexes 0-based, as SQLite counts them. On an
// unavailable database it is not ok() and every step fails.
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
  // SQLITE_OK until a failure, then the failure's code (SQLITE_DONE after
  // a clean end).
  int code() const { return code_; }

  int64_t ColumnInt(int column);
  std::string ColumnText(int column);

 private:
  Database* db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool done_ = false;
  int code_ = 0;
};

#include "service/database.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/log_store.h"
#include "service/parameter_store.h"
#include "tests/support/temp_dir.h"

namespace {

// The schema as files were written before it had a version.
const char kVersionZeroSchema[] =
    "CREATE TABLE parameters ("
    "  space TEXT NOT NULL, key TEXT NOT NULL, value INTEGER NOT NULL,"
    "  PRIMARY KEY (space, key));"
    "CREATE TABLE log_entries ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  list INTEGER NOT NULL, text TEXT NOT NULL);"
    "CREATE INDEX log_entries_by_list ON log_entries (list, id);";

class DatabaseTest : public ::testing::Test {
 protected:
  DatabaseTest() : path_(dir_.Join("kovrad.db")) {}

  ~DatabaseTest() override {
    if (other_ != nullptr) sqlite3_close(other_);
  }

  void Open() {
    logs_.reset();
    params_.reset();
    db_.reset();
    db_ = Database::OpenOrUnavailable(path_, options_, now_);
    LogStore::Limits limits;
    limits.page_size = 1000000;
    logs_.reset(new LogStore(db_.get(), limits));
    params_.reset(new ParameterStore(db_.get()));
    params_->Load();
  }

  // A second connection, as another process would hold it.
  void OpenOther() {
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path_.c_str(), &other_));
  }

  void OtherExec(const char* sql) {
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(other_, sql, nullptr, nullptr, nullptr))
        << sqlite3_errmsg(other_);
  }

  std::vector<std::string> ReadAll(int32_t list) {
    int32_t key = 0;
    int32_t next = 0;
    std::vector<std::string> all;
    EXPECT_TRUE(logs_->StartKey(list, &key));
    EXPECT_TRUE(logs_->Page(list, key, &next, &all));
    return all;
  }

  std::vector<std::string> Files() {
    std::vector<std::string> names;
    DIR* folder = opendir(dir_.path().c_str());
    while (struct dirent* entry = readdir(folder)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(folder);
    return names;
  }

  TempDir dir_;
  std::string path_;
  Database::Options options_;
  int64_t now_ = 1000000;
  std::unique_ptr<Database> db_;
  std::unique_ptr<LogStore> logs_;
  std::unique_ptr<ParameterStore> params_;
  sqlite3* other_ = nullptr;
};

TEST_F(DatabaseTest, WritesBehindAnotherProcessLockAreQueuedThenMadeInOrder) {
  Open();
  ASSERT_TRUE(db_->Available());
  ASSERT_TRUE(logs_->Append(kEventLog, "before"));
  OpenOther();
  OtherExec("BEGIN IMMEDIATE;");

  auto slowest = std::chrono::steady_clock::duration::zero();
  for (int i = 0; i < 50; ++i) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(logs_->Append(kEventLog, "event " + std::to_string(i)));
    db_->Tick(now_);
    slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ParameterStore::kOk,
            params_->Set(ParameterSpace::kPol, kKeyShutdownDelay, "300"));
  slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
  // The busy wait is 2 ms; a loose bound keeps a loaded machine green.
  EXPECT_LT(slowest, std::chrono::milliseconds(100));
  EXPECT_EQ(51u, db_->queued());
  EXPECT_EQ(300, params_->Value(kKeyShutdownDelay));
  // Readers are not held up by the writer in WAL mode.
  EXPECT_EQ(std::vector<std::string>{"before"}, ReadAll(kEventLog));

  OtherExec("COMMIT;");
  db_->Tick(now_);
  EXPECT_EQ(0u, db_->queued());
  std::vector<std::string> all = ReadAll(kEventLog);
  ASSERT_EQ(51u, all.size());
  EXPECT_EQ("before", all[0]);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ("event " + std::to_string(i), all[i + 1]);
  }
  Open();
  EXPECT_EQ(300, params_->Value(kKeyShutdownDelay));
}

TEST_F(DatabaseTest, QueueIsBoundedAndFlushedInBatches) {
  options_.max_queued = 5;
  options_.flush_batch = 2;
  Open();
  OpenOther();
  OtherExec("BEGIN IMMEDIATE;");
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(logs_->Append(kEventLog, "e"));
  EXPECT_FALSE(logs_->Append(kEventLog, "lost"));
  EXPECT_EQ(1u, db_->dropped());
  OtherExec("COMMIT;");
  db_->Tick(now_);
  EXPECT_EQ(3u, db_->queued());
  db_->Tick(now_);
  db_->Tick(now_);
  EXPECT_EQ(0u, db_->queued());
  EXPECT_EQ(5u, ReadAll(kEventLog).size());
}

TEST_F(DatabaseTest, UnopenableFileGivesUnavailableModeAndIsRetried) {
  // A regular file where the state folder should be: nothing can be made
  // in it, as with a read-only folder (which root would still write).
  std::string blocker = dir_.Join("state");
  std::ofstream(blocker) << "x";
  path_ = blocker + "/kovrad.db";
  options_.retry_ms = 5000;
  Open();
  EXPECT_FALSE(db_->Available());
  EXPECT_NE(std::string::npos, db_->Problem().find("cannot open"));

  // Settings serve from memory; writes from clients are refused; the
  // service's own records wait in memory; reads fail.
  EXPECT_EQ(120, params_->Value(kKeyShutdownDelay));
  EXPECT_EQ(ParameterStore::kStoreFailed,
            params_->Set(ParameterSpace::kPol, kKeyShutdownDelay, "300"));
  EXPECT_EQ(120, params_->Value(kKeyShutdownDelay));
  EXPECT_TRUE(logs_->Append(kEventLog, "kept in memory"));
  EXPECT_FALSE(logs_->Clear(kEventLog));
  int32_t key = 0;
  EXPECT_FALSE(logs_->StartKey(kEventLog, &key));

  unlink(blocker.c_str());
  ASSERT_EQ(0, mkdir(blocker.c_str(), 0700));
  EXPECT_FALSE(db_->Tick(now_ + 4999));
  EXPECT_FALSE(db_->Available());
  EXPECT_TRUE(db_->Tick(now_ + 5000));
  EXPECT_TRUE(db_->Available());
  EXPECT_TRUE(db_->Problem().empty());
  EXPECT_EQ(std::vector<std::string>{"kept in memory"}, ReadAll(kEventLog));
}

TEST_F(DatabaseTest, FileThatIsNotADatabaseIsMovedAsideNotDeleted) {
  std::string garbage(8192, 'g');
  std::ofstream(path_) << garbage;
  Open();
  ASSERT_TRUE(db_->Available()) << db_->Problem();
  EXPECT_TRUE(logs_->Append(kEventLog, "fresh"));
  EXPECT_EQ(std::vector<std::string>{"fresh"}, ReadAll(kEventLog));
  std::string aside;
  for (const std::string& name : Files()) {
    if (name.rfind("kovrad.db.corrupt-", 0) == 0) aside = name;
  }
  ASSERT_FALSE(aside.empty());
  std::ifstream kept(dir_.Join(aside));
  std::string content((std::istreambuf_iterator<char>(kept)),
                      std::istreambuf_iterator<char>());
  EXPECT_EQ(garbage, content);
}

TEST_F(DatabaseTest, VersionZeroFileIsMigratedWithItsData) {
  OpenOther();
  OtherExec(kVersionZeroSchema);
  OtherExec(
      "INSERT INTO parameters VALUES ('POL', 'service.shutdown delay', 42);"
      "INSERT INTO log_entries (list, text) VALUES (0, 'old event');");
  sqlite3_close(other_);
  other_ = nullptr;

  Open();
  ASSERT_TRUE(db_->Available()) << db_->Problem();
  EXPECT_EQ(42, params_->Value(kKeyShutdownDelay));
  EXPECT_EQ(std::vector<std::string>{"old event"}, ReadAll(kEventLog));
  Statement version(db_.get(), "PRAGMA user_version;");
  ASSERT_TRUE(version.Step());
  EXPECT_EQ(Database::kSchemaVersion, version.ColumnInt(0));
}

TEST_F(DatabaseTest, NewerSchemaIsLeftAlone) {
  OpenOther();
  OtherExec("CREATE TABLE future (x); PRAGMA user_version = 99;");
  sqlite3_close(other_);
  other_ = nullptr;
  Open();
  EXPECT_FALSE(db_->Available());
  EXPECT_NE(std::string::npos, db_->Problem().find("schema version 99"));
  for (const std::string& name : Files()) {
    EXPECT_EQ(std::string::npos, name.find("corrupt")) << name;
  }
}

TEST_F(DatabaseTest, FilesAreReadableByTheServiceAloneWhateverTheUmask) {
  mode_t old_umask = umask(0);
  Open();
  umask(old_umask);
  ASSERT_TRUE(db_->Available());
  ASSERT_TRUE(logs_->Append(kEventLog, "x"));
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat info;
    ASSERT_EQ(0, stat((path_ + suffix).c_str(), &info)) << suffix;
    EXPECT_EQ(0600u, info.st_mode & 0777) << suffix;
  }
}

}  // namespace

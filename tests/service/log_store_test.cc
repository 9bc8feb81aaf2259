#include "service/log_store.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/database.h"
#include "tests/support/temp_dir.h"

namespace {

// Paging itself is tested through the service's socket; these tests look at
// what the store keeps.
class LogStoreTest : public ::testing::Test {
 protected:
  void Open() {
    store_.reset();
    db_.reset();
    std::string error;
    db_ = Database::Open(dir_.Join("kovrad.db"), &error);
    ASSERT_TRUE(db_) << error;
    LogStore::Limits limits;
    limits.page_size = 1000000;  // one page holds a whole list
    store_.reset(new LogStore(db_.get(), limits));
  }

  std::vector<std::string> ReadAll(int32_t list) {
    int32_t key = 0;
    int32_t next = 0;
    std::vector<std::string> all;
    EXPECT_TRUE(store_->StartKey(list, &key));
    EXPECT_TRUE(store_->Page(list, key, &next, &all));
    return all;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<LogStore> store_;
};

TEST_F(LogStoreTest, ClearErasesOnlyItsListAndLineBreaksStayInOneEntry) {
  Open();
  ASSERT_TRUE(store_->Append(kEventLog, "2026/01/02 03:04:05 4"));
  ASSERT_TRUE(store_->Append(kSavedFileLog, "evil\tname\r\nERR 8"));
  EXPECT_EQ(std::vector<std::string>{"evil\tname  ERR 8"},
            ReadAll(kSavedFileLog));
  ASSERT_TRUE(store_->Clear(kSavedFileLog));
  EXPECT_TRUE(ReadAll(kSavedFileLog).empty());
  EXPECT_EQ(1u, ReadAll(kEventLog).size());
  EXPECT_FALSE(store_->Append(5, "no such list"));
}

TEST_F(LogStoreTest, KillDuringRecordingLosesNothingCommitted) {
  int report[2];
  ASSERT_EQ(0, pipe(report));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The recorder: appends for ever and reports every committed entry.
    close(report[0]);
    std::string error;
    std::unique_ptr<Database> db =
        Database::Open(dir_.Join("kovrad.db"), &error);
    if (!db) _exit(1);
    LogStore store(db.get(), LogStore::Limits());
    for (int32_t i = 1;; ++i) {
      if (!store.Append(kStatusRecordLog,
                        "2026/01/01 00:00:00 " + std::to_string(i)) ||
          write(report[1], &i, sizeof(i)) != sizeof(i)) {
        _exit(2);
      }
    }
  }
  close(report[1]);
  int32_t committed = 0;
  while (committed < 200) {
    struct pollfd entry = {report[0], POLLIN, 0};
    ASSERT_EQ(1, poll(&entry, 1, 10000)) << "the recorder stalled";
    ASSERT_EQ(static_cast<ssize_t>(sizeof(committed)),
              read(report[0], &committed, sizeof(committed)));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  // Counts written after the last one read are committed too.
  int32_t value = 0;
  while (read(report[0], &value, sizeof(value)) == sizeof(value)) {
    committed = value;
  }
  close(report[0]);

  Open();
  Statement check(db_.get(), "PRAGMA integrity_check;");
  ASSERT_TRUE(check.Step());
  EXPECT_EQ("ok", check.ColumnText(0));
  std::vector<std::string> all = ReadAll(kStatusRecordLog);
  ASSERT_GE(all.size(), static_cast<size_t>(committed));
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ("2026/01/01 00:00:00 " + std::to_string(i + 1), all[i]);
  }
}

}  // namespace

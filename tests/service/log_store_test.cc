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
#include "tests/service/service_client.h"

namespace {

class LogStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    db_ = Database::Open(dir_.path() + "/kovrad.db", &error);
    ASSERT_TRUE(db_) << error;
    limits_.max_entries[kEventLog] = 50;
    limits_.page_size = 7;
    store_.reset(new LogStore(db_.get(), limits_));
  }

  // Pages through a list as the tool does and returns it oldest first.
  std::vector<std::string> ReadAll(int32_t list, int32_t* pages = nullptr) {
    int32_t key = 0;
    EXPECT_TRUE(store_->StartKey(list, &key));
    std::vector<std::string> all;
    int32_t count = 0;
    for (;;) {
      std::vector<std::string> page;
      int32_t next = -1;
      EXPECT_TRUE(store_->Page(list, key, &next, &page));
      if (page.empty()) {
        EXPECT_EQ(key, next);
        break;
      }
      EXPECT_LT(next, key);
      ++count;
      all.insert(all.begin(), page.begin(), page.end());
      key = next;
    }
    if (pages != nullptr) *pages = count;
    return all;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
  LogStore::Limits limits_;
  std::unique_ptr<LogStore> store_;
};

TEST_F(LogStoreTest, EmptyListHasOneEmptyPage) {
  int32_t key = 0;
  ASSERT_TRUE(store_->StartKey(kStatusRecordLog, &key));
  EXPECT_EQ(1, key);
  int32_t pages = -1;
  EXPECT_TRUE(ReadAll(kStatusRecordLog, &pages).empty());
  EXPECT_EQ(0, pages);
}

TEST_F(LogStoreTest, PagesAreAscendingAndCoverEveryEntryOnce) {
  // Thousands of entries: durability is not what this test is about.
  ASSERT_TRUE(db_->Exec("PRAGMA synchronous=OFF;"));
  // Three lists written interleaved, so keys of one list have gaps.
  for (int i = 0; i < 3000; ++i) {
    ASSERT_TRUE(
        store_->Append(kStatusRecordLog, "record " + std::to_string(i)));
    if (i % 3 == 0) {
      ASSERT_TRUE(store_->Append(kSavedFileLog, "p\tf" + std::to_string(i)));
    }
  }
  int32_t key = 0;
  ASSERT_TRUE(store_->StartKey(kStatusRecordLog, &key));
  std::vector<std::string> first;
  int32_t next = 0;
  ASSERT_TRUE(store_->Page(kStatusRecordLog, key, &next, &first));
  ASSERT_EQ(7u, first.size());
  EXPECT_EQ("record 2993", first.front());
  EXPECT_EQ("record 2999", first.back());

  int32_t pages = 0;
  std::vector<std::string> all = ReadAll(kStatusRecordLog, &pages);
  ASSERT_EQ(3000u, all.size());
  EXPECT_EQ((3000 + 6) / 7, pages);
  for (int i = 0; i < 3000; ++i)
    EXPECT_EQ("record " + std::to_string(i), all[i]);
  EXPECT_EQ(1000u, ReadAll(kSavedFileLog).size());
}

TEST_F(LogStoreTest, RetentionDropsTheOldestFirst) {
  for (int i = 0; i < 120; ++i) {
    ASSERT_TRUE(store_->Append(kEventLog, "e " + std::to_string(i)));
  }
  EXPECT_EQ(50, store_->Count(kEventLog));
  std::vector<std::string> all = ReadAll(kEventLog);
  ASSERT_EQ(50u, all.size());
  EXPECT_EQ("e 70", all.front());
  EXPECT_EQ("e 119", all.back());
}

TEST_F(LogStoreTest, ClearErasesOnlyItsListAndLineBreaksStayInOneEntry) {
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
  store_.reset();
  db_.reset();
  int report[2];
  ASSERT_EQ(0, pipe(report));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The recorder: appends for ever and reports every committed entry.
    close(report[0]);
    std::string error;
    std::unique_ptr<Database> db =
        Database::Open(dir_.path() + "/kovrad.db", &error);
    if (!db) _exit(1);
    LogStore store(db.get(), LogStore::Limits());
    for (int32_t i = 1;; ++i) {
      if (!store.Append(kStatusRecordLog,
                        "2026/01/01 00:00:00 " + std::to_string(i))) {
        _exit(2);
      }
      if (write(report[1], &i, sizeof(i)) != sizeof(i)) _exit(3);
    }
  }
  close(report[1]);
  int32_t committed = 0;
  while (committed < 200) {
    struct pollfd entry = {report[0], POLLIN, 0};
    ASSERT_EQ(1, poll(&entry, 1, 10000)) << "the recorder stalled";
    int32_t value = 0;
    ASSERT_EQ(static_cast<ssize_t>(sizeof(value)),
              read(report[0], &value, sizeof(value)));
    committed = value;
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  // Counts written after the last one read are committed too.
  int32_t value = 0;
  while (read(report[0], &value, sizeof(value)) == sizeof(value)) {
    committed = value;
  }
  close(report[0]);

  std::string error;
  db_ = Database::Open(dir_.path() + "/kovrad.db", &error);
  ASSERT_TRUE(db_) << error;
  Statement check(db_.get(), "PRAGMA integrity_check;");
  ASSERT_TRUE(check.Step());
  EXPECT_EQ("ok", check.ColumnText(0));
  store_.reset(new LogStore(db_.get(), limits_));
  std::vector<std::string> all = ReadAll(kStatusRecordLog);
  ASSERT_GE(all.size(), static_cast<size_t>(committed));
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ("2026/01/01 00:00:00 " + std::to_string(i + 1), all[i]);
  }
}

}  // namespace

#include "service/log_store.h"

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
  // Three lists written interleaved, so keys of one list have gaps.
  for (int i = 0; i < 3000; ++i) {
    ASSERT_TRUE(store_->Append(kStatusRecordLog, "record " + std::to_string(i)));
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
  for (int i = 0; i < 3000; ++i) EXPECT_EQ("record " + std::to_string(i), all[i]);
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
  EXPECT_EQ(std::vector<std::string>{"evil\tname  ERR 8"}, ReadAll(kSavedFileLog));
  ASSERT_TRUE(store_->Clear(kSavedFileLog));
  EXPECT_TRUE(ReadAll(kSavedFileLog).empty());
  EXPECT_EQ(1u, ReadAll(kEventLog).size());
  EXPECT_FALSE(store_->Append(5, "no such list"));
}

TEST_F(LogStoreTest, CommittedEntriesSurviveReopening) {
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(store_->Append(kEventLog, "x"));
  store_.reset();
  db_.reset();
  std::string error;
  db_ = Database::Open(dir_.path() + "/kovrad.db", &error);
  ASSERT_TRUE(db_) << error;
  store_.reset(new LogStore(db_.get(), limits_));
  EXPECT_EQ(10, store_->Count(kEventLog));
}

}  // namespace

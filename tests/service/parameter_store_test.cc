#include "common/integer_text.h"
#include "service/parameter_store.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "service/database.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ParameterValueTest, AcceptsOnlyWholeDecimalNumbersThatFit) {
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } kCases[] = {
      {"0", true, 0},
      {"-1", true, -1},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"1x", false, 0},
      {"+1", false, 0},
      {"0x10", false, 0},
  };
  for (const auto& entry : kCases) {
    int32_t value = 77;
    EXPECT_EQ(entry.ok, ParseWholeInt32(entry.text, &value)) << entry.text;
    EXPECT_EQ(entry.ok ? entry.value : 77, value) << entry.text;
  }
}

TEST(ParameterStoreTest, StoredValueOutOfRangeFallsBackToTheDefault) {
  TempDir dir;
  std::string error;
  std::unique_ptr<Database> db = Database::Open(dir.Join("kovrad.db"), &error);
  ASSERT_TRUE(db) << error;
  {
    ParameterStore store(db.get());
    ASSERT_TRUE(store.Load());
    ASSERT_EQ(0, store.Set(ParameterSpace::kPtc, kKeyPowerfailDelay, "45"));
    ASSERT_EQ(0, store.Set(ParameterSpace::kPol, kKeyMediaType, "2"));
  }
  // A value edited into the file by hand.
  ASSERT_TRUE(db->Exec(
      "UPDATE parameters SET value = 9 WHERE key = 'service.media type';"));
  ParameterStore store(db.get());
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(45, store.Value(kKeyPowerfailDelay));
  EXPECT_EQ(1, store.Value(kKeyMediaType));
}

// The service's loop reads settings on every turn.
TEST(ParameterStoreTest, ValueNeitherAllocatesNorKnowsOtherKeys) {
  ParameterStore store(nullptr);
  int64_t before = AllocationCount();
  EXPECT_EQ(180, store.Value(kKeyPowerfailDelay));
  EXPECT_EQ(1, store.Value(kKeyRecByPeriod));
  EXPECT_EQ(0, store.Value("service.no such key"));
  EXPECT_EQ(before, AllocationCount());
}

}  // namespace

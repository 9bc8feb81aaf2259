#include "service/parameter_store.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "service/database.h"
#include "tests/service/service_client.h"

namespace {

TEST(ParseInt32Test, AcceptsOnlyWholeDecimalNumbersThatFit) {
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
    EXPECT_EQ(entry.ok, ParseInt32(entry.text, &value)) << entry.text;
    EXPECT_EQ(entry.ok ? entry.value : 77, value) << entry.text;
  }
}

class ParameterStoreTest : public ::testing::Test {
 protected:
  void Open() {
    store_.reset();
    db_.reset();
    std::string error;
    db_ = Database::Open(dir_.path() + "/kovrad.db", &error);
    ASSERT_TRUE(db_) << error;
    store_.reset(new ParameterStore(db_.get()));
    ASSERT_TRUE(store_->Load());
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<ParameterStore> store_;
};

TEST_F(ParameterStoreTest, EveryKeyHasADefaultWithinItsRange) {
  Open();
  int count = 0;
  const ParameterDefinition* definitions = ParameterStore::Definitions(&count);
  ASSERT_EQ(9, count);
  for (int i = 0; i < count; ++i) {
    int32_t value = -1;
    EXPECT_EQ(0, store_->Get(definitions[i].space, definitions[i].key, &value));
    EXPECT_EQ(definitions[i].default_value, value);
    EXPECT_LE(definitions[i].min, value);
    EXPECT_GE(definitions[i].max, value);
  }
}

TEST_F(ParameterStoreTest, WrittenValuesPersistAndBadStoredValuesAreIgnored) {
  Open();
  ASSERT_EQ(0, store_->Set(ParameterSpace::kPtc, kKeyPowerfailDelay, "45"));
  ASSERT_EQ(0, store_->Set(ParameterSpace::kPol, kKeyMediaType, "2"));
  // A value edited into the file by hand, out of range.
  ASSERT_TRUE(
      db_->Exec("UPDATE parameters SET value = 9 "
                "WHERE key = 'service.media type';"));
  Open();
  EXPECT_EQ(45, store_->Value(kKeyPowerfailDelay));
  EXPECT_EQ(1, store_->Value(kKeyMediaType));
}

}  // namespace

#include "common/integer_text.h"
#include "service/parameter_store.h"

#include <cstring>

#include "service/database.h"

namespace {

// One setting: where it lives, its default and the values it accepts.
struct ParameterDefinition {
  ParameterSpace space;
  const char* key;
  int32_t default_value;
  int32_t min;
  int32_t max;
};

const ParameterDefinition kDefinitions[] = {
    {ParameterSpace::kPol, kKeyBuzzerOn, 1, 0, 1},
    {ParameterSpace::kPol, kKeyRecByPeriod, 1, 0, 1},
    {ParameterSpace::kPol, kKeyAutoSave, 0, 0, 1},
    {ParameterSpace::kPol, kKeyRecordRate, 60, 1, 86400},
    {ParameterSpace::kPol, kKeyShutdownDelay, 120, 0, 3600},
    {ParameterSpace::kPol, kKeyMediaIndex, 0, 0, 255},
    {ParameterSpace::kPol, kKeyMediaType, 1, 0, 3},
    // A new installation protects the machine: shutdown on power failure is
    // on until someone switches it off.
    {ParameterSpace::kPtc, kKeyPowerfailMaxCount, 1, 0, 255},
    {ParameterSpace::kPtc, kKeyPowerfailDelay, 180, 0, 86400},
};

const char* SpaceName(ParameterSpace space) {
  return space == ParameterSpace::kPtc ? "PTC" : "POL";
}

}  // namespace

ParameterStore::ParameterStore(Database* db) : db_(db) {
  static_assert(sizeof(kDefinitions) / sizeof(kDefinitions[0]) == kCount,
                "one value per definition");
  for (int i = 0; i < kCount; ++i) values_[i] = kDefinitions[i].default_value;
}

bool ParameterStore::Load() {
  if (db_ == nullptr) return true;
  if (!db_->Available()) return false;
  Statement select(db_, "SELECT space, key, value FROM parameters;");
  if (!select.ok()) return false;
  while (select.Step()) {
    std::string space_name = select.ColumnText(0);
    std::string key = select.ColumnText(1);
    int64_t value = select.ColumnInt(2);
    ParameterSpace space =
        space_name == "PTC" ? ParameterSpace::kPtc : ParameterSpace::kPol;
    int index = Find(space, key);
    if (index < 0 || space_name != SpaceName(space)) continue;
    if (value < kDefinitions[index].min || value > kDefinitions[index].max) {
      continue;
    }
    values_[index] = static_cast<int32_t>(value);
  }
  return select.Done();
}

int32_t ParameterStore::Get(ParameterSpace space, const std::string& key,
                            int32_t* value) const {
  int index = Find(space, key);
  if (index < 0) return kUnknownKey;
  *value = values_[index];
  return kOk;
}

int32_t ParameterStore::Set(ParameterSpace space, const std::string& key,
                            const std::string& text) {
  int index = Find(space, key);
  if (index < 0) return kUnknownKey;
  const ParameterDefinition& definition = kDefinitions[index];
  int32_t value = 0;
  // Only digits: a sign, blanks or a fraction is not a setting value.
  if (text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string::npos ||
      !ParseWholeInt32(text, &value) || value < definition.min ||
      value > definition.max) {
    return kInvalidValue;
  }
  if (db_ != nullptr) {
    std::string space_name = SpaceName(space);
    std::string stored_key = definition.key;
    Database::WriteResult result = db_->Write(
        [space_name, stored_key, value](Database* db) {
          Statement upsert(db,
                           "INSERT INTO parameters (space, key, value) "
                           "VALUES (?1, ?2, ?3) ON CONFLICT (space, key) "
                           "DO UPDATE SET value = excluded.value;");
          upsert.BindText(1, space_name);
          upsert.BindText(2, stored_key);
          upsert.BindInt(3, value);
          upsert.Step();
          return upsert.Done() ? 0 : upsert.code();
        },
        /*queue_if_unavailable=*/false);
    if (result == Database::WriteResult::kRefused) return kStoreFailed;
  }
  values_[index] = value;
  return kOk;
}

int32_t ParameterStore::Value(const char* key) const {
  for (int i = 0; i < kCount; ++i) {
    if (std::strcmp(kDefinitions[i].key, key) == 0) return values_[i];
  }
  return 0;
}

int ParameterStore::Find(ParameterSpace space, const std::string& key) {
  for (int i = 0; i < kCount; ++i) {
    if (kDefinitions[i].space == space && key == kDefinitions[i].key) return i;
  }
  return -1;
}

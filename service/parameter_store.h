#pragma once

#include <cstdint>
#include <string>

#include "common/service_wire.h"

class Database;

// The two key spaces of the service's settings, as clients name them.
enum class ParameterSpace { kPtc, kPol };

// Keys of the settings the service keeps.
constexpr char kKeyBuzzerOn[] = "service.buzzer on";
constexpr char kKeyRecByPeriod[] = "service.rec by period";
constexpr char kKeyAutoSave[] = "service.auto save";
constexpr char kKeyRecordRate[] = "service.record rate";
constexpr char kKeyShutdownDelay[] = "service.shutdown delay";
constexpr char kKeyMediaIndex[] = "service.media index";
constexpr char kKeyMediaType[] = "service.media type";
constexpr char kKeyPowerfailMaxCount[] = "powerfail.shutdown.happen.max count";
constexpr char kKeyPowerfailDelay[] = "powerfail.shutdown.happen.delay";

// The service's settings: a fixed set of integer keys with defaults and
// ranges, kept in memory and written through to the database (when one is
// given) so they survive a restart. While the database is unavailable the
// values in memory (the defaults, or what was loaded) serve and writes are
// refused.
class ParameterStore final {
 public:
  // Result codes shared with the request replies.
  static constexpr int32_t kOk = 0;
  static constexpr int32_t kUnknownKey = service_wire::kErrUnknownRequest;
  static constexpr int32_t kInvalidValue = service_wire::kErrInvalidValue;
  static constexpr int32_t kStoreFailed = service_wire::kErrStoreFailed;

  // db may be null (nothing persists); otherwise it must outlive the store.
  explicit ParameterStore(Database* db);

  // Replaces the defaults with the stored values. Stored values that are
  // no longer in range are ignored. Returns false when the table cannot be
  // read (the defaults stay).
  bool Load();

  // Writes the value of the key to *value: 0, or 1 for an unknown key.
  int32_t Get(ParameterSpace space, const std::string& key,
              int32_t* value) const;

  // Parses text as a decimal integer within the key's range and stores it:
  // 0, 1 for an unknown key, 4 for a value that is not a plain decimal
  // number in range, 23 when the database refused the write or is
  // unavailable (the value in memory is then unchanged). A write the
  // database cannot make at once (locked, full) is queued by it: the value
  // counts at once and is stored later.
  int32_t Set(ParameterSpace space, const std::string& key,
              const std::string& text);

  // The value of a known key; 0 for a key that does not exist. Called on
  // every turn of the service's loop, so it neither allocates nor touches
  // the database.
  int32_t Value(const char* key) const;

 private:
  static constexpr int kCount = 9;

  // The index of the key's definition, or -1 when there is none.
  static int Find(ParameterSpace space, const std::string& key);

  Database* db_;
  int32_t values_[kCount];  // by the index of the definition
};


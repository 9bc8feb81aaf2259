#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The entries of the event log and of the status records, read back from
// their stored text. Both begin with the local time the service wrote them
// at, "YYYY/MM/DD HH:MM:SS".

struct EventEntry {
  int64_t unix_seconds = 0;
  std::string local_time;  // "YYYY-MM-DDTHH:MM:SS", local time
  int32_t code = 0;
};

// The order of the values of a status record, as the service writes them.
enum RecordValue : int32_t {
  kRecordInputVoltage = 0,   // hundredths of a volt
  kRecordOutputVoltage = 1,  // hundredths of a volt
  kRecordCapacity = 2,       // hundredths of a percent
  kRecordLoad = 3,           // hundredths of a percent
  kRecordFrequency = 4,      // hundredths of a hertz
  kRecordTemperature = 5,    // hundredths of a degree Celsius
};
constexpr int32_t kRecordValueCount = 6;

struct RecordEntry {
  int64_t unix_seconds = 0;
  std::string local_time;  // "YYYY-MM-DDTHH:MM:SS", local time
  int32_t values[kRecordValueCount] = {};
};

// Reads "YYYY/MM/DD HH:MM:SS" at the start of text into *unix_seconds and
// *local_time; false (outputs untouched) when the text does not start so.
bool ParseEntryTime(std::string_view text, int64_t* unix_seconds,
                    std::string* local_time);

// "YYYY/MM/DD HH:MM:SS CODE". False, *entry untouched, on any other text.
bool ParseEventEntry(std::string_view text, EventEntry* entry);

// "YYYY/MM/DD HH:MM:SS IN OUT CAPACITY LOAD FREQUENCY TEMPERATURE". False,
// *entry untouched, on any other text.
bool ParseRecordEntry(std::string_view text, RecordEntry* entry);

// The stored time text of a Unix time in local time, "YYYY/MM/DD HH:MM:SS",
// for comparing with stored entries (the text sorts as the time does).
std::string EntryTimeText(int64_t unix_seconds);

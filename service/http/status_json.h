#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/http/log_entry.h"
#include "service/http/status_view.h"

// The JSON documents of the HTTP endpoint. Numbers are in plain units (volts,
// percent, hertz, degrees Celsius, seconds); a value the unit did not report
// is null. Texts from the unit that are not valid UTF-8 are written with
// replacement characters rather than refused. None of these throw.

// The present status: the flags, every value, the agent's error codes for
// values it could not read, the model and ratings, the counters, and the
// snapshot's time and age. The clocks are those of the request.
std::string StatusJson(const StatusView& view, int64_t now_monotonic_ms,
                       int64_t now_unix_ms);

// An array of events, oldest first as given:
// [{"time": unix seconds, "local_time": "...", "code": 4,
//   "name": "power_failure", "text": "UPS power failure."}, ...]
std::string EventsJson(const std::vector<EventEntry>& events);

// An array of status records, oldest first as given:
// [{"time": ..., "local_time": "...", "input_voltage_volts": 230.5, ...}]
std::string RecordsJson(const std::vector<RecordEntry>& records);

// {"error": message}
std::string ErrorJson(const std::string& message);

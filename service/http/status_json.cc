#include "service/http/status_json.h"

#include <nlohmann/json.hpp>

#include "service/http/status_items.h"

namespace {

using Json = nlohmann::ordered_json;

// The item each record value is, for its name and scale.
constexpr int32_t kRecordItems[kRecordValueCount] = {
    kItemInputVoltage, kItemOutputVoltage, kItemCapacity,
    kItemLoad,         kItemFrequency,     kItemTemperature};

Json Scaled(int32_t raw, int32_t divisor) {
  if (divisor == 1) return Json(raw);
  return Json(static_cast<double>(raw) / divisor);
}

Json Reading(const StatusReading& reading, int32_t divisor) {
  if (!reading.present) return Json(nullptr);
  return Scaled(reading.value, divisor);
}

Json Flag(const StatusView& view, int32_t item) {
  if (!view.valid || !view.items[item].present) return Json(nullptr);
  return Json(view.items[item].value != 0);
}

Json OptionalText(const std::string& text) {
  if (text.empty()) return Json(nullptr);
  return Json(text);
}

// Serialises without throwing: invalid UTF-8 becomes U+FFFD, and a failed
// allocation gives an empty answer the caller turns into an error.
std::string Dump(const Json& json) {
  try {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (...) {
    return std::string();
  }
}

}  // namespace

std::string StatusJson(const StatusView& view, int64_t now_monotonic_ms,
                       int64_t now_unix_ms) {
  try {
    Json json;
    json["connected"] = view.Connected();
    json["on_battery"] = Flag(view, kItemPowerFail);
    json["battery_low"] = Flag(view, kItemBatteryLow);
    json["test_active"] = Flag(view, kItemTestActive);
    Json values = Json::object();
    Json errors = Json::object();
    for (int32_t item = 0; item < kItemPowerFail; ++item) {
      const ItemFormat& format = StatusItemFormat(item);
      const StatusReading& reading = view.items[item];
      values[format.json_key] =
          view.valid ? Reading(reading, format.json_divisor) : Json(nullptr);
      if (view.valid && !reading.present && reading.error != 0) {
        errors[format.json_key] = reading.error;
      }
    }
    for (int32_t item = kItemPowerFail; item < kStatusItemCount; ++item) {
      const StatusReading& reading = view.items[item];
      if (view.valid && !reading.present && reading.error != 0) {
        errors[StatusItemFormat(item).json_key] = reading.error;
      }
    }
    json["values"] = std::move(values);
    json["errors"] = std::move(errors);
    json["model"] = OptionalText(view.model);
    json["firmware"] = OptionalText(view.firmware);
    Json ratings = Json::object();
    for (int32_t rating = 0; rating < kRatingItemCount; ++rating) {
      const ItemFormat& format = RatingItemFormat(rating);
      ratings[format.json_key] =
          Reading(view.ratings[rating], format.json_divisor);
    }
    json["ratings"] = std::move(ratings);
    Json snapshot;
    snapshot["valid"] = view.valid;
    if (view.valid) {
      int64_t age_ms = now_monotonic_ms - view.taken_monotonic_ms;
      snapshot["time"] = static_cast<double>(view.taken_unix_ms) / 1000;
      snapshot["age_seconds"] =
          static_cast<double>(age_ms > 0 ? age_ms : 0) / 1000;
    } else {
      snapshot["time"] = nullptr;
      snapshot["age_seconds"] = nullptr;
    }
    json["snapshot"] = std::move(snapshot);
    json["agent_restarts"] = view.agent_restarts;
    Json events = Json::object();
    for (int32_t code = 0; code < kEventCount; ++code) {
      events[EventName(code)] = view.event_counts[code];
    }
    json["event_counts"] = std::move(events);
    json["server_time"] = static_cast<double>(now_unix_ms) / 1000;
    return Dump(json);
  } catch (...) {
    return std::string();
  }
}

std::string EventsJson(const std::vector<EventEntry>& events) {
  try {
    Json json = Json::array();
    for (const EventEntry& event : events) {
      Json entry;
      entry["time"] = event.unix_seconds;
      entry["local_time"] = event.local_time;
      entry["code"] = event.code;
      const char* name = EventName(event.code);
      const char* text = EventText(event.code);
      entry["name"] = name != nullptr ? Json(name) : Json(nullptr);
      entry["text"] = text != nullptr ? Json(text) : Json(nullptr);
      json.push_back(std::move(entry));
    }
    return Dump(json);
  } catch (...) {
    return std::string();
  }
}

std::string RecordsJson(const std::vector<RecordEntry>& records) {
  try {
    Json json = Json::array();
    for (const RecordEntry& record : records) {
      Json entry;
      entry["time"] = record.unix_seconds;
      entry["local_time"] = record.local_time;
      for (int32_t i = 0; i < kRecordValueCount; ++i) {
        const ItemFormat& format = StatusItemFormat(kRecordItems[i]);
        entry[format.json_key] = Scaled(record.values[i], format.json_divisor);
      }
      json.push_back(std::move(entry));
    }
    return Dump(json);
  } catch (...) {
    return std::string();
  }
}

std::string ErrorJson(const std::string& message) {
  Json json;
  try {
    json["error"] = message;
  } catch (...) {
    return "{\"error\":\"\"}";
  }
  std::string text = Dump(json);
  return text.empty() ? "{\"error\":\"\"}" : text;
}

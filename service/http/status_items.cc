#include "service/http/status_items.h"

namespace {

// Percentages travel as ratios in the metrics (0 to 1), the way Prometheus
// names them; hundredths of a percent are 1/10000 of that.
const ItemFormat kStatusItems[kStatusItemCount] = {
    {"input_voltage_volts", 100, "kovra_ups_input_voltage_volts", 100,
     "Input (utility) voltage in volts."},
    {"output_voltage_volts", 100, "kovra_ups_output_voltage_volts", 100,
     "Output voltage in volts."},
    {"battery_capacity_percent", 100, "kovra_ups_battery_capacity_ratio", 10000,
     "Battery capacity as a ratio of full charge (0 to 1)."},
    {"load_percent", 100, "kovra_ups_load_ratio", 10000,
     "Load as a ratio of the rated load (0 to 1, above 1 when overloaded)."},
    {"temperature_celsius", 100, "kovra_ups_temperature_celsius", 100,
     "Temperature inside the unit in degrees Celsius."},
    {"output_frequency_hertz", 100, "kovra_ups_output_frequency_hertz", 100,
     "Output frequency in hertz."},
    {"battery_runtime_seconds", 1, "kovra_ups_battery_runtime_seconds", 1,
     "Estimated runtime on battery in seconds."},
    {"on_battery", 1, "kovra_ups_on_battery", 1,
     "1 while the utility power has failed and the unit runs on battery."},
    {"battery_low", 1, "kovra_ups_battery_low", 1,
     "1 while the battery is critically low."},
    {"test_active", 1, "kovra_ups_test_active", 1, "1 while a self-test runs."},
    {"connected", 1, "kovra_ups_connected", 1,
     "1 while the service is in touch with the unit."},
};

const ItemFormat kRatingItems[kRatingItemCount] = {
    {"output_voltage_volts", 100, "kovra_ups_rated_output_voltage_volts", 100,
     "Rated output voltage in volts."},
    {"frequency_low_hertz", 100, "kovra_ups_rated_frequency_low_hertz", 100,
     "Lowest rated output frequency in hertz."},
    {"frequency_high_hertz", 100, "kovra_ups_rated_frequency_high_hertz", 100,
     "Highest rated output frequency in hertz."},
    {"apparent_power_voltamperes", 100,
     "kovra_ups_rated_apparent_power_voltamperes", 100,
     "Rated apparent power in volt-amperes."},
    {"power_watts", 100, "kovra_ups_rated_power_watts", 100,
     "Rated real power in watts."},
};

const char* const kEventNames[kEventCount] = {
    "service_started",    "service_terminated",
    "communication_lost", "communication_established",
    "power_failure",      "power_restore",
    "battery_low",        "battery_recovered",
    "overload",           "load_recovered",
    "temperature_high",   "temperature_recovered",
};

}  // namespace

const ItemFormat& StatusItemFormat(int32_t item) {
  if (item < 0 || item >= kStatusItemCount) item = 0;
  return kStatusItems[item];
}

const ItemFormat& RatingItemFormat(int32_t item) {
  if (item < 0 || item >= kRatingItemCount) item = 0;
  return kRatingItems[item];
}

const char* EventName(int32_t code) {
  if (code < 0 || code >= kEventCount) return nullptr;
  return kEventNames[code];
}

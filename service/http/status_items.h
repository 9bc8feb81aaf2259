#pragma once

#include <cstdint>

#include "service/http/status_view.h"

// How each status value and rating is named and scaled outside the service:
// the JSON key (plain units), the metric name (base units) and its help
// text. The metrics and the JSON are both written from these tables, so one
// value has one name and one scale everywhere.
struct ItemFormat {
  const char* json_key;    // e.g. "input_voltage_volts"
  int32_t json_divisor;    // raw value / json_divisor = the JSON number
  const char* metric;      // e.g. "kovra_ups_input_voltage_volts"
  int32_t metric_divisor;  // raw value / metric_divisor = the sample
  const char* help;
};

// Indexed by StatusItem.
const ItemFormat& StatusItemFormat(int32_t item);

// Indexed by RatingItem.
const ItemFormat& RatingItemFormat(int32_t item);

// A short snake_case name of an event code ("power_failure"), or null for a
// code outside 0 to kEventCount - 1.
const char* EventName(int32_t code);

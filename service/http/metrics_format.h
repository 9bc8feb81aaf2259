#pragma once

#include <cstdint>
#include <string>

#include "service/http/status_view.h"

// The view in the Prometheus text exposition format (version 0.0.4): a
// gauge for every status value the unit reported, the four flags, the
// snapshot's time and age, what is known about the unit, and the agent's
// restarts and the events by code as counters. Values the unit did not
// report are left out rather than shown as 0. now_monotonic_ms is the
// monotonic clock at the time of the request, for the snapshot's age.
std::string FormatMetrics(const StatusView& view, int64_t now_monotonic_ms);

// raw / divisor as an exact decimal with no trailing zeros ("230.5",
// "-0.25", "12"). divisor is a power of ten from 1 to 1000000000.
std::string ScaledDecimal(int64_t raw, int64_t divisor);

// A label value with backslash, double quote and line feed escaped.
std::string EscapeLabelValue(const std::string& text);

#include "service/http/metrics_format.h"

#include "service/http/status_items.h"

namespace {

void AppendFamily(const char* name, const char* type, const char* help,
                  std::string* out) {
  *out += "# HELP ";
  *out += name;
  *out += ' ';
  *out += help;
  *out += "\n# TYPE ";
  *out += name;
  *out += ' ';
  *out += type;
  *out += '\n';
}

void AppendGauge(const char* name, const char* help, const std::string& value,
                 std::string* out) {
  AppendFamily(name, "gauge", help, out);
  *out += name;
  *out += ' ';
  *out += value;
  *out += '\n';
}

}  // namespace

std::string ScaledDecimal(int64_t raw, int64_t divisor) {
  if (divisor < 1) divisor = 1;
  // Work in unsigned magnitude so the most negative value has a magnitude.
  bool negative = raw < 0;
  uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
  uint64_t unit = static_cast<uint64_t>(divisor);
  uint64_t whole = magnitude / unit;
  uint64_t fraction = magnitude % unit;
  std::string text = negative && magnitude != 0 ? "-" : "";
  text += std::to_string(whole);
  if (fraction != 0) {
    std::string digits;
    for (uint64_t step = unit / 10; step > 0; step /= 10) {
      digits += static_cast<char>('0' + (fraction / step) % 10);
    }
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    text += '.';
    text += digits;
  }
  return text;
}

std::string EscapeLabelValue(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string FormatMetrics(const StatusView& view, int64_t now_monotonic_ms) {
  std::string out;
  out.reserve(4096);
  if (view.valid) {
    for (int32_t item = 0; item < kStatusItemCount; ++item) {
      if (item == kItemConnected) continue;  // always written, below
      const ItemFormat& format = StatusItemFormat(item);
      int32_t value = 0;
      if (!view.Get(item, &value)) continue;
      // The flags are 0 or 1 whatever non-zero value the unit used.
      bool flag = item >= kItemPowerFail;
      AppendGauge(format.metric, format.help,
                  flag ? std::string(value != 0 ? "1" : "0")
                       : ScaledDecimal(value, format.metric_divisor),
                  &out);
    }
  }
  const ItemFormat& connected = StatusItemFormat(kItemConnected);
  AppendGauge(connected.metric, connected.help, view.Connected() ? "1" : "0",
              &out);

  if (view.valid) {
    AppendGauge("kovra_snapshot_timestamp_seconds",
                "Real-time clock time when the latest status snapshot was "
                "taken, in seconds since the epoch.",
                ScaledDecimal(view.taken_unix_ms, 1000), &out);
    int64_t age_ms = now_monotonic_ms - view.taken_monotonic_ms;
    AppendGauge("kovra_snapshot_age_seconds",
                "Age of the latest status snapshot in seconds.",
                ScaledDecimal(age_ms > 0 ? age_ms : 0, 1000), &out);
  }

  if (!view.model.empty() || !view.firmware.empty()) {
    AppendFamily("kovra_ups_info", "gauge",
                 "The unit's model and firmware version, as labels; always 1.",
                 &out);
    out += "kovra_ups_info{model=\"" + EscapeLabelValue(view.model) +
           "\",firmware=\"" + EscapeLabelValue(view.firmware) + "\"} 1\n";
  }
  for (int32_t rating = 0; rating < kRatingItemCount; ++rating) {
    const StatusReading& reading = view.ratings[rating];
    if (!reading.present) continue;
    const ItemFormat& format = RatingItemFormat(rating);
    AppendGauge(format.metric, format.help,
                ScaledDecimal(reading.value, format.metric_divisor), &out);
  }

  AppendFamily("kovra_agent_restarts_total", "counter",
               "Times the service restarted the agent since it started.", &out);
  out += "kovra_agent_restarts_total " + std::to_string(view.agent_restarts) +
         "\n";
  AppendFamily("kovra_events_total", "counter",
               "Events the service logged since it started, by event code.",
               &out);
  for (int32_t code = 0; code < kEventCount; ++code) {
    out += "kovra_events_total{code=\"" + std::to_string(code) + "\",event=\"" +
           EventName(code) + "\"} " + std::to_string(view.event_counts[code]) +
           "\n";
  }
  return out;
}

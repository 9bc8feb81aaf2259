#pragma once

#include <cstdint>

// The UPS events that the service records in its event log, by code, and the
// text the tool shows for each. Both programs use the same table so the codes
// the service writes are the ones the tool reads.
constexpr int32_t kEventCount = 12;

// The event's text, or null for a code outside 0 to kEventCount - 1.
inline const char* EventText(int32_t code) {
  static const char* const kTexts[kEventCount] = {
      "UPS service started.",
      "UPS service terminated.",
      "UPS communication can't establish.",
      "UPS communication established.",
      "UPS power failure.",
      "UPS power restore.",
      "UPS battery capacity low.",
      "UPS battery capacity recover.",
      "UPS over load.",
      "UPS load recover.",
      "UPS temperature is too high.",
      "UPS temperature is recover.",
  };
  if (code < 0 || code >= kEventCount) return nullptr;
  return kTexts[code];
}

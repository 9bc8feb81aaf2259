#pragma once

#include "service/http/status_view.h"

// A view as a connected unit on line reports it, for the formatting tests.
inline StatusView OnLineView() {
  StatusView view;
  view.valid = true;
  view.taken_monotonic_ms = 10000;
  view.taken_unix_ms = 1796000000250;
  const int32_t values[kStatusItemCount] = {
      23050, 22990, 9850, 3725, 3120, 5005, 1380, 0, 0, 0, 1};
  for (int32_t item = 0; item < kStatusItemCount; ++item) {
    view.items[item].present = true;
    view.items[item].value = values[item];
  }
  view.model = "Model 1500";
  view.firmware = "2.0b";
  view.ratings[kRatingOutputVoltage] = {true, 23000, 0};
  view.ratings[kRatingApparentPower] = {true, 150000, 0};
  view.agent_restarts = 2;
  view.event_counts[4] = 3;
  return view;
}

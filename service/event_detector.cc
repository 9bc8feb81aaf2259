#include "service/event_detector.h"

EventDetector::EventDetector(const EventThresholds& thresholds)
    : thresholds_(thresholds) {
  if (thresholds_.confirm_passes < 1) thresholds_.confirm_passes = 1;
}

bool EventDetector::Update(Condition* condition, bool reading) {
  State seen = reading ? kOn : kOff;
  if (seen == condition->state) {
    condition->candidate = kUnknown;
    condition->count = 0;
    return false;
  }
  if (seen != condition->candidate) {
    condition->candidate = seen;
    condition->count = 0;
  }
  if (++condition->count < thresholds_.confirm_passes) return false;
  condition->state = seen;
  condition->candidate = kUnknown;
  condition->count = 0;
  return true;
}

void EventDetector::Report(const Condition& condition, State before,
                           int32_t on_event, int32_t off_event,
                           bool report_first_off,
                           std::vector<int32_t>* events) {
  if (condition.state == kOn) {
    events->push_back(on_event);
  } else if (before == kOn || report_first_off) {
    events->push_back(off_event);
  }
}

void EventDetector::Feed(const StatusSnapshot& pass,
                         std::vector<int32_t>* events) {
  bool in_touch = pass.valid && pass.Connected();
  State before = communication_.state;
  if (Update(&communication_, in_touch)) {
    // The first confirmed loss is reported too: it says that contact could
    // not be made at all.
    Report(communication_, before, kEventCommunicationEstablished,
           kEventCommunicationLost, true, events);
  }
  if (!in_touch) return;

  int32_t value = 0;
  if (pass.Get(StatusSnapshot::kSlotPowerFail, &value)) {
    before = power_fail_.state;
    if (Update(&power_fail_, value != 0)) {
      Report(power_fail_, before, kEventPowerFailure, kEventPowerRestore, false,
             events);
    }
  }
  if (pass.Get(StatusSnapshot::kSlotBatteryLow, &value)) {
    before = battery_low_.state;
    if (Update(&battery_low_, value != 0)) {
      Report(battery_low_, before, kEventBatteryLow, kEventBatteryRecovered,
             false, events);
    }
  }
  if (pass.Get(StatusSnapshot::kSlotLoad, &value)) {
    bool high = overload_.state == kOn ? value >= thresholds_.overload_off
                                       : value > thresholds_.overload_on;
    before = overload_.state;
    if (Update(&overload_, high)) {
      Report(overload_, before, kEventOverload, kEventLoadRecovered, false,
             events);
    }
  }
  if (pass.Get(StatusSnapshot::kSlotTemperature, &value)) {
    bool high = temperature_.state == kOn ? value >= thresholds_.temperature_off
                                          : value > thresholds_.temperature_on;
    before = temperature_.state;
    if (Update(&temperature_, high)) {
      Report(temperature_, before, kEventTemperatureHigh,
             kEventTemperatureRecovered, false, events);
    }
  }
}

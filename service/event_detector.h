#pragma once

#include <cstdint>
#include <vector>

#include "common/event_texts.h"
#include "service/status_snapshot.h"

// Event codes of the event log.
enum EventCode : int32_t {
  kEventServiceStarted = 0,
  kEventServiceTerminated = 1,
  kEventCommunicationLost = 2,
  kEventCommunicationEstablished = 3,
  kEventPowerFailure = 4,
  kEventPowerRestore = 5,
  kEventBatteryLow = 6,
  kEventBatteryRecovered = 7,
  kEventOverload = 8,
  kEventLoadRecovered = 9,
  kEventTemperatureHigh = 10,
  kEventTemperatureRecovered = 11,
};

// Limits for the load and temperature events, in hundredths. A condition
// starts above its "on" limit and ends below its "off" limit, so a reading
// that hovers around one limit does not toggle it.
struct EventThresholds {
  int32_t overload_on = 10000;
  int32_t overload_off = 9500;
  int32_t temperature_on = 4000;
  int32_t temperature_off = 3800;
  // How many consecutive poll passes must agree before a change counts. The
  // agent reads the unit every 3 s and the service reads the agent every
  // second, so five passes always span two readings of the unit.
  int32_t confirm_passes = 5;
};

// Turns the stream of poll passes into events: communication, utility,
// battery, load and temperature. A change is only reported after it held
// for the confirmation count, so one flapping reading does not write a
// stream of events. "Recovered" events follow only their own "bad" events.
class EventDetector final {
 public:
  explicit EventDetector(const EventThresholds& thresholds);

  // Takes one pass. A pass that is not valid, or where the agent is not in
  // touch with the unit, counts as lost communication and leaves the other
  // conditions as they were. Appends the events to *events.
  void Feed(const StatusSnapshot& pass, std::vector<int32_t>* events);

  // The confirmed states.
  bool connected() const { return communication_.state == kOn; }
  bool on_battery() const { return power_fail_.state == kOn; }
  bool battery_low() const { return battery_low_.state == kOn; }

 private:
  enum State { kUnknown, kOff, kOn };

  // One debounced condition.
  struct Condition {
    State state = kUnknown;
    State candidate = kUnknown;
    int32_t count = 0;
  };

  // Feeds one reading; returns true when the confirmed state changed.
  bool Update(Condition* condition, bool reading);

  // Reports a changed condition: on_event when it became true, off_event
  // when it became false after having been true; report_first_off also
  // reports a first confirmed false.
  void Report(const Condition& condition, State before, int32_t on_event,
              int32_t off_event, bool report_first_off,
              std::vector<int32_t>* events);

  EventThresholds thresholds_;
  Condition communication_;
  Condition power_fail_;
  Condition battery_low_;
  Condition overload_;
  Condition temperature_;
};

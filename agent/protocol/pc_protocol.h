#pragma once

#include <cstdint>

#include "agent/protocol/i_protocol.h"
#include "agent/protocol/property_cell.h"

class Clock;
class IMedia;

// PcProtocol serves a UPS that has no data protocol and signals only by
// closing contacts between the modem-control lines of the serial port. It
// sends no bytes: it drives DTR, RTS and the break condition and samples DCD,
// CTS and DSR. CTS low means the mains failed, DCD low that the battery is
// low. The model name is the fixed "Generic UPS", delivered once the lines
// behave like such a unit (the probe run by GetModelName).
//
// Every wait goes through the clock, so that tests run the 50 ms settling
// pauses and the 15 s and 24 s shutdown sequences without real time. The
// media and the clock are borrowed and must outlive this object.
class PcProtocol final : public IProtocol {
 public:
  static constexpr char kModelName[] = "Generic UPS";
  // Time the lines get to settle after a change before they are read.
  static constexpr int32_t kSettleMillis = 50;
  // The shutdown signal: on mains a first DTR pulse and a gap, then DTR held.
  static constexpr int32_t kMainsPulseMillis = 5000;
  static constexpr int32_t kMainsGapMillis = 4000;
  static constexpr int32_t kShutdownHoldMillis = 15000;

  // Drops DTR, RTS and break. The alarms start at 0.
  PcProtocol(IMedia* media, Clock* clock);
  // Drops DTR, RTS and break again.
  ~PcProtocol() override;

  // The alarms of the last successful Poll.
  int32_t GetPowerFail(int32_t* value) override;
  int32_t GetBatteryLow(int32_t* value) override;
  // Always 0.
  int32_t GetShutdownActive(int32_t* value) override;
  // Always 1: there is no data link that could be lost.
  int32_t GetConnected(int32_t* value) override;

  // "Generic UPS" as a two-call text read. While the model is unknown the
  // probe runs first; a failed probe, a failing pin included, gives 10 (not
  // a contact unit) and leaves the model unknown, so the next call probes
  // again. 19 when the name cannot be stored.
  int32_t GetModelName(char* buffer, int32_t* size) override;

  // 1: contact signalling.
  int32_t GetPortType(int32_t* value) override;
  // The media's type and index at construction.
  int32_t GetMediaType(int32_t* value) override;
  int32_t GetMediaIndex(int32_t* value) override;
  // 0: no bytes travel on the line.
  int32_t GetBaudRate(int32_t* value) override;

  // Signals the unit to switch its output off by raising DTR; on mains a
  // first 5 s pulse and a 4 s gap come before. Blocks for 15 s (24 s on
  // mains) and leaves DTR raised. The delay itself is not used. 1 for a
  // negative delay (a cancel cannot be signalled) with no line touched; 17
  // when a line cannot be driven, after dropping every driven line.
  int32_t Shutdown(int32_t delay) override;

  // Samples the lines and updates the alarms. 0; 8 when both alarms appear
  // at once and the lines stay low even while the unit is fed by the break
  // condition (the cable is more likely gone than the mains and the battery
  // at once); 17 when a pin operation fails or DSR follows DTR (a modem or a
  // loop-back, not a contact unit), after dropping every driven line.
  int32_t Poll() override;

  void Release() override;

 private:
  // Checks that the lines answer like a contact unit and stores the model
  // name. On any failure every driven line is dropped and the model cell is
  // emptied: 10, or 19 when the name cannot be stored.
  int32_t Probe();
  // The three line checks of the probe; false at the first that fails.
  bool LinesLookLikeContactUnit();

  // 0 when DSR does not follow DTR; 17 when it does or a pin fails.
  int32_t CheckDsrIgnoresDtr();

  // Drops every driven line and returns 17.
  int32_t MediaFailure();

  // The media's pin operations as booleans; false without a media too.
  bool SetLines(int32_t mask, int32_t on);
  bool ReadLines(int32_t* mask);
  void DropLines();

  void Settle();

  IMedia* media_;                     // borrowed
  Clock* clock_;                      // borrowed
  int32_t previous_battery_low_ = 0;  // measured, before the clearing rule
  int32_t battery_low_ = 0;
  int32_t power_fail_ = 0;
  int32_t media_type_ = 0;
  int32_t media_index_ = 0;
  PropertyCell model_;
};

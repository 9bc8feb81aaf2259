#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/protocol/i_protocol.h"
#include "agent/protocol/property_cell.h"
#include "agent/protocol/serial_exchange.h"

class Clock;
class IMedia;

// TProtocol talks to UPS units that answer short ASCII queries on the serial
// line at 2400 baud: each request is a few characters and a CR, each answer
// to a query is '#', a payload and a CR. Poll reads the "D" status answer into
// a snapshot that the status reads serve; the nine property queries P1 to P9
// fill a cache of 38 property cells on first use; the set and shutdown
// commands are acknowledged by the unit with "#0" (a positive number refuses).
//
// The media and the clock are borrowed; both must outlive the object (the
// protocol factory releases the media only after the protocol is gone).
class TProtocol final : public IProtocol {
 public:
  static constexpr int32_t kCellCount = 38;
  static constexpr int32_t kBaudRate = 2400;
  static constexpr int32_t kPortType = 2;

  // Stores the fixed properties, sets the line to 2400 baud, clears RTS,
  // raises DTR and sends two CRs to wake the unit (their answer is ignored).
  TProtocol(IMedia* media, Clock* clock);
  // Drops DTR.
  ~TProtocol() override;

  // Status reads: the snapshot of the last good poll (all 0 before one).
  int32_t GetInputVoltage(int32_t* value) override;
  int32_t GetOutputVoltage(int32_t* value) override;
  int32_t GetBatteryCapacity(int32_t* value) override;
  int32_t GetLoad(int32_t* value) override;
  int32_t GetTemperature(int32_t* value) override;
  int32_t GetFrequency(int32_t* value) override;
  int32_t GetBackupTime(int32_t* value) override;
  int32_t GetPowerFail(int32_t* value) override;
  int32_t GetBatteryLow(int32_t* value) override;
  int32_t GetTestActive(int32_t* value) override;
  int32_t GetShutdownActive(int32_t* value) override;
  int32_t GetStatusFlag11(int32_t* value) override;
  int32_t GetConnected(int32_t* value) override;  // always 1
  int32_t GetBuzzerActive(int32_t* value) override;

  // Numbered settings; on acknowledgement the cached current value follows.
  // 1 when the unit refuses, 9 for a malformed acknowledgement, 6, 7 or 8
  // when the exchange fails.
  int32_t SetInputHigh(int32_t value) override;
  int32_t SetInputLow(int32_t value) override;
  int32_t SetBatteryLowLevel(int32_t value) override;
  int32_t SetBatteryOut(int32_t value) override;
  int32_t SetColdStart(int32_t value) override;
  int32_t SetProperty5(int32_t value) override;
  int32_t SetProperty6(int32_t value) override;
  int32_t SetBuzzer(bool on) override;

  // Settings in whole units. A default of the four limits is derived once
  // from the middle value of the matching range text.
  int32_t GetInputHigh(int32_t* value, int32_t which) override;
  int32_t GetInputLow(int32_t* value, int32_t which) override;
  int32_t GetBatteryLowLevel(int32_t* value, int32_t which) override;
  int32_t GetBatteryOut(int32_t* value, int32_t which) override;
  int32_t GetColdStart(int32_t* value, int32_t which) override;
  int32_t GetProperty5(int32_t* value, int32_t which) override;
  int32_t GetProperty6(int32_t* value, int32_t which) override;

  int32_t GetInputHighRange(char* buffer, int32_t* size) override;
  int32_t GetInputLowRange(char* buffer, int32_t* size) override;
  int32_t GetBatteryLowRange(char* buffer, int32_t* size) override;
  int32_t GetBatteryOutRange(char* buffer, int32_t* size) override;
  int32_t GetText33(char* buffer, int32_t* size) override;
  int32_t GetModelName(char* buffer, int32_t* size) override;
  int32_t GetFirmwareVersion(char* buffer, int32_t* size) override;
  int32_t GetText36(char* buffer, int32_t* size) override;

  int32_t GetRatedVoltage(int32_t* value) override;
  int32_t GetRatedFrequencyLow(int32_t* value) override;
  int32_t GetRatedFrequencyHigh(int32_t* value) override;
  int32_t GetRatedVA(int32_t* value) override;
  int32_t GetRatedWatt(int32_t* value) override;
  int32_t GetPortType(int32_t* value) override;
  int32_t GetMediaType(int32_t* value) override;
  int32_t GetMediaIndex(int32_t* value) override;
  int32_t GetBaudRate(int32_t* value) override;
  int32_t GetProperty46(int32_t* value) override;
  int32_t GetProperty47(int32_t* value) override;
  int32_t GetBatteryVoltage(int32_t* value) override;
  int32_t GetBatteryCount(int32_t* value) override;
  int32_t GetBatteryAmpHours(int32_t* value) override;
  int32_t GetExternalBatteries(int32_t* value) override;
  int32_t GetProperty52(int32_t* value) override;
  int32_t GetProperty53(int32_t* value) override;
  int32_t GetBuzzerSetting(int32_t* value) override;

  // Commands; times in seconds, -1 cancels. StartTest does not look at the
  // answer; the shutdowns need an acknowledgement. CancelCommand sends
  // setting 7 with the value 2.
  int32_t StartTest(int32_t seconds) override;
  int32_t ShutdownRestore(int32_t delay, int32_t restore) override;
  int32_t Shutdown(int32_t delay) override;
  int32_t CancelCommand() override;

  // Asks "D" up to three times; 0 when an answer passed every check (the
  // snapshot is then replaced), else the code of the last attempt. A failed
  // exchange with DSR low ends the poll with 8 at once.
  int32_t Poll() override;

  void Release() override { delete this; }

 private:
  struct Snapshot {
    int32_t power_fail = 0;
    int32_t battery_low = 0;
    int32_t shutdown_active = 0;
    int32_t flag11 = 0;
    int32_t test_active = 0;
    int32_t buzzer_active = 0;
    int32_t input_voltage = 0;
    int32_t output_voltage = 0;
    int32_t load = 0;
    int32_t capacity = 0;
    int32_t backup_time = 0;
    int32_t temperature = 0;
    int32_t frequency = 0;
  };

  // Sends property query `number` (1 to 9), up to two attempts, and stores
  // what its answer carries. 0, or the code of the last attempt.
  int32_t Query(int32_t number);
  int32_t ParseQueryAnswer(int32_t number, std::string_view payload);
  int32_t ParseNumberList(std::string_view payload, const int* cells,
                          int32_t count, int32_t divisor);
  int32_t ParseIdentification(std::string_view payload);
  int32_t ParseOptions(std::string_view payload);

  // Current number of a cell, sending its query when the cell is empty.
  int32_t ReadNumber(int cell, int32_t query, int32_t* value);
  int32_t ReadText(int cell, int32_t query, char* buffer, int32_t* size);
  // A limit: current (which 0) or the default derived from its range text.
  int32_t ReadLimit(int cell, int32_t* value, int32_t which,
                    int32_t (TProtocol::*range)(char*, int32_t*));
  // A 0/1 setting: current from P9, default from the construction value.
  int32_t ReadSwitch(int cell, int32_t* value, int32_t which);

  // Sends a numbered setting (two attempts) and, when `cell` is not -1,
  // stores the value there once the unit acknowledged it.
  int32_t SendSetting(int32_t setting, int32_t value, int32_t digits, int cell);
  // Sends a command (up to `attempts` exchanges) and reads the unit's
  // acknowledgement: 0, 1 when the unit refuses, else the exchange's code.
  int32_t SendAcknowledged(const std::string& command, int32_t attempts);

  // Decodes a status payload into the snapshot; 0, 9 or a property's code.
  int32_t DecodeStatus(std::string_view payload);

  IMedia* media_;
  SerialExchange exchange_;
  Snapshot snapshot_;
  PropertyCell cells_[kCellCount];
};

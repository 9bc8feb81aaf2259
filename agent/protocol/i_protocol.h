#pragma once

#include <cstdint>

#include "agent/protocol/result_codes.h"

// IProtocol is the one interface through which the agent's core talks to a
// UPS, whatever the unit speaks on its line. Every operation returns a result
// code (result_codes.h) and writes its outputs only on success. The base
// answers kNotSupported (1) to every operation 0 to 59 and writes nothing.
//
// Text reads come in two calls: with a null buffer the size is set to the
// text length plus one and 5 is returned; with a buffer of at least that size
// the text and its NUL are copied and 0 is returned; an empty text gives 2.
// Reads with a selector ask for the current value (which == 0) or the unit's
// default (which != 0).
//
// Implementations hold their media by pointer and never own it. Objects are
// given back with Release.
class IProtocol {
 public:
  IProtocol() = default;
  IProtocol(const IProtocol&) = delete;
  IProtocol& operator=(const IProtocol&) = delete;

  // Status reads (S0 to S13). Measurements in hundredths, flags 0 or 1.
  virtual int32_t GetInputVoltage(int32_t* value);     // 0
  virtual int32_t GetOutputVoltage(int32_t* value);    // 1
  virtual int32_t GetBatteryCapacity(int32_t* value);  // 2
  virtual int32_t GetLoad(int32_t* value);             // 3
  virtual int32_t GetTemperature(int32_t* value);      // 4
  virtual int32_t GetFrequency(int32_t* value);        // 5
  virtual int32_t GetBackupTime(int32_t* value);       // 6
  virtual int32_t GetPowerFail(int32_t* value);        // 7
  virtual int32_t GetBatteryLow(int32_t* value);       // 8
  virtual int32_t GetTestActive(int32_t* value);       // 9
  virtual int32_t GetShutdownActive(int32_t* value);   // 10
  virtual int32_t GetStatusFlag11(int32_t* value);     // 11
  virtual int32_t GetConnected(int32_t* value);        // 12
  virtual int32_t GetBuzzerActive(int32_t* value);     // 13

  // Setting writes (W0 to W7).
  virtual int32_t SetInputHigh(int32_t value);        // 14
  virtual int32_t SetInputLow(int32_t value);         // 15
  virtual int32_t SetBatteryLowLevel(int32_t value);  // 16
  virtual int32_t SetBatteryOut(int32_t value);       // 17
  virtual int32_t SetColdStart(int32_t value);        // 18
  virtual int32_t SetProperty5(int32_t value);        // 19
  virtual int32_t SetProperty6(int32_t value);        // 20
  virtual int32_t SetBuzzer(bool on);                 // 21

  // Setting reads (R0 to R6), current or default.
  virtual int32_t GetInputHigh(int32_t* value, int32_t which);        // 22
  virtual int32_t GetInputLow(int32_t* value, int32_t which);         // 23
  virtual int32_t GetBatteryLowLevel(int32_t* value, int32_t which);  // 24
  virtual int32_t GetBatteryOut(int32_t* value, int32_t which);       // 25
  virtual int32_t GetColdStart(int32_t* value, int32_t which);        // 26
  virtual int32_t GetProperty5(int32_t* value, int32_t which);        // 27
  virtual int32_t GetProperty6(int32_t* value, int32_t which);        // 28

  // Text reads (R8 to R15).
  virtual int32_t GetInputHighRange(char* buffer, int32_t* size);   // 29
  virtual int32_t GetInputLowRange(char* buffer, int32_t* size);    // 30
  virtual int32_t GetBatteryLowRange(char* buffer, int32_t* size);  // 31
  virtual int32_t GetBatteryOutRange(char* buffer, int32_t* size);  // 32
  virtual int32_t GetText33(char* buffer, int32_t* size);           // 33
  virtual int32_t GetModelName(char* buffer, int32_t* size);        // 34
  virtual int32_t GetFirmwareVersion(char* buffer, int32_t* size);  // 35
  virtual int32_t GetText36(char* buffer, int32_t* size);           // 36

  // Ratings and fixed facts (R16 to R30).
  virtual int32_t GetRatedVoltage(int32_t* value);        // 37
  virtual int32_t GetRatedFrequencyLow(int32_t* value);   // 38
  virtual int32_t GetRatedFrequencyHigh(int32_t* value);  // 39
  virtual int32_t GetRatedVA(int32_t* value);             // 40
  virtual int32_t GetRatedWatt(int32_t* value);           // 41
  virtual int32_t GetPortType(int32_t* value);            // 42
  virtual int32_t GetMediaType(int32_t* value);           // 43
  virtual int32_t GetMediaIndex(int32_t* value);          // 44
  virtual int32_t GetBaudRate(int32_t* value);            // 45
  virtual int32_t GetProperty46(int32_t* value);          // 46
  virtual int32_t GetProperty47(int32_t* value);          // 47
  virtual int32_t GetBatteryVoltage(int32_t* value);      // 48
  virtual int32_t GetBatteryCount(int32_t* value);        // 49
  virtual int32_t GetBatteryAmpHours(int32_t* value);     // 50
  virtual int32_t GetExternalBatteries(int32_t* value);   // 51
  virtual int32_t GetProperty52(int32_t* value);          // 52
  virtual int32_t GetProperty53(int32_t* value);          // 53
  virtual int32_t GetBuzzerSetting(int32_t* value);       // 54

  // Commands (C0 to C3). Times in seconds; -1 cancels.
  virtual int32_t StartTest(int32_t seconds);                       // 55
  virtual int32_t ShutdownRestore(int32_t delay, int32_t restore);  // 56
  virtual int32_t Shutdown(int32_t delay);                          // 57
  virtual int32_t CancelCommand();                                  // 58

  // Reads the unit's status now; 0 means the link works.
  virtual int32_t Poll();  // 59

  // Deletes this object.
  virtual void Release() = 0;  // 60
  virtual ~IProtocol() = default;
};

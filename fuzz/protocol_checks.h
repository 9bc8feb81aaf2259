#pragma once

// Checks shared by the protocol fuzz targets: every read of the protocol
// interface, each held to the interface's contract (outputs written only on
// success, the two-call text read, flags 0 or 1, known result codes).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent/protocol/i_protocol.h"
#include "agent/protocol/result_codes.h"

namespace fuzz {

inline void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

inline bool KnownCode(int32_t code) {
  return code >= result::kSuccess && code <= result::kMediaChanged &&
         code != 3 && code != 12;
}

constexpr int32_t kUntouched = -123456789;

// A value read: a known code, and the output left alone unless it succeeded.
inline int32_t CheckedRead(IProtocol* protocol,
                           int32_t (IProtocol::*read)(int32_t*),
                           int32_t* value) {
  *value = kUntouched;
  const int32_t code = (protocol->*read)(value);
  Check(KnownCode(code), "value read: unknown result code");
  if (code != result::kSuccess) {
    Check(*value == kUntouched, "value read: output written on failure");
  }
  return code;
}

inline void CheckFlag(IProtocol* protocol,
                      int32_t (IProtocol::*read)(int32_t*)) {
  int32_t value = 0;
  if (CheckedRead(protocol, read, &value) == result::kSuccess) {
    Check(value == 0 || value == 1, "status flag not 0 or 1");
  }
}

// The two-call text read: the size asked for holds the text and its NUL, a
// buffer one byte short is refused, and the text read has that length.
inline void CheckText(IProtocol* protocol,
                      int32_t (IProtocol::*read)(char*, int32_t*)) {
  int32_t size = 0;
  int32_t code = (protocol->*read)(nullptr, &size);
  Check(KnownCode(code), "text read: unknown result code");
  if (code != result::kBufferTooSmall) return;
  Check(size >= 1 && size <= 64 * 1024, "text read: size out of range");
  if (size > 1) {
    std::vector<char> small(static_cast<size_t>(size - 1), 'x');
    int32_t small_size = size - 1;
    code = (protocol->*read)(small.data(), &small_size);
    Check(code == result::kBufferTooSmall && small_size == size,
          "text read: a short buffer not refused with the size");
  }
  std::vector<char> buffer(static_cast<size_t>(size) + 1, 'x');
  int32_t got = size;
  code = (protocol->*read)(buffer.data(), &got);
  Check(code == result::kSuccess, "text read: the asked size refused");
  Check(strnlen(buffer.data(), buffer.size()) == static_cast<size_t>(size - 1),
        "text read: length differs from the size");
}

// Every read of the interface (no commands, no writes).
inline void CheckEveryRead(IProtocol* protocol) {
  using Read = int32_t (IProtocol::*)(int32_t*);
  const Read measurements[] = {
      &IProtocol::GetInputVoltage,    &IProtocol::GetOutputVoltage,
      &IProtocol::GetBatteryCapacity, &IProtocol::GetLoad,
      &IProtocol::GetTemperature,     &IProtocol::GetFrequency,
      &IProtocol::GetBackupTime};
  int32_t value = 0;
  for (Read read : measurements) CheckedRead(protocol, read, &value);
  const Read flags[] = {
      &IProtocol::GetPowerFail,    &IProtocol::GetBatteryLow,
      &IProtocol::GetTestActive,   &IProtocol::GetShutdownActive,
      &IProtocol::GetStatusFlag11, &IProtocol::GetBuzzerActive};
  for (Read read : flags) CheckFlag(protocol, read);
  if (CheckedRead(protocol, &IProtocol::GetConnected, &value) ==
      result::kSuccess) {
    Check(value == 1, "connected is not 1");
  }

  using SelectedRead = int32_t (IProtocol::*)(int32_t*, int32_t);
  const SelectedRead settings[] = {
      &IProtocol::GetInputHigh,       &IProtocol::GetInputLow,
      &IProtocol::GetBatteryLowLevel, &IProtocol::GetBatteryOut,
      &IProtocol::GetColdStart,       &IProtocol::GetProperty5,
      &IProtocol::GetProperty6};
  for (SelectedRead read : settings) {
    for (int32_t which = 0; which < 2; ++which) {
      value = which;
      const int32_t code = (protocol->*read)(&value, which);
      Check(KnownCode(code), "setting read: unknown result code");
      if (code != result::kSuccess) {
        Check(value == which, "setting read: output written on failure");
      }
    }
  }

  using TextRead = int32_t (IProtocol::*)(char*, int32_t*);
  const TextRead texts[] = {
      &IProtocol::GetInputHighRange,  &IProtocol::GetInputLowRange,
      &IProtocol::GetBatteryLowRange, &IProtocol::GetBatteryOutRange,
      &IProtocol::GetText33,          &IProtocol::GetModelName,
      &IProtocol::GetFirmwareVersion, &IProtocol::GetText36};
  for (TextRead read : texts) CheckText(protocol, read);

  const Read facts[] = {
      &IProtocol::GetRatedVoltage,       &IProtocol::GetRatedFrequencyLow,
      &IProtocol::GetRatedFrequencyHigh, &IProtocol::GetRatedVA,
      &IProtocol::GetRatedWatt,          &IProtocol::GetPortType,
      &IProtocol::GetMediaType,          &IProtocol::GetMediaIndex,
      &IProtocol::GetBaudRate,           &IProtocol::GetProperty46,
      &IProtocol::GetProperty47,         &IProtocol::GetBatteryVoltage,
      &IProtocol::GetBatteryCount,       &IProtocol::GetBatteryAmpHours,
      &IProtocol::GetExternalBatteries,  &IProtocol::GetProperty52,
      &IProtocol::GetProperty53};
  for (Read read : facts) CheckedRead(protocol, read, &value);
  CheckedRead(protocol, &IProtocol::GetBuzzerSetting, &value);
}

}  // namespace fuzz

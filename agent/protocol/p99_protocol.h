#pragma once

#include <cstdint>
#include <memory>

#include "agent/protocol/command_frame.h"
#include "agent/protocol/i_protocol.h"
#include "agent/protocol/serial_exchange.h"

class Clock;
class IMedia;
class P99Proxy;

// P99Protocol talks to UPS units that speak the compact P99 byte protocol
// at 1200 baud: a command letter, a few argument bytes and a CR; replies of
// a fixed length that echo the request or are framed by marker bytes. It
// frames and retries every exchange and checks the replies; everything it
// learns goes to the P99Proxy it owns, which decodes and caches the values.
// Most reads are answered by the proxy, fetching from the unit on a miss.
//
// The media and the clock are borrowed and must outlive this object.
class P99Protocol final : public IProtocol {
 public:
  static constexpr int32_t kBaudRate = 1200;
  static constexpr int32_t kPortType = 2;
  // Longest shutdown delay and delay-plus-restore, in seconds, whose tick
  // counts (0.131 s each) fit the 16-bit and 24-bit fields.
  static constexpr int32_t kMaxShutdownDelay = 8585;
  static constexpr int32_t kMaxRestoreTotal = 2197815;

  // Stores the fixed facts in the proxy, sets 1200 baud, drops RTS, raises
  // DTR and wakes the unit with two CRs (the reply is ignored).
  P99Protocol(IMedia* media, Clock* clock);
  // Deletes the proxy, then drops DTR.
  ~P99Protocol() override;

  // S0-S13: the last poll's snapshot, from the proxy; no unit talk.
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
  int32_t GetConnected(int32_t* value) override;
  int32_t GetBuzzerActive(int32_t* value) override;

  // W0-W6: write a setting register unless the unit already holds the
  // value. 0; 14 for a value outside the model's table (nothing sent); 6, 7,
  // 8 or 9 when the write is not confirmed, with the old value kept.
  int32_t SetInputHigh(int32_t value) override;
  int32_t SetInputLow(int32_t value) override;
  int32_t SetBatteryLowLevel(int32_t value) override;
  int32_t SetBatteryOut(int32_t value) override;
  int32_t SetColdStart(int32_t value) override;
  int32_t SetProperty5(int32_t value) override;
  int32_t SetProperty6(int32_t value) override;

  // R0-R6: the cached setting; the current value is read from the unit's
  // register the first time.
  int32_t GetInputHigh(int32_t* value, int32_t which) override;
  int32_t GetInputLow(int32_t* value, int32_t which) override;
  int32_t GetBatteryLowLevel(int32_t* value, int32_t which) override;
  int32_t GetBatteryOut(int32_t* value, int32_t which) override;
  int32_t GetColdStart(int32_t* value, int32_t which) override;
  int32_t GetProperty5(int32_t* value, int32_t which) override;
  int32_t GetProperty6(int32_t* value, int32_t which) override;

  // R8-R11 from the proxy; R15 (info text), R12, R13 and R16-R18
  // (identification) fetched from the unit on the first read.
  int32_t GetInputHighRange(char* buffer, int32_t* size) override;
  int32_t GetInputLowRange(char* buffer, int32_t* size) override;
  int32_t GetBatteryLowRange(char* buffer, int32_t* size) override;
  int32_t GetBatteryOutRange(char* buffer, int32_t* size) override;
  int32_t GetText33(char* buffer, int32_t* size) override;
  int32_t GetModelName(char* buffer, int32_t* size) override;
  int32_t GetFirmwareVersion(char* buffer, int32_t* size) override;
  int32_t GetRatedVoltage(int32_t* value) override;
  int32_t GetRatedFrequencyLow(int32_t* value) override;
  int32_t GetRatedFrequencyHigh(int32_t* value) override;

  // R21-R24 (fixed facts), R29 (register 0x3D bit 4), R30.
  int32_t GetPortType(int32_t* value) override;
  int32_t GetMediaType(int32_t* value) override;
  int32_t GetMediaIndex(int32_t* value) override;
  int32_t GetBaudRate(int32_t* value) override;
  int32_t GetProperty46(int32_t* value) override;
  int32_t GetProperty47(int32_t* value) override;
  // Always 0.
  int32_t GetProperty52(int32_t* value) override;
  int32_t GetProperty53(int32_t* value) override;

  // C0: a self-test of about `seconds` (0.131 s ticks, at most 255); -1
  // cancels a running test.
  int32_t StartTest(int32_t seconds) override;
  // C1: output off after `delay` s and back on `restore` s after that; -1
  // and -1 cancel. 4 for a delay above 8585 s, a negative argument, or a
  // total above 2197815 s (nothing is sent then).
  int32_t ShutdownRestore(int32_t delay, int32_t restore) override;
  // C2: output off after `delay` s, no restore; -1 cancels. 4 above 8585 s.
  int32_t Shutdown(int32_t delay) override;
  // C3: the unit's cancel command ("B").
  int32_t CancelCommand() override;

  // Reads the status (up to three attempts) and hands it to the proxy.
  int32_t Poll() override;

  void Release() override;

  // --- The operations of the P99 family ---------------------------------
  // Model index (1-32) and class (1-5), identifying the unit on a miss.
  int32_t GetModelIndex(int32_t* value);
  int32_t GetModelClass(int32_t* value);
  // Voltage class (register 0x29) and variant (register 0x2B).
  int32_t GetVoltageClass(int32_t* value);
  int32_t GetVoltageVariant(int32_t* value, int32_t which);

  // The proxy, for tests.
  P99Proxy* proxy() const { return proxy_.get(); }

 private:
  int32_t ReadSetting(int32_t item, int32_t* out, int32_t which);
  int32_t ReadProxyItem(int32_t item, int32_t* out, int32_t which);
  int32_t FetchSetting(int32_t item, int32_t* out);
  int32_t WriteSetting(int32_t item, int32_t value);
  int32_t ReadIdentification();
  int32_t ReadInfoText();
  // One attempt of a command whose reply echoes the first `echo` bytes.
  int32_t SendEchoed(const uint8_t* bytes, int32_t length, int32_t echo);

  IMedia* media_;
  std::unique_ptr<P99Proxy> proxy_;
  SerialExchange exchange_;
};

#pragma once

#include <cstdint>

#include "agent/protocol/i_protocol.h"

// The protocol of "no unit found": every status read answers kNoAnswer (8),
// the media selection it was made for is reported back, and everything else,
// Poll included, keeps the default kNotSupported (1). Because Poll fails, the
// main loop runs detection again once per poll period.
class NullProtocol final : public IProtocol {
 public:
  NullProtocol(int32_t media_type, int32_t media_index);

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

  int32_t GetMediaType(int32_t* value) override;
  int32_t GetMediaIndex(int32_t* value) override;

  void Release() override;

 private:
  int32_t media_type_;
  int32_t media_index_;
};

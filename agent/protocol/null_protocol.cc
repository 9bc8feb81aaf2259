#include "agent/protocol/null_protocol.h"

NullProtocol::NullProtocol(int32_t media_type, int32_t media_index)
    : media_type_(media_type), media_index_(media_index) {}

// No unit is connected, so no status value can be read.
int32_t NullProtocol::GetInputVoltage(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetOutputVoltage(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetBatteryCapacity(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetLoad(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetTemperature(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetFrequency(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetBackupTime(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetPowerFail(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetBatteryLow(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetTestActive(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetShutdownActive(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetStatusFlag11(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetConnected(int32_t*) { return result::kNoAnswer; }
int32_t NullProtocol::GetBuzzerActive(int32_t*) { return result::kNoAnswer; }

int32_t NullProtocol::GetMediaType(int32_t* value) {
  *value = media_type_;
  return result::kSuccess;
}

int32_t NullProtocol::GetMediaIndex(int32_t* value) {
  *value = media_index_;
  return result::kSuccess;
}

void NullProtocol::Release() { delete this; }

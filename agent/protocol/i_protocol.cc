#include "agent/protocol/i_protocol.h"

// Every operation that an implementation does not override is not supported.

int32_t IProtocol::GetInputVoltage(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetOutputVoltage(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBatteryCapacity(int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetLoad(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetTemperature(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetFrequency(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBackupTime(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetPowerFail(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBatteryLow(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetTestActive(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetShutdownActive(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetStatusFlag11(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetConnected(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBuzzerActive(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::SetInputHigh(int32_t) { return result::kNotSupported; }
int32_t IProtocol::SetInputLow(int32_t) { return result::kNotSupported; }
int32_t IProtocol::SetBatteryLowLevel(int32_t) { return result::kNotSupported; }
int32_t IProtocol::SetBatteryOut(int32_t) { return result::kNotSupported; }
int32_t IProtocol::SetColdStart(int32_t) { return result::kNotSupported; }
int32_t IProtocol::SetProperty5(int32_t) { return result::kNotSupported; }
int32_t IProtocol::SetProperty6(int32_t) { return result::kNotSupported; }
int32_t IProtocol::SetBuzzer(bool) { return result::kNotSupported; }
int32_t IProtocol::GetInputHigh(int32_t*, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::GetInputLow(int32_t*, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::GetBatteryLowLevel(int32_t*, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::GetBatteryOut(int32_t*, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::GetColdStart(int32_t*, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::GetProperty5(int32_t*, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::GetProperty6(int32_t*, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::GetInputHighRange(char*, int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetInputLowRange(char*, int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetBatteryLowRange(char*, int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetBatteryOutRange(char*, int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetText33(char*, int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetModelName(char*, int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetFirmwareVersion(char*, int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetText36(char*, int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetRatedVoltage(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetRatedFrequencyLow(int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetRatedFrequencyHigh(int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetRatedVA(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetRatedWatt(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetPortType(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetMediaType(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetMediaIndex(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBaudRate(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetProperty46(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetProperty47(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBatteryVoltage(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBatteryCount(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBatteryAmpHours(int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetExternalBatteries(int32_t*) {
  return result::kNotSupported;
}
int32_t IProtocol::GetProperty52(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetProperty53(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::GetBuzzerSetting(int32_t*) { return result::kNotSupported; }
int32_t IProtocol::StartTest(int32_t) { return result::kNotSupported; }
int32_t IProtocol::ShutdownRestore(int32_t, int32_t) {
  return result::kNotSupported;
}
int32_t IProtocol::Shutdown(int32_t) { return result::kNotSupported; }
int32_t IProtocol::CancelCommand() { return result::kNotSupported; }
int32_t IProtocol::Poll() { return result::kNotSupported; }

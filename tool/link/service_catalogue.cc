// The request catalogue of ServiceConnection: one thin wrapper per request
// the tool knows, each with its constant template.
#include "tool/link/service_connection.h"

int32_t ServiceConnection::Login(const std::string& user,
                                 const std::string& password) {
  int32_t result = UserName(user);
  if (result != kSuccess) return result;
  return UserPassword(password);
}

int32_t ServiceConnection::UserName(const std::string& user) {
  return Transact("USR NAME %s\r", user);
}

int32_t ServiceConnection::UserPassword(const std::string& password) {
  return Transact("USR PASS %s\r", password);
}

int32_t ServiceConnection::GetStatusInputVoltage(int32_t* value) {
  return Transact("DEV STATUS_INVOLT\r%d", value);
}

int32_t ServiceConnection::GetStatusOutputVoltage(int32_t* value) {
  return Transact("DEV STATUS_OUTVOLT\r%d", value);
}

int32_t ServiceConnection::GetStatusCapacity(int32_t* value) {
  return Transact("DEV STATUS_CAPACITY\r%d", value);
}

int32_t ServiceConnection::GetStatusLoad(int32_t* value) {
  return Transact("DEV STATUS_LOAD\r%d", value);
}

int32_t ServiceConnection::GetStatusTemperature(int32_t* value) {
  return Transact("DEV STATUS_TEMP\r%d", value);
}

int32_t ServiceConnection::GetStatusFrequency(int32_t* value) {
  return Transact("DEV STATUS_FREQ\r%d", value);
}

int32_t ServiceConnection::GetStatusBackupTime(int32_t* value) {
  return Transact("DEV STATUS_BACKUP\r%d", value);
}

int32_t ServiceConnection::GetStatusPowerFail(int32_t* value) {
  return Transact("DEV STATUS_POWERFAIL\r%d", value);
}

int32_t ServiceConnection::GetStatusBatteryLow(int32_t* value) {
  return Transact("DEV STATUS_BATTERYLO\r%d", value);
}

int32_t ServiceConnection::GetStatusTest(int32_t* value) {
  return Transact("DEV STATUS_TEST\r%d", value);
}

int32_t ServiceConnection::GetStatusConnect(int32_t* value) {
  return Transact("DEV STATUS_CONNECT\r%d", value);
}

int32_t ServiceConnection::GetPropInputHigh(int32_t* value,
                                            bool factory_default) {
  return factory_default ? Transact("DEV PROP_INPUTHI DEFAULT\r%d", value)
                         : Transact("DEV PROP_INPUTHI\r%d", value);
}

int32_t ServiceConnection::GetPropInputLow(int32_t* value,
                                           bool factory_default) {
  return factory_default ? Transact("DEV PROP_INPUTLO DEFAULT\r%d", value)
                         : Transact("DEV PROP_INPUTLO\r%d", value);
}

int32_t ServiceConnection::GetPropBatteryLow(int32_t* value,
                                             bool factory_default) {
  return factory_default ? Transact("DEV PROP_BATTERYLO DEFAULT\r%d", value)
                         : Transact("DEV PROP_BATTERYLO\r%d", value);
}

int32_t ServiceConnection::GetPropBatteryOutput(int32_t* value,
                                                bool factory_default) {
  // The trailing T of the default form is an ordinary pattern character and
  // is never compared with the reply.
  return factory_default ? Transact("DEV PROP_BATOUT DEFAULT\r%dT", value)
                         : Transact("DEV PROP_BATOUT\r%d", value);
}

int32_t ServiceConnection::GetPropColdStart(int32_t* value,
                                            bool factory_default) {
  return factory_default ? Transact("DEV PROP_COLDSTART DEFAULT\r%d", value)
                         : Transact("DEV PROP_COLDSTART\r%d", value);
}

int32_t ServiceConnection::GetPropInputHighRange(ValueRange* range) {
  return Transact("DEV PROP_INPUTHI_RANGE\r%v", range);
}

int32_t ServiceConnection::GetPropInputLowRange(ValueRange* range) {
  return Transact("DEV PROP_INPUTLO_RANGE\r%v", range);
}

int32_t ServiceConnection::GetPropBatteryLowRange(ValueRange* range) {
  return Transact("DEV PROP_BATTERYLO_RANGE\r%v", range);
}

int32_t ServiceConnection::GetPropBatteryOutputRange(ValueRange* range) {
  return Transact("DEV PROP_BATOUT_RANGE\r%v", range);
}

int32_t ServiceConnection::GetPropModel(std::string* model) {
  return Transact("DEV PROP_MODEL\r%s", model);
}

int32_t ServiceConnection::GetPropFirmwareVersion(std::string* version) {
  return Transact("DEV PROP_FWVER\r%s", version);
}

int32_t ServiceConnection::GetPropVolt(int32_t* value) {
  return Transact("DEV PROP_VOLT\r%d", value);
}

int32_t ServiceConnection::GetPropFrequencyLow(int32_t* value) {
  return Transact("DEV PROP_FREQLO\r%d", value);
}

int32_t ServiceConnection::GetPropFrequencyHigh(int32_t* value) {
  return Transact("DEV PROP_FREQHI\r%d", value);
}

int32_t ServiceConnection::GetPropVa(int32_t* value) {
  return Transact("DEV PROP_VA\r%d", value);
}

int32_t ServiceConnection::GetPropWatt(int32_t* value) {
  return Transact("DEV PROP_WATT\r%d", value);
}

int32_t ServiceConnection::GetPropPortType(int32_t* value) {
  return Transact("DEV PROP_PORTTYPE\r%d", value);
}

int32_t ServiceConnection::GetPropMediaType(int32_t* value) {
  return Transact("DEV PROP_MEDIATYPE\r%d", value);
}

int32_t ServiceConnection::GetPropMediaIndex(int32_t* value) {
  return Transact("DEV PROP_MEDIAIDX\r%d", value);
}

int32_t ServiceConnection::GetPropBatteryVoltage(int32_t* value) {
  return Transact("DEV PROP_BATVOLT\r%d", value);
}

int32_t ServiceConnection::GetPropBatteryNumber(int32_t* value) {
  return Transact("DEV PROP_BATNUM\r%d", value);
}

int32_t ServiceConnection::GetPropBatteryAmpereHours(int32_t* value) {
  return Transact("DEV PROP_BATAH\r%d", value);
}

int32_t ServiceConnection::GetPropBatteryExternal(int32_t* value) {
  return Transact("DEV PROP_BATEXT\r%d", value);
}

int32_t ServiceConnection::GetPropMediaDevices(DeviceList* devices) {
  return Transact("DEV PROP_MEDIADEVICES\r%u", devices);
}

int32_t ServiceConnection::SetPropInputHigh(int32_t value) {
  return Transact("DEV SET_PROP_INPUTHI %d\r", value);
}

int32_t ServiceConnection::SetPropInputLow(int32_t value) {
  return Transact("DEV SET_PROP_INPUTLO %d\r", value);
}

int32_t ServiceConnection::SetPropBatteryLow(int32_t value) {
  return Transact("DEV SET_PROP_BATTERYLO %d\r", value);
}

int32_t ServiceConnection::SetPropBatteryOutput(int32_t value) {
  return Transact("DEV SET_PROP_BATOUT %d\r", value);
}

int32_t ServiceConnection::SetPropColdStart(int32_t value) {
  return Transact("DEV SET_PROP_COLDSTART %d\r", value);
}

int32_t ServiceConnection::CommandSelfTest(int32_t seconds) {
  return Transact("DEV CMD_SELFTEST %d\r", seconds);
}

int32_t ServiceConnection::LogKey(int32_t list, int32_t* key) {
  return Transact("LOG KEY %d\r%l", list, key);
}

int32_t ServiceConnection::LogPrevious(int32_t list, int32_t key,
                                       int32_t* next_key,
                                       std::vector<std::string>* entries) {
  return Transact("LOG PRV %d %l\r%l%u", list, key, next_key, entries);
}

int32_t ServiceConnection::LogClear(int32_t list) {
  return Transact("LOG CLR %d\r", list);
}

int32_t ServiceConnection::GetPtcParameter(const std::string& key,
                                           std::string* value) {
  return Transact("PTC %s\r%s", key, value);
}

int32_t ServiceConnection::SetPtcParameter(const std::string& key,
                                           const std::string& value) {
  return Transact("PTC %s=%s\r", key, value);
}

int32_t ServiceConnection::GetPolParameter(const std::string& key,
                                           std::string* value) {
  return Transact("POL %s\r%s", key, value);
}

int32_t ServiceConnection::SetPolParameter(const std::string& key,
                                           const std::string& value) {
  return Transact("POL %s=%s\r", key, value);
}

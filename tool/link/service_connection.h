#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/service_wire.h"
#include "tool/link/device_list.h"
#include "tool/link/link_arg.h"
#include "tool/link/value_range.h"

class Platform;
class Socket;
class SocketSelector;

// The tool's one TCP connection to the UPS service. Every request is one
// synchronous exchange: a text request ended by CR, then a text reply ended
// by CR. Each exchange is described by a request template (the request part
// up to and including the first CR, then the reply pattern); Transact fills
// the request from input arguments and reads the reply into output arguments.
// The catalogue operations below are thin wrappers, one per request the tool
// knows. The texts are made and read by the pure functions of
// template_codec.h; this class moves them over the socket.
//
// Every exchange returns 0 on success, kCommFailure when the link failed,
// kServiceErrorNoCode or the service's own error number when the reply was
// "ERR ..." , and kBadTemplate when a template and its arguments do not fit.
// Outputs are only written from a reply that is not an error; a value that
// cannot be read from the reply leaves its output as the caller set it.
class ServiceConnection final {
 public:
  static constexpr int32_t kSuccess = 0;
  // Readiness time-out, socket error, connection closed by the service, or a
  // reply longer than kMaxReplyBytes.
  static constexpr int32_t kCommFailure = 21;
  // The reply began with "ERR " but carried no non-zero number.
  static constexpr int32_t kServiceErrorNoCode = 22;
  // The template has no CR, or its conversions do not match the kinds of the
  // arguments given (too few, too many, wrong kind, null output). Nothing is
  // sent.
  static constexpr int32_t kBadTemplate = 23;
  // The service's own error number for "not in contact with the UPS".
  static constexpr int32_t kNoUnitError = service_wire::kErrNoContact;

  static constexpr int32_t kSendTimeoutMillis = 5000;
  static constexpr int32_t kReceiveTimeoutMillis = 10000;
  // Bytes asked for per receive.
  static constexpr size_t kReceiveChunk = 1450;
  // A reply that grows past this without its CR ends the exchange with
  // kCommFailure instead of growing memory without bound.
  static constexpr size_t kMaxReplyBytes = 1024 * 1024;

  // Where the service listens, and the fixed login.
  static constexpr const char* kServiceHost = service_wire::kServiceHost;
  static constexpr uint16_t kServicePort = service_wire::kServicePort;
  static constexpr const char* kUserName = service_wire::kLoginUser;
  static constexpr const char* kPassword = service_wire::kLoginPassword;

  // Uses the process's platform object and socket selector.
  ServiceConnection();
  // For tests: another platform and selector. Both are borrowed and must
  // outlive the connection.
  ServiceConnection(Platform* platform, SocketSelector* selector);
  // Closes and deletes the socket, if one was made.
  ~ServiceConnection();

  ServiceConnection(const ServiceConnection&) = delete;
  ServiceConnection& operator=(const ServiceConnection&) = delete;

  // Opens a blocking IPv4 TCP connection to host (dotted quad or name) and
  // port; port wins over a ":port" suffix of the host text. False when the
  // socket cannot be made, the host cannot be resolved or the connect fails;
  // a failed connect closes the socket so that a later Connect starts afresh.
  bool Connect(const std::string& host, uint16_t port);
  bool IsConnected() const;

  // Readiness waits of each send and of each received piece. The defaults
  // are kSendTimeoutMillis and kReceiveTimeoutMillis; tests make them short.
  void SetTimeouts(int32_t send_millis, int32_t receive_millis);

  // One exchange; see the class comment. Arguments are consumed in order:
  // one per conversion of the request part, then one output per conversion
  // of the reply pattern. Example:
  //   int32_t volts = -1;
  //   connection.Transact("DEV STATUS_INVOLT\r%d", &volts);
  template <typename... Args>
  int32_t Transact(const char* request_template, Args&&... args) {
    return TransactList(request_template,
                        {LinkArg(std::forward<Args>(args))...});
  }
  int32_t TransactList(const char* request_template,
                       std::initializer_list<LinkArg> args);

  // Sends every byte of request. 0, or kCommFailure (not connected, no write
  // readiness within the send time-out, send error).
  int32_t SendRequest(const std::string& request);
  // Appends received bytes to reply until a piece brings a CR. 0, or
  // kCommFailure (not connected, no data within the receive time-out of the
  // last piece, receive error, connection closed, reply too long).
  // Either failing closes the connection: what is still in transit belongs
  // to the failed exchange, so every later exchange fails with kCommFailure
  // rather than read another request's reply.
  int32_t ReceiveReply(std::string* reply);

  // "USR NAME" with user, then, only when that succeeded, "USR PASS" with
  // password. Returns the first non-zero result, else 0.
  int32_t Login(const std::string& user = kUserName,
                const std::string& password = kPassword);
  int32_t UserName(const std::string& user);          // "USR NAME %s\r"
  int32_t UserPassword(const std::string& password);  // "USR PASS %s\r"

  // Status requests; one integer each (hundredths, seconds or 0/1).
  int32_t GetStatusInputVoltage(int32_t* value);   // DEV STATUS_INVOLT
  int32_t GetStatusOutputVoltage(int32_t* value);  // DEV STATUS_OUTVOLT
  int32_t GetStatusCapacity(int32_t* value);       // DEV STATUS_CAPACITY
  int32_t GetStatusLoad(int32_t* value);           // DEV STATUS_LOAD
  int32_t GetStatusTemperature(int32_t* value);    // DEV STATUS_TEMP
  int32_t GetStatusFrequency(int32_t* value);      // DEV STATUS_FREQ
  int32_t GetStatusBackupTime(int32_t* value);     // DEV STATUS_BACKUP
  int32_t GetStatusPowerFail(int32_t* value);      // DEV STATUS_POWERFAIL
  int32_t GetStatusBatteryLow(int32_t* value);     // DEV STATUS_BATTERYLO
  int32_t GetStatusTest(int32_t* value);           // DEV STATUS_TEST
  int32_t GetStatusConnect(int32_t* value);        // DEV STATUS_CONNECT

  // Adjustable settings: the current value, or with factory_default the
  // factory default (the "DEFAULT" form of the request).
  int32_t GetPropInputHigh(int32_t* value, bool factory_default = false);
  int32_t GetPropInputLow(int32_t* value, bool factory_default = false);
  int32_t GetPropBatteryLow(int32_t* value, bool factory_default = false);
  int32_t GetPropBatteryOutput(int32_t* value, bool factory_default = false);
  int32_t GetPropColdStart(int32_t* value, bool factory_default = false);

  // Allowed values of the four thresholds; appended to range.
  int32_t GetPropInputHighRange(ValueRange* range);      // PROP_INPUTHI_RANGE
  int32_t GetPropInputLowRange(ValueRange* range);       // PROP_INPUTLO_RANGE
  int32_t GetPropBatteryLowRange(ValueRange* range);     // PROP_BATTERYLO_RANGE
  int32_t GetPropBatteryOutputRange(ValueRange* range);  // PROP_BATOUT_RANGE

  // Whole reply texts.
  int32_t GetPropModel(std::string* model);              // DEV PROP_MODEL
  int32_t GetPropFirmwareVersion(std::string* version);  // DEV PROP_FWVER

  // Ratings and link properties; one integer each.
  int32_t GetPropVolt(int32_t* value);                // DEV PROP_VOLT
  int32_t GetPropFrequencyLow(int32_t* value);        // DEV PROP_FREQLO
  int32_t GetPropFrequencyHigh(int32_t* value);       // DEV PROP_FREQHI
  int32_t GetPropVa(int32_t* value);                  // DEV PROP_VA
  int32_t GetPropWatt(int32_t* value);                // DEV PROP_WATT
  int32_t GetPropPortType(int32_t* value);            // DEV PROP_PORTTYPE
  int32_t GetPropMediaType(int32_t* value);           // DEV PROP_MEDIATYPE
  int32_t GetPropMediaIndex(int32_t* value);          // DEV PROP_MEDIAIDX
  int32_t GetPropBatteryVoltage(int32_t* value);      // DEV PROP_BATVOLT
  int32_t GetPropBatteryNumber(int32_t* value);       // DEV PROP_BATNUM
  int32_t GetPropBatteryAmpereHours(int32_t* value);  // DEV PROP_BATAH
  int32_t GetPropBatteryExternal(int32_t* value);     // DEV PROP_BATEXT

  // One line per selectable port; appended to devices.
  int32_t GetPropMediaDevices(DeviceList* devices);  // DEV PROP_MEDIADEVICES

  // Settings and commands; the reply carries no values.
  int32_t SetPropInputHigh(int32_t value);      // DEV SET_PROP_INPUTHI
  int32_t SetPropInputLow(int32_t value);       // DEV SET_PROP_INPUTLO
  int32_t SetPropBatteryLow(int32_t value);     // DEV SET_PROP_BATTERYLO
  int32_t SetPropBatteryOutput(int32_t value);  // DEV SET_PROP_BATOUT
  int32_t SetPropColdStart(int32_t value);      // DEV SET_PROP_COLDSTART
  // Starts a self-test of that many seconds; -1 cancels a running test.
  int32_t CommandSelfTest(int32_t seconds);  // DEV CMD_SELFTEST

  // Logs: list 0 events, 1 saved files, 2 status records.
  // The key from which paging of the list starts.
  int32_t LogKey(int32_t list, int32_t* key);  // "LOG KEY %d\r%l"
  // One page of entries before key: the next key, then the entries (appended
  // to entries); an empty page means the end.
  int32_t LogPrevious(int32_t list, int32_t key, int32_t* next_key,
                      std::vector<std::string>* entries);  // "LOG PRV ..."
  int32_t LogClear(int32_t list);                          // "LOG CLR %d\r"

  // Parameters of the two key spaces; values are whole reply texts.
  int32_t GetPtcParameter(const std::string& key, std::string* value);
  int32_t SetPtcParameter(const std::string& key, const std::string& value);
  int32_t GetPolParameter(const std::string& key, std::string* value);
  int32_t SetPolParameter(const std::string& key, const std::string& value);

 private:
  int32_t SendAll(const std::string& request);
  int32_t ReceiveUntilCr(std::string* reply);
  // Closes the socket when result is a failure; returns result.
  int32_t DropOnFailure(int32_t result);

  Platform* platform_;              // borrowed; process-wide by default
  SocketSelector* selector_;        // borrowed; process-wide by default
  std::unique_ptr<Socket> socket_;  // null until the first Connect
  int32_t send_timeout_millis_ = kSendTimeoutMillis;
  int32_t receive_timeout_millis_ = kReceiveTimeoutMillis;
};

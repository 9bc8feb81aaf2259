#pragma once

#include <cstdint>

// What kovra and kovrad both know about the connection between them: where
// the service listens, the fixed login and the error numbers of its "ERR n"
// replies. Header-only, so the two programs share these constants without
// linking each other.
namespace service_wire {

constexpr const char* kServiceHost = "127.0.0.1";
constexpr uint16_t kServicePort = 8855;

// The login every connection starts with ("USR NAME", then "USR PASS").
// Both are fixed and public: the service only serves loopback clients
// unless told otherwise.
constexpr const char* kLoginUser = "manager";
constexpr const char* kLoginPassword = "quiet gate";

// Error numbers of the service's replies. An agent error "E n" is passed on
// as "ERR n", so these share their space with the agent's own codes.
constexpr int32_t kErrUnknownRequest = 1;  // unknown request or key
constexpr int32_t kErrLogin = 3;           // not logged in, wrong credentials
constexpr int32_t kErrInvalidValue = 4;    // a value out of range or syntax
constexpr int32_t kErrNoContact = 8;       // not in contact with the UPS
constexpr int32_t kErrMalformed = 9;       // the agent's answer was no number
constexpr int32_t kErrRequestTooLong = 12;
constexpr int32_t kErrStoreFailed = 23;  // the database refused a write

}  // namespace service_wire

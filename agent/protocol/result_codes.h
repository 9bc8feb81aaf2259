#pragma once

#include <cstdint>

// The result codes shared by every operation of the agent: protocol
// operations, the pipe channel and the command dispatcher.
namespace result {

constexpr int32_t kSuccess = 0;
constexpr int32_t kNotSupported = 1;      // also: no default, no restart
constexpr int32_t kNotReadYet = 2;        // property holder still empty
constexpr int32_t kInvalid = 4;           // invalid value or out of range
constexpr int32_t kBufferTooSmall = 5;    // text read: size tells the need
constexpr int32_t kShortWrite = 6;        // media accepted fewer bytes
constexpr int32_t kShortRead = 7;         // media delivered fewer bytes
constexpr int32_t kNoAnswer = 8;          // no unit, or link check failed
constexpr int32_t kMalformedAnswer = 9;   // the unit's reply was malformed
constexpr int32_t kNotThisProtocol = 10;  // probe: another kind of unit
constexpr int32_t kNoTableItem = 11;      // P99: item missing from table
constexpr int32_t kNoItemEncoding = 13;   // P99: item without an encoding
constexpr int32_t kNotInTable = 14;       // P99: value not in the table
constexpr int32_t kPipeClosed = 15;       // pipe channel closed or broken
constexpr int32_t kMalformedArgument = 16;
constexpr int32_t kMediaFailure = 17;  // pin access failed, no list
constexpr int32_t kTimeout = 18;
constexpr int32_t kOutOfMemory = 19;
constexpr int32_t kMediaChanged = 20;  // protocol must be re-created

}  // namespace result

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/scripted_media.h"

// A P99 unit for tests: answers the P99 byte protocol behind a ScriptedMedia
// (as its responder) from its registers, identification and status bytes,
// and counts the requests it got. Fault switches corrupt or withhold
// replies so tests can drive every failure path of the protocol.
class FakeP99Unit {
 public:
  using Bytes = ScriptedMedia::Bytes;

  // A "650VA" unit on a 120 V line: voltage class 1, variant 0, item 29
  // off, every code register at code 0, register 0x0F = 0x13.
  FakeP99Unit();

  // Makes this unit the responder of the media (which must outlive the
  // attachment; the unit must outlive the media's use).
  void AttachTo(ScriptedMedia* media);

  // The reply to one request, as the media would deliver it.
  Bytes Answer(const Bytes& request);

  // --- What the unit holds ---------------------------------------------
  std::string model = "650VA";  // up to 10 characters, padded with blanks
  uint8_t rated_voltage = 120;
  uint8_t rated_frequency = 60;
  std::string firmware = "1234";              // four characters
  std::string info = "INFO TEXT OF UNIT 01";  // 20 characters
  uint8_t registers[256] = {};
  uint8_t status[7] = {123, 0, 10, 197, 136, 178, 0x00};  // d0 to d6
  uint8_t check_byte = 0x00;

  // --- Faults --------------------------------------------------------------
  // The next n requests get no reply at all.
  int silent_requests = 0;
  // Status replies carry a wrong complement of the flag byte.
  bool bad_status_complement = false;
  // The next n register writes are echoed with a changed value byte (the
  // register keeps its value).
  int bad_write_echoes = 0;
  // Identification replies with a broken marker.
  bool bad_identification = false;

  // --- What happened -------------------------------------------------------
  // Requests received that start with the letter (wake-ups count as '\r').
  int Count(char letter) const;
  const std::vector<Bytes>& requests() const { return requests_; }
  void ClearRequests() { requests_.clear(); }

 private:
  std::vector<Bytes> requests_;
};

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/protocol/command_frame.h"

// Readers for the answers of text-protocol units. An answer is '#', a payload
// and a CR; everything here works on the payload as a length-bounded view into
// the frame's reply buffer, so hostile bytes (NULs, bit-7 bytes, fields as
// long as the buffer) can never make a reader leave the received bytes.

// True when the frame's reply is well formed: at least one byte, '#' first
// and CR last. *payload is then the bytes between the two, up to the first
// NUL among them: the payload is a NUL-terminated text, so every reader
// (status, field lists, ranges, texts, option bits) sees it end there.
bool ExtractPayload(const CommandFrame& frame, std::string_view* payload);

// The fields of a status answer, one per letter of "IOLBTFS". A letter seen
// more than once keeps its last stretch; `present` tells which were seen.
struct TStatusFields {
  static constexpr char kLetters[] = "IOLBTFS";
  static constexpr int kCount = 7;
  enum Index {
    kInput,
    kOutput,
    kLoad,
    kCapacity,
    kTemperature,
    kFrequency,
    kStatus
  };

  std::string_view field[kCount];
  bool present[kCount] = {};

  bool AllPresent() const;
};

// Splits a status payload at the letters of "IOLBTFS". Text before the first
// letter is ignored. Bytes with bit 7 set never start a field.
TStatusFields SplitStatusFields(std::string_view payload);

// Walks a comma-separated field list of a fixed length. Every field but the
// last must end in a comma; the last runs to the end of the payload.
class TFieldList final {
 public:
  explicit TFieldList(std::string_view payload) : rest_(payload) {}

  // Takes the next field into *field. `last` says whether it is the final
  // field of the list. False (a malformed list) when the remaining text is
  // empty or, for a field that is not the last, has no comma.
  bool Next(bool last, std::string_view* field);

 private:
  std::string_view rest_;
};

// A text field of an identification answer: leading blanks skipped, cut at
// the first blank after that.
std::string_view FirstWord(std::string_view field);

// The range text of a setting: the payload with its trailing zero fields
// removed ("170,180,190,0,0" becomes "170,180,190"); a text of nothing but
// zero fields becomes empty, which reads as "no range". Bytes after an embedded
// NUL are dropped, because the text is kept NUL-terminated.
std::string TrimRangeText(std::string_view payload);

// The factory default a range text implies: its middle field (with c commas,
// the field of zero-based index c / 2) read as a base-10 integer; at most the
// first 31 characters of the field are read.
int32_t MiddleRangeValue(std::string_view range);

// The option bits of a P9 answer. The payload must consist of bytes with bit
// 7 set (an empty payload passes).
struct TOptionBits {
  int32_t option46 = 0;
  int32_t option47 = 0;
  int32_t option52 = 0;
  int32_t option53 = 0;
  int32_t cold_start = 0;
  int32_t setting5 = 0;
  int32_t buzzer = 0;
};
bool DecodeOptionBits(std::string_view payload, TOptionBits* bits);

// The status flags carried by the first byte of the S field.
struct TStatusFlags {
  int32_t power_fail = 0;
  int32_t battery_low = 0;
  int32_t shutdown_active = 0;
  int32_t flag11 = 0;
  int32_t test_active = 0;
  int32_t buzzer_active = 0;
};
TStatusFlags DecodeStatusByte(uint8_t byte);

// Backup-time estimate from the battery data (amp-hours in hundredths, whole
// battery count), the capacity and the load (both in hundredths of a per
// cent): ((ah * count * capacity * 2) / 10000) * (100 - load%) / 100, where a
// load above 100 % counts as 90 %. Intermediate products saturate instead of
// overflowing; the result is clamped to the int32 range.
int32_t EstimateBackupTime(int32_t amp_hours, int32_t battery_count,
                           int32_t capacity, int32_t load);

// The acknowledgement of a command: the payload read as a base-10 integer
// (no digits reads as 0).
int32_t ParseAcknowledgement(std::string_view payload);

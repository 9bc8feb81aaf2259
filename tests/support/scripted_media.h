#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "agent/media/i_media.h"

class FakeClock;

// A serial media for tests. It records every write, answers with scripted
// replies and models the modem lines, so protocol tests can assert on the
// exact bytes exchanged and on the order of line changes and pauses.
//
// Replies: each non-empty Write discards pending input (like the real
// media's flush) and then makes the next reply of the script the pending
// input; a responder, when set, is asked instead once the script is used up.
// A zero-length write only discards. Read takes bytes from the pending input:
// count -1 takes all of it (up to the capacity), a fixed count at most that.
//
// Lines: SetPinState records the driven lines (DTR, RTS, break); GetPinState
// reports the input lines given by the line model, or the fixed input lines.
class ScriptedMedia final : public IMedia {
 public:
  using Bytes = std::vector<uint8_t>;

  // One recorded event, in order: a write, a read, a pin read or a pin set.
  struct Event {
    enum Kind { kWrite, kRead, kGetPins, kSetPins, kBaud } kind;
    Bytes bytes;            // kWrite: bytes written; kRead: bytes delivered
    int32_t mask = 0;       // kSetPins: mask; kGetPins: lines reported
    int32_t on = 0;         // kSetPins: on; kBaud: bits per second
    int64_t at_millis = 0;  // time on the attached FakeClock, else 0
  };

  ScriptedMedia();

  // Attaches a clock whose time stamps the events (optional, borrowed).
  void AttachClock(FakeClock* clock) { clock_ = clock; }

  // --- Scripting replies --------------------------------------------------
  void AddReply(const Bytes& reply) { replies_.push_back(reply); }
  void AddReply(const std::string& reply) {
    replies_.push_back(Bytes(reply.begin(), reply.end()));
  }
  // Called with the bytes of each write once the script is empty.
  void SetResponder(std::function<Bytes(const Bytes& written)> responder) {
    responder_ = std::move(responder);
  }
  size_t PendingReplies() const { return replies_.size(); }

  // --- Modelling the lines ------------------------------------------------
  void SetInputPins(int32_t mask) { input_pins_ = mask; }
  // The lines reported may depend on the driven lines and on how many pin
  // reads came before (0 for the first read).
  void SetLineModel(std::function<int32_t(int32_t driven, int reads)> model) {
    line_model_ = std::move(model);
  }
  int32_t driven_pins() const { return driven_pins_; }

  // --- Fault switches -----------------------------------------------------
  // The next write accepts only this many bytes (then the switch resets).
  void LimitNextWrite(int32_t bytes) { next_write_limit_ = bytes; }
  // Every write fails its flush and writes nothing while set.
  void FailWrites(bool fail) { fail_writes_ = fail; }
  // The next n pin reads (or sets) fail.
  void FailPinReads(int n) { failing_pin_reads_ = n; }
  void FailPinSets(int n) { failing_pin_sets_ = n; }
  // Create fails while set.
  void FailCreate(bool fail) { fail_create_ = fail; }

  // --- What happened ------------------------------------------------------
  const std::vector<Event>& events() const { return events_; }
  // The bytes of every write, in order (zero-length writes included).
  std::vector<Bytes> Writes() const;
  // The writes as printable text, non-printable bytes as \xNN.
  std::vector<std::string> WrittenTexts() const;
  int32_t baud_rate() const { return baud_rate_; }
  int create_calls() const { return create_calls_; }
  void ClearEvents() { events_.clear(); }

  // Sets *released (if given) when Release is called.
  void WatchRelease(bool* released) { released_flag_ = released; }

  // IMedia
  int32_t Create(uint32_t index) override;
  int32_t Write(const uint8_t* data, int32_t count) override;
  int32_t Read(uint8_t* buffer, int32_t count, int32_t capacity) override;
  int32_t SetBaudRate(int32_t bits_per_second) override;
  int32_t GetPinState(int32_t* mask) override;
  int32_t SetPinState(int32_t mask, int32_t on) override;
  void Release() override;

  // Printable form of bytes, for messages and assertions.
  static std::string Printable(const Bytes& bytes);

 private:
  void Record(Event event);

  FakeClock* clock_ = nullptr;
  std::deque<Bytes> replies_;
  std::function<Bytes(const Bytes&)> responder_;
  Bytes pending_;
  int32_t input_pins_ = pin::kDsr;
  std::function<int32_t(int32_t, int)> line_model_;
  int32_t driven_pins_ = 0;
  int pin_reads_ = 0;
  int32_t next_write_limit_ = -1;
  bool fail_writes_ = false;
  int failing_pin_reads_ = 0;
  int failing_pin_sets_ = 0;
  bool fail_create_ = false;
  int32_t baud_rate_ = 1200;
  int create_calls_ = 0;
  bool* released_flag_ = nullptr;
  std::vector<Event> events_;
};

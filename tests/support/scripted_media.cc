#include "tests/support/scripted_media.h"

#include <cstdio>

#include "tests/support/fake_clock.h"

ScriptedMedia::ScriptedMedia() {
  SetType(2);
  SetReadTimeout(1000);
}

std::vector<ScriptedMedia::Bytes> ScriptedMedia::Writes() const {
  std::vector<Bytes> writes;
  for (const Event& event : events_) {
    if (event.kind == Event::kWrite) writes.push_back(event.bytes);
  }
  return writes;
}

std::vector<std::string> ScriptedMedia::WrittenTexts() const {
  std::vector<std::string> texts;
  for (const Bytes& bytes : Writes()) texts.push_back(Printable(bytes));
  return texts;
}

std::string ScriptedMedia::Printable(const Bytes& bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += static_cast<char>(byte);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", byte);
      text += hex;
    }
  }
  return text;
}

void ScriptedMedia::Record(Event event) {
  event.at_millis = clock_ != nullptr ? clock_->MonotonicMillis() : 0;
  events_.push_back(std::move(event));
}

int32_t ScriptedMedia::Create(uint32_t index) {
  ++create_calls_;
  SetIndex(static_cast<int32_t>(index));
  return fail_create_ ? 0 : 1;
}

int32_t ScriptedMedia::Write(const uint8_t* data, int32_t count) {
  if (fail_writes_) return 0;
  pending_.clear();
  int32_t accepted = count < 0 ? 0 : count;
  if (next_write_limit_ >= 0 && next_write_limit_ < accepted) {
    accepted = next_write_limit_;
  }
  next_write_limit_ = -1;
  Event event{Event::kWrite, Bytes(data, data + accepted)};
  Record(event);
  if (count > 0) {
    if (!replies_.empty()) {
      pending_ = replies_.front();
      replies_.pop_front();
    } else if (responder_) {
      pending_ = responder_(event.bytes);
    }
  }
  return accepted;
}

int32_t ScriptedMedia::Read(uint8_t* buffer, int32_t count, int32_t capacity) {
  size_t take = pending_.size();
  if (count >= 0 && static_cast<size_t>(count) < take) take = count;
  if (capacity >= 0 && static_cast<size_t>(capacity) < take) take = capacity;
  Bytes delivered(pending_.begin(), pending_.begin() + take);
  pending_.erase(pending_.begin(), pending_.begin() + take);
  for (size_t i = 0; i < take; ++i) buffer[i] = delivered[i];
  Event event{Event::kRead, delivered};
  Record(event);
  return static_cast<int32_t>(take);
}

int32_t ScriptedMedia::SetBaudRate(int32_t bits_per_second) {
  Event event{Event::kBaud, {}};
  event.on = bits_per_second;
  Record(event);
  switch (bits_per_second) {
    case 1200:
    case 2400:
    case 4800:
    case 9600:
      baud_rate_ = bits_per_second;
      return 1;
    default:
      return 0;
  }
}

int32_t ScriptedMedia::GetPinState(int32_t* mask) {
  if (failing_pin_reads_ > 0) {
    --failing_pin_reads_;
    return 0;
  }
  const int32_t lines =
      line_model_ ? line_model_(driven_pins_, pin_reads_) : input_pins_;
  ++pin_reads_;
  *mask = lines & (pin::kDcd | pin::kDsr | pin::kCts | pin::kRi);
  Event event{Event::kGetPins, {}};
  event.mask = *mask;
  Record(event);
  return 1;
}

int32_t ScriptedMedia::SetPinState(int32_t mask, int32_t on) {
  if (mask & pin::kNotSettable) return 0;
  if (failing_pin_sets_ > 0) {
    --failing_pin_sets_;
    return 0;
  }
  const int32_t driven = mask & (pin::kBreak | pin::kDtr | pin::kRts);
  if (on) {
    driven_pins_ |= driven;
  } else {
    driven_pins_ &= ~driven;
  }
  Event event{Event::kSetPins, {}};
  event.mask = mask;
  event.on = on;
  Record(event);
  return 1;
}

void ScriptedMedia::Release() {
  if (released_flag_ != nullptr) *released_flag_ = true;
  delete this;
}

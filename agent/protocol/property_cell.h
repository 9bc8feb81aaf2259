#pragma once

#include <cstdint>
#include <memory>

#include "agent/protocol/result_codes.h"

// A number kept by a protocol: the value and its state. State 0 means not
// read yet, a state above 0 invalid, a negative state valid.
class NumberValue final {
 public:
  void Store(int32_t value) {
    value_ = value;
    state_ = kValid;
  }
  void MarkInvalid() { state_ = 1; }

  // 0 and the value, 2 when not read yet, 4 when invalid.
  int32_t Read(int32_t* value) const;

 private:
  static constexpr int32_t kValid = -4;
  int32_t value_ = 0;
  int32_t state_ = 0;
};

// A text kept by a protocol: an owned NUL-terminated copy and its length.
class TextValue final {
 public:
  // Copies the text (null frees the copy and sets the length to 0). The
  // buffer grows only when the new text does not fit. 0, or 19 when the copy
  // cannot be allocated (the old text is kept then).
  int32_t Store(const char* text);

  // Two-call text read: a null buffer sets *size to length + 1 and gives 5;
  // a buffer with *size above the length receives the text and its NUL (0);
  // a smaller buffer gives 5 with *size set to the size needed. An empty text
  // gives 2.
  int32_t Read(char* buffer, int32_t* size) const;

  int32_t length() const { return length_; }

 private:
  std::unique_ptr<char[]> text_;
  int32_t capacity_ = 0;  // bytes of text_, NUL included
  int32_t length_ = 0;
};

// One entry of a protocol's property cache: a current and a default slot,
// each empty until its first store. A cell holds numbers or texts, as its
// owner decides. Reading an empty current slot gives 2 (not read yet), an
// empty default slot 1 (no default).
class PropertyCell final {
 public:
  enum Slot { kCurrent = 0, kDefault = 1 };

  // 0, or 19 when the holder cannot be allocated (the slot stays as it was).
  int32_t StoreNumber(Slot slot, int32_t value);
  int32_t StoreText(Slot slot, const char* text);

  // Marks a number slot invalid (reads give 4 until the next store).
  int32_t MarkInvalid(Slot slot);

  int32_t ReadNumber(Slot slot, int32_t* value) const;
  int32_t ReadText(Slot slot, char* buffer, int32_t* size) const;

  // Empties both slots.
  void Clear();

  bool IsEmpty(Slot slot) const {
    return !holders_[slot].number && !holders_[slot].text;
  }

 private:
  struct Holder {
    std::unique_ptr<NumberValue> number;
    std::unique_ptr<TextValue> text;
  };

  // The slot's number holder, made (in place of a text) when it has none;
  // null when it cannot be allocated, the slot then left as it was.
  NumberValue* NumberHolder(Slot slot);

  int32_t EmptyResult(Slot slot) const {
    return slot == kCurrent ? result::kNotReadYet : result::kNotSupported;
  }

  Holder holders_[2];
};

// The accessor pattern every protocol builds on its cells ("query on miss"):
// read; when the slot is still empty (2) run the query that fills it and, if
// that succeeded, read once more. Any other first result is returned as is.
template <typename Read, typename Query>
int32_t ReadOrQuery(Read&& read, Query&& query) {
  const int32_t first = read();
  if (first != result::kNotReadYet) return first;
  const int32_t queried = query();
  if (queried != result::kSuccess) return queried;
  return read();
}

// Query on miss for the current number of a cell.
template <typename Query>
int32_t ReadNumberOrQuery(const PropertyCell& cell, int32_t* value,
                          Query&& query) {
  return ReadOrQuery(
      [&] { return cell.ReadNumber(PropertyCell::kCurrent, value); }, query);
}

// Query on miss for the current text of a cell (two-call text read).
template <typename Query>
int32_t ReadTextOrQuery(const PropertyCell& cell, char* buffer, int32_t* size,
                        Query&& query) {
  return ReadOrQuery(
      [&] { return cell.ReadText(PropertyCell::kCurrent, buffer, size); },
      query);
}

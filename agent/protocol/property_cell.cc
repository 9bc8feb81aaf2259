#include "agent/protocol/property_cell.h"

#include <cstring>
#include <new>

int32_t NumberValue::Read(int32_t* value) const {
  if (state_ == 0) return result::kNotReadYet;
  if (state_ > 0) return result::kInvalid;
  *value = value_;
  return result::kSuccess;
}

int32_t TextValue::Store(const char* text) {
  if (text == nullptr) {
    text_.reset();
    capacity_ = 0;
    length_ = 0;
    return result::kSuccess;
  }
  const size_t length = strlen(text);
  if (length >= static_cast<size_t>(INT32_MAX)) return result::kOutOfMemory;
  const int32_t needed = static_cast<int32_t>(length) + 1;
  if (!text_ || needed > capacity_) {
    std::unique_ptr<char[]> bigger(new (std::nothrow) char[needed]);
    if (!bigger) return result::kOutOfMemory;
    text_ = std::move(bigger);
    capacity_ = needed;
  }
  memcpy(text_.get(), text, length + 1);
  length_ = static_cast<int32_t>(length);
  return result::kSuccess;
}

int32_t TextValue::Read(char* buffer, int32_t* size) const {
  if (length_ == 0) return result::kNotReadYet;
  if (length_ < 0) return result::kInvalid;
  if (size == nullptr) return result::kBufferTooSmall;
  if (buffer == nullptr || *size <= length_) {
    *size = length_ + 1;
    return result::kBufferTooSmall;
  }
  memcpy(buffer, text_.get(), static_cast<size_t>(length_) + 1);
  return result::kSuccess;
}

NumberValue* PropertyCell::NumberHolder(Slot slot) {
  Holder& holder = holders_[slot];
  if (!holder.number) {
    holder.number.reset(new (std::nothrow) NumberValue);
    if (!holder.number) return nullptr;
    holder.text.reset();
  }
  return holder.number.get();
}

int32_t PropertyCell::StoreNumber(Slot slot, int32_t value) {
  NumberValue* number = NumberHolder(slot);
  if (number == nullptr) return result::kOutOfMemory;
  number->Store(value);
  return result::kSuccess;
}

int32_t PropertyCell::StoreText(Slot slot, const char* text) {
  Holder& holder = holders_[slot];
  if (holder.text) return holder.text->Store(text);
  // A new holder is filled before it replaces what the slot holds, so a
  // failed allocation of either the holder or its copy leaves the slot as it
  // was.
  std::unique_ptr<TextValue> fresh(new (std::nothrow) TextValue);
  if (!fresh) return result::kOutOfMemory;
  const int32_t code = fresh->Store(text);
  if (code != result::kSuccess) return code;
  holder.text = std::move(fresh);
  holder.number.reset();
  return result::kSuccess;
}

int32_t PropertyCell::MarkInvalid(Slot slot) {
  NumberValue* number = NumberHolder(slot);
  if (number == nullptr) return result::kOutOfMemory;
  number->MarkInvalid();
  return result::kSuccess;
}

int32_t PropertyCell::ReadNumber(Slot slot, int32_t* value) const {
  const Holder& holder = holders_[slot];
  if (holder.number) return holder.number->Read(value);
  if (holder.text) return result::kInvalid;  // a text cell has no number
  return EmptyResult(slot);
}

int32_t PropertyCell::ReadText(Slot slot, char* buffer, int32_t* size) const {
  const Holder& holder = holders_[slot];
  if (holder.text) return holder.text->Read(buffer, size);
  if (holder.number) return result::kInvalid;  // a number cell has no text
  return EmptyResult(slot);
}

void PropertyCell::Clear() {
  for (Holder& holder : holders_) {
    holder.number.reset();
    holder.text.reset();
  }
}

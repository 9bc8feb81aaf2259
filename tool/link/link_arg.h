#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "common/time/timestamp.h"
#include "tool/link/device_list.h"
#include "tool/link/value_range.h"

// One argument of a request template. ServiceConnection::Transact takes its
// arguments as a list of these instead of a C variable argument list, so each
// conversion can check that it got the kind of value it needs: a mismatch is
// refused before anything is sent, and can never read a wrong type.
//
// Inputs are held by value (numbers) or by pointer to the caller's object
// (texts, lists); outputs by pointer. A LinkArg only lives for the call it is
// passed to, so the borrowed objects only need to outlive that call.
class LinkArg {
 public:
  using TextMap = std::map<std::string, std::string>;
  using TextMaps = std::vector<TextMap>;
  using Lines = std::vector<std::string>;

  enum class Kind {
    kNumber,      // %d, %l in the request
    kText,        // %s in the request
    kLines,       // %u in the request
    kMaps,        // %m in the request
    kTime,        // %t in the request
    kNumberOut,   // %d, %l in the reply
    kTextOut,     // %s in the reply
    kLinesOut,    // %u in the reply
    kDevicesOut,  // %u in the reply, into a DeviceList
    kRangeOut,    // %v in the reply
    kMapsOut,     // %m in the reply
    kTimeOut,     // %t in the reply
  };

  // Request arguments.
  LinkArg(int32_t number) : kind_(Kind::kNumber), number_(number) {}
  LinkArg(const char* text) : kind_(Kind::kText), c_text_(text) {}
  LinkArg(const std::string& text) : kind_(Kind::kText), text_(&text) {}
  LinkArg(const Lines* lines) : kind_(Kind::kLines), lines_(lines) {}
  LinkArg(const TextMaps* maps) : kind_(Kind::kMaps), maps_(maps) {}
  LinkArg(const Timestamp* time) : kind_(Kind::kTime), time_(time) {}

  // Reply arguments.
  LinkArg(int32_t* number) : kind_(Kind::kNumberOut), number_out_(number) {}
  LinkArg(std::string* text) : kind_(Kind::kTextOut), text_out_(text) {}
  LinkArg(Lines* lines) : kind_(Kind::kLinesOut), lines_out_(lines) {}
  LinkArg(DeviceList* devices)
      : kind_(Kind::kDevicesOut), devices_out_(devices) {}
  LinkArg(ValueRange* range) : kind_(Kind::kRangeOut), range_out_(range) {}
  LinkArg(TextMaps* maps) : kind_(Kind::kMapsOut), maps_out_(maps) {}
  LinkArg(Timestamp* time) : kind_(Kind::kTimeOut), time_out_(time) {}

  // Every other integer type (64-bit long, bool, char, unsigned) would be
  // narrowed or misread silently; it must be converted by the caller.
  template <typename T,
            typename = std::enable_if_t<std::is_arithmetic_v<T> &&
                                        !std::is_same_v<T, int32_t>>>
  LinkArg(T) = delete;
  LinkArg(std::nullptr_t) = delete;

  Kind kind() const { return kind_; }

  int32_t number() const { return number_; }
  // The text of a kText argument; a null C string reads as empty.
  const char* text() const {
    if (text_ != nullptr) return text_->c_str();
    return c_text_ != nullptr ? c_text_ : "";
  }
  const Lines* lines() const { return lines_; }
  const TextMaps* maps() const { return maps_; }
  const Timestamp* time() const { return time_; }

  int32_t* number_out() const { return number_out_; }
  std::string* text_out() const { return text_out_; }
  Lines* lines_out() const { return lines_out_; }
  DeviceList* devices_out() const { return devices_out_; }
  ValueRange* range_out() const { return range_out_; }
  TextMaps* maps_out() const { return maps_out_; }
  Timestamp* time_out() const { return time_out_; }

 private:
  Kind kind_;
  int32_t number_ = 0;
  const char* c_text_ = nullptr;
  const std::string* text_ = nullptr;
  const Lines* lines_ = nullptr;
  const TextMaps* maps_ = nullptr;
  const Timestamp* time_ = nullptr;
  int32_t* number_out_ = nullptr;
  std::string* text_out_ = nullptr;
  Lines* lines_out_ = nullptr;
  DeviceList* devices_out_ = nullptr;
  ValueRange* range_out_ = nullptr;
  TextMaps* maps_out_ = nullptr;
  Timestamp* time_out_ = nullptr;
};

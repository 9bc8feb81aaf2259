#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The allowed values of one adjustable threshold, as the UPS service lists
// them: signed 32-bit integers in the order they were received.
class ValueRange {
 public:
  void Add(int32_t value) { values_.push_back(value); }

  size_t size() const { return values_.size(); }
  bool empty() const { return values_.empty(); }
  const std::vector<int32_t>& values() const { return values_; }
  std::vector<int32_t>::const_iterator begin() const { return values_.begin(); }
  std::vector<int32_t>::const_iterator end() const { return values_.end(); }

 private:
  std::vector<int32_t> values_;
};

#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The selectable communication ports as the UPS service lists them, one text
// line per port ("type", a separator, "index", a separator, the port name).
// The lines are kept as received; reading them is the caller's business.
class DeviceList {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }

  size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  std::vector<std::string>* mutable_lines() { return &lines_; }
  std::vector<std::string>::const_iterator begin() const {
    return lines_.begin();
  }
  std::vector<std::string>::const_iterator end() const { return lines_.end(); }

 private:
  std::vector<std::string> lines_;
};

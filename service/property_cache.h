#pragma once

#include <cstdint>
#include <map>
#include <string>

// Answers of fixed unit properties (model, ratings, ranges, defaults, media)
// by agent command, valid while the unit on the line stays the same. The
// service forgets them when the agent restarts, the port changes, contact
// changes or a write is sent.
class PropertyCache final {
 public:
  // True with the answer in *answer when the command's answer is kept.
  bool Find(const std::string& command, std::string* answer) const {
    auto found = answers_.find(command);
    if (found == answers_.end()) return false;
    *answer = found->second;
    return true;
  }
  void Store(const std::string& command, const std::string& answer) {
    answers_[command] = answer;
  }
  void Clear() {
    answers_.clear();
    ++generation_;
  }
  bool empty() const { return answers_.empty(); }
  // Counts the Clear() calls, so an answer asked for before one can be told
  // from an answer that may be kept.
  uint64_t generation() const { return generation_; }

 private:
  std::map<std::string, std::string> answers_;
  uint64_t generation_ = 0;
};

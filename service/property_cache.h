#pragma once

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
  void Clear() { answers_.clear(); }
  bool empty() const { return answers_.empty(); }

 private:
  std::map<std::string, std::string> answers_;
};

#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/scripted_peer.h"

// A UPS service for kovra's tests: answers requests from a table on an
// ephemeral loopback port and records them in order. The login is accepted
// unless a test says otherwise; any request without an answer gets
// "ERR 99" so that it shows in the output as well as in requests().
class FakeService {
 public:
  static constexpr int32_t kUnknownRequest = 99;

  FakeService() {
    Answer("USR NAME manager", "OK");
    Answer("USR PASS quiet gate", "OK");
    peer_.SetHandler(
        [this](const std::string& request) { return Reply(request); });
  }

  bool Start() { return peer_.Start(); }
  uint16_t port() const { return peer_.port(); }

  // `request` is given without its CR; the CR is added to `reply`.
  void Answer(const std::string& request, const std::string& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[request] = reply + "\r";
  }
  void Fail(const std::string& request, int32_t code) {
    Answer(request, "ERR " + std::to_string(code));
  }

  // Requests received, without their CR.
  std::vector<std::string> requests() const {
    std::vector<std::string> requests = peer_.requests();
    for (std::string& request : requests) {
      if (!request.empty() && request.back() == '\r') request.pop_back();
    }
    return requests;
  }
  // Requests after the two login requests.
  std::vector<std::string> command_requests() const {
    std::vector<std::string> all = requests();
    if (all.size() >= 2 && all[0] == "USR NAME manager" &&
        all[1] == "USR PASS quiet gate") {
      all.erase(all.begin(), all.begin() + 2);
    }
    return all;
  }

 private:
  PeerReply Reply(std::string request) {
    if (!request.empty() && request.back() == '\r') request.pop_back();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = answers_.find(request);
    if (it == answers_.end()) {
      return PeerReply::Text("ERR " + std::to_string(kUnknownRequest) + "\r");
    }
    return PeerReply::Text(it->second);
  }

  ScriptedPeer peer_;
  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
};

#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the peer does after it has read one request.
struct PeerReply {
  // Sent in order; none means the peer stays silent.
  std::vector<std::string> pieces;
  // Real pause before every piece after the first (the peer's own thread
  // sleeps; the client under test never depends on it beyond its time-out).
  int32_t gap_millis = 0;
  // Close the connection after the pieces (a peer that goes away mid-reply).
  bool close_after = false;

  static PeerReply Text(std::string text) {
    PeerReply reply;
    reply.pieces.push_back(std::move(text));
    return reply;
  }
  static PeerReply Silent() { return PeerReply(); }
  static PeerReply Close() {
    PeerReply reply;
    reply.close_after = true;
    return reply;
  }
};

// An in-process TCP peer on 127.0.0.1 at an ephemeral port, for testing
// clients of the UPS service. It serves connections one after another on its
// own thread, reads requests ended by CR, records them (CR included) and
// answers from a script: first the steps given to Expect, in order, then the
// handler, if any. With neither left it closes the connection, so a client
// never waits for a reply that will not come.
class ScriptedPeer {
 public:
  using Handler = std::function<PeerReply(const std::string& request)>;

  ScriptedPeer() = default;
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // Listens and starts serving. False when the socket cannot be set up.
  bool Start();
  // Stops serving and closes every socket; also done by the destructor.
  void Stop();
  uint16_t port() const { return port_; }

  // The next request must equal request (CR included); it is answered with
  // reply. A different request is recorded as a mismatch and answered the
  // same way.
  void Expect(const std::string& request, PeerReply reply);
  void Expect(const std::string& request, const std::string& reply) {
    Expect(request, PeerReply::Text(reply));
  }
  // Answers every request once the expected steps are used up.
  void SetHandler(Handler handler);
  // With false (set before Start), connections are accepted but never read,
  // so a sender's buffers fill up.
  void set_read_requests(bool read) { read_requests_ = read; }

  std::vector<std::string> requests() const;
  // One line per request that did not match its step.
  std::vector<std::string> mismatches() const;
  // Expected steps not yet reached.
  size_t pending_steps() const;
  size_t connections() const;
  // Waits (at most timeout_millis) until count requests have been recorded.
  bool WaitForRequests(size_t count, int32_t timeout_millis);

 private:
  struct Step {
    std::string request;
    PeerReply reply;
  };

  void Serve();
  // Serves one connection until it closes or the peer stops.
  void ServeConnection(int fd);
  // The reply for request, recording it.
  bool NextReply(const std::string& request, PeerReply* reply);
  // Waits for fd to become readable or the stop pipe; false on stop.
  bool WaitReadable(int fd, int32_t timeout_millis, bool* timed_out);
  bool SendAll(int fd, const std::string& bytes);

  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};
  uint16_t port_ = 0;
  bool read_requests_ = true;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Step> steps_;
  Handler handler_;
  std::vector<std::string> requests_;
  std::vector<std::string> mismatches_;
  size_t connections_ = 0;
};

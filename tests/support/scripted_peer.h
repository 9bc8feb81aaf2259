#pragma once

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
  // Pause before every piece after the first (the peer's own thread waits).
  int32_t gap_millis = 0;
  // Close the connection after the pieces (a peer that goes away).
  bool close_after = false;
};

// An in-process TCP peer on 127.0.0.1 at an ephemeral port, for testing
// clients of the UPS service. It serves connections one after another on its
// own thread, reads requests ended by CR, records them (CR included) and
// answers first with the replies given to Reply, in order, then with the
// handler. With neither left it closes the connection, so a client never
// waits for a reply that will not come.
class ScriptedPeer {
 public:
  using Handler = std::function<PeerReply(const std::string& request)>;

  ScriptedPeer() = default;
  ~ScriptedPeer() { Stop(); }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // Listens and starts serving. With read_requests false, connections are
  // accepted but never read, so a sender's buffers fill up.
  bool Start(bool read_requests = true);
  // Stops serving and closes every socket; also done by the destructor.
  void Stop();
  uint16_t port() const { return port_; }

  // Queues the answer to the next request not yet answered.
  void Reply(PeerReply reply);
  void Reply(const std::string& text) { Reply(PeerReply{{text}}); }
  void SetHandler(Handler handler);

  std::vector<std::string> requests() const;

 private:
  // Waits for events on fd (none when fd is -1) for at most timeout_millis
  // (-1: no limit); false when the peer is stopping or poll fails.
  bool Wait(int fd, int16_t events, int32_t timeout_millis);
  void Serve();
  void ServeConnection(int fd);
  bool NextReply(const std::string& request, PeerReply* reply);
  bool SendAll(int fd, const std::string& bytes);

  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};
  uint16_t port_ = 0;
  bool read_requests_ = true;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::deque<PeerReply> replies_;
  Handler handler_;
  std::vector<std::string> requests_;
};

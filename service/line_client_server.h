#pragma once

#include <poll.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "service/line_session.h"

struct LineServerConfig {
  // Connections that have not logged in are closed this long after they
  // connected, whatever they send; logged-in ones after idle_timeout_ms
  // without a request.
  int64_t login_timeout_ms = 30000;
  int64_t idle_timeout_ms = 900000;
  int32_t max_clients = 64;
  int32_t max_request_bytes = 4096;
  // What ends a request and a reply. A line feed right after a CR (a client
  // that ends lines with CR LF) is not part of the next request.
  char line_end = '\r';
};

// The clients' transport of a line protocol: accepts connections on a
// listening socket (up to a bound), reads request lines (up to a length),
// hands each to the connection's session, writes the replies without
// blocking, and closes idle, broken and finished connections. A client
// waits for its reply before its next request is read; one that hangs up
// meanwhile is closed at once (its late reply is dropped). When the bound is
// reached, the oldest connection that has not logged in makes room for the
// new one, so connections that never log in cannot lock out clients that
// do; only when every connection has logged in are new ones refused. Driven by
// the service's poll loop: AddPollFds() before poll, OnPolled() after it.
class LineClientServer final {
 public:
  // listen_fd is a non-blocking listening socket the server then owns.
  LineClientServer(const LineServerConfig& config, int listen_fd,
                   LineSessionFactory factory);
  LineClientServer(const LineClientServer&) = delete;
  LineClientServer& operator=(const LineClientServer&) = delete;
  ~LineClientServer();

  // Appends the listening socket and every client to *fds.
  void AddPollFds(int64_t now, std::vector<struct pollfd>* fds);

  // Handles what poll reported for the descriptors AddPollFds() added,
  // starting at fds[first]; then reads requests waiting in the buffers and
  // closes the connections that are done.
  void OnPolled(int64_t now, const std::vector<struct pollfd>& fds,
                size_t first);

  // Marks connections silent for too long to be closed.
  void Tick(int64_t now);

  // The next time Tick() has something to do, at most far.
  int64_t NextDeadline(int64_t now, int64_t far) const;

  // Closes every connection and the listening socket.
  void CloseAll();

  size_t client_count() const { return clients_.size(); }

 private:
  struct Client {
    int fd = -1;
    uint64_t id = 0;
    std::string in;
    std::string out;
    std::unique_ptr<LineSession> session;
    bool busy = false;     // waiting for its reply
    bool closing = false;  // close once out has been sent
    bool dead = false;     // close now
    int64_t last_activity_ms = 0;
    int64_t connected_ms = 0;
  };

  // When the client is closed for silence or for not logging in.
  int64_t Deadline(const Client& client) const;
  // Closes the oldest client that has not logged in; false when none.
  bool EvictOldestGuest();

  void Accept(int64_t now);
  void Read(Client* client, int64_t now);
  void ProcessInput(Client* client);
  void OnReply(uint64_t id, const LineReply& reply);
  void Append(Client* client, const std::string& text);
  void SendPending(Client* client);
  void Reap();

  LineServerConfig config_;
  int listen_fd_;
  LineSessionFactory factory_;
  std::map<uint64_t, std::unique_ptr<Client>> clients_;
  std::vector<uint64_t> polled_;  // client ids in the order of AddPollFds
  bool listen_polled_ = false;
  uint64_t next_client_id_ = 1;
  int64_t last_refusal_log_ms_ = -1000000;
  int64_t accept_resume_ms_ = 0;  // accepting waits until then (EMFILE)
  // Set while the server is alive; replies that arrive later are dropped.
  std::shared_ptr<LineClientServer*> self_;
};

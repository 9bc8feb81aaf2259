#pragma once

#include <functional>
#include <memory>
#include <string>

// One reply of a line protocol.
struct LineReply {
  std::string text;    // without the line end
  bool close = false;  // close the connection once it has been sent
  // The text is sent as it is, line ends included (a protocol whose replies
  // may span several lines); otherwise the line end is appended.
  bool verbatim = false;
};

// The protocol side of one client connection of LineClientServer: it gets
// one request line at a time and answers each exactly once, at once or
// later (after an agent reply). KovraRequestHandler is the kovra protocol;
// another line protocol is served by another session class beside it.
class LineSession {
 public:
  using Respond = std::function<void(const LineReply& reply)>;

  LineSession() = default;
  LineSession(const LineSession&) = delete;
  LineSession& operator=(const LineSession&) = delete;
  virtual ~LineSession() = default;

  // The connection was accepted from peer (the client's IP address as
  // text), before any request.
  virtual void OnConnected(const std::string& peer) { (void)peer; }

  // One request line, without its line end. respond must be called once;
  // it may outlive the session and then does nothing.
  virtual void HandleLine(const std::string& line, Respond respond) = 0;

  // The reply to a request longer than the server's bound; the connection
  // is closed after it.
  virtual std::string OverlongReply() const = 0;

  // True once the client has logged in: the longer idle allowance applies.
  virtual bool authenticated() const = 0;
};

// Makes the session of each new connection.
using LineSessionFactory = std::function<std::unique_ptr<LineSession>()>;

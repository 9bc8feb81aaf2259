#include "service/line_client_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A session that records its lines and answers "got LINE", or holds the
// answer back when hold is set; "bye" answers and closes, "login" logs the
// session in (authenticated logs every session in).
struct Record {
  std::vector<std::string> lines;
  std::vector<LineSession::Respond> held;
  bool hold = false;
  bool authenticated = false;
};

class RecordingSession final : public LineSession {
 public:
  explicit RecordingSession(Record* record) : record_(record) {}
  void HandleLine(const std::string& line, Respond respond) override {
    record_->lines.push_back(line);
    if (line == "login") logged_in_ = true;
    if (record_->hold) {
      record_->held.push_back(respond);
      return;
    }
    respond({"got " + line, line == "bye"});
  }
  std::string OverlongReply() const override { return "TOO LONG"; }
  bool authenticated() const override {
    return logged_in_ || record_->authenticated;
  }

 private:
  Record* record_;
  bool logged_in_ = false;
};

// The server on an ephemeral loopback port, driven from the test's thread:
// each Pump() is one bounded poll and the handling of what it reported.
class LineClientServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.max_clients = 2;
    config_.max_request_bytes = 16;
    config_.login_timeout_ms = 1000;
    config_.idle_timeout_ms = 5000;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0,
              bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, listen(fd, 16));
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    server_.reset(new LineClientServer(config_, fd, [this] {
      return std::unique_ptr<LineSession>(new RecordingSession(&record_));
    }));
  }

  void TearDown() override {
    for (int fd : clients_) close(fd);
  }

  // A connected client socket.
  int Connect() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(
        0, connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    clients_.push_back(fd);
    return fd;
  }

  void Pump(int timeout_ms = 200) {
    std::vector<struct pollfd> fds;
    server_->AddPollFds(now_, &fds);
    poll(fds.data(), fds.size(), timeout_ms);
    server_->OnPolled(now_, fds, 0);
  }

  // Pumps until the session holds that many answers back (bounded).
  bool PumpUntilHeld(size_t count) {
    for (int round = 0; round < 50 && record_.held.size() < count; ++round) {
      Pump(20);
    }
    return record_.held.size() >= count;
  }

  void Send(int fd, const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()),
              send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
  }

  // What the server sent up to the expected length, pumping it meanwhile;
  // "<closed>" appended when the server closed the connection.
  std::string Receive(int fd, size_t expected) {
    std::string got;
    for (int round = 0; round < 50 && got.size() < expected; ++round) {
      Pump(20);
      struct pollfd entry = {fd, POLLIN, 0};
      if (poll(&entry, 1, 20) <= 0) continue;
      char buffer[256];
      ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) return got + "<closed>";
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  bool Closed(int fd) { return Receive(fd, 1000) == "<closed>"; }

  LineServerConfig config_;
  uint16_t port_ = 0;
  Record record_;
  std::unique_ptr<LineClientServer> server_;
  std::vector<int> clients_;
  int64_t now_ = 1000000;
};

TEST_F(LineClientServerTest, CrLfEndedRequestsAreLinesAndRepliesKeepOneCr) {
  int fd = Connect();
  Send(fd, "A\r\nB\r");
  std::string expected = "got A\rgot B\r";
  EXPECT_EQ(expected, Receive(fd, expected.size()));
  EXPECT_EQ((std::vector<std::string>{"A", "B"}), record_.lines);
  // A CR inside a reply would end it early for the client.
  record_.hold = true;
  Send(fd, "C\r");
  ASSERT_TRUE(PumpUntilHeld(1));
  record_.held[0]({"one\rtwo\nthree"});
  expected = "one two\nthree\r";
  EXPECT_EQ(expected, Receive(fd, expected.size()));
}

TEST_F(LineClientServerTest, NextRequestWaitsForTheReplyToThePrevious) {
  record_.hold = true;
  int fd = Connect();
  Send(fd, "1\r2\r");
  ASSERT_TRUE(PumpUntilHeld(1));
  Pump(20);
  EXPECT_EQ(std::vector<std::string>{"1"}, record_.lines);
  record_.held[0]({"first"});
  record_.held[0]({"again"});  // a second answer to one request is dropped
  EXPECT_EQ("first\r", Receive(fd, 6));
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), record_.lines);
  // A held client never times out while it waits.
  now_ += config_.idle_timeout_ms * 2;
  server_->Tick(now_);
  record_.held[1]({"second"});
  EXPECT_EQ("second\r", Receive(fd, 7));
}

TEST_F(LineClientServerTest, OverlongRequestGetsTheSessionsReplyAndIsClosed) {
  int fd = Connect();
  Send(fd, std::string(16, 'x') + "\r");  // the bound itself is fine
  EXPECT_EQ("got " + std::string(16, 'x') + "\r", Receive(fd, 21));
  Send(fd, std::string(17, 'y'));
  EXPECT_EQ("TOO LONG\r<closed>", Receive(fd, 100));
  int other = Connect();
  Send(other, "bye\r");  // the session's own close
  EXPECT_EQ("got bye\r<closed>", Receive(other, 100));
}

TEST_F(LineClientServerTest, SurplusAndSilentConnectionsAreClosed) {
  int silent = Connect();
  int member = Connect();
  Pump();
  record_.authenticated = true;  // a full house of logged-in clients
  int surplus = Connect();
  EXPECT_TRUE(Closed(surplus));
  record_.authenticated = false;
  EXPECT_EQ(2u, server_->client_count());
  Send(member, "hello\r");
  EXPECT_EQ("got hello\r", Receive(member, 10));
  record_.authenticated = true;  // both sessions now, in this test
  now_ += config_.login_timeout_ms;
  server_->Tick(now_);
  EXPECT_EQ(2u, server_->client_count());
  record_.authenticated = false;
  EXPECT_EQ(now_, server_->NextDeadline(now_, now_ + 999999));
  server_->Tick(now_);
  EXPECT_TRUE(Closed(silent));
  EXPECT_TRUE(Closed(member));
  EXPECT_EQ(0u, server_->client_count());
}

TEST_F(LineClientServerTest, ReplyAfterTheServerIsGoneIsDropped) {
  record_.hold = true;
  int fd = Connect();
  Send(fd, "late\r");
  ASSERT_TRUE(PumpUntilHeld(1));
  server_.reset();
  record_.held[0]({"nobody listens"});
  SUCCEED();
}

// How many of the server's descriptors poll reports ready within the wait.
int ReadyWithin(LineClientServer* server, int64_t now, int wait_ms) {
  std::vector<struct pollfd> fds;
  server->AddPollFds(now, &fds);
  int ready = poll(fds.data(), fds.size(), wait_ms);
  server->OnPolled(now, fds, 0);
  return ready;
}

TEST_F(LineClientServerTest, BusyClientThatResetsItsConnectionDoesNotSpinPoll) {
  record_.hold = true;
  int fd = Connect();
  Send(fd, "agent\r");  // waits for the agent
  ASSERT_TRUE(PumpUntilHeld(1));
  struct linger reset = {1, 0};  // close with a reset
  ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset)));
  close(fd);
  clients_.clear();
  // The hang-up is seen once and the connection closed; after that poll
  // has nothing to report, rather than the hang-up again on every call.
  int reports = 0;
  for (int call = 0; call < 20; ++call) {
    if (ReadyWithin(server_.get(), now_, 10) > 0) ++reports;
  }
  EXPECT_LE(reports, 2);
  EXPECT_EQ(0u, server_->client_count());
  record_.held[0]({"too late"});  // dropped
  EXPECT_EQ(0u, server_->client_count());
}

TEST_F(LineClientServerTest, LoginDeadlineCountsFromTheConnectNotTheLastByte) {
  int trickler = Connect();
  Pump();
  for (int i = 0; i < 9; ++i) {  // a byte every tenth of the deadline
    now_ += config_.login_timeout_ms / 10;
    Send(trickler, "x");
    Pump(20);
    server_->Tick(now_);
  }
  EXPECT_EQ(1u, server_->client_count());
  now_ += config_.login_timeout_ms / 10;
  EXPECT_EQ(now_, server_->NextDeadline(now_, now_ + 999999));
  server_->Tick(now_);
  EXPECT_TRUE(Closed(trickler));
  // Logged in, the idle allowance counts from the last request.
  int member = Connect();
  Send(member, "login\r");
  EXPECT_EQ("got login\r", Receive(member, 10));
  now_ += config_.login_timeout_ms * 2;
  server_->Tick(now_);
  Send(member, "still here\r");
  EXPECT_EQ("got still here\r", Receive(member, 15));
}

TEST_F(LineClientServerTest, IdleConnectionsNeverLockOutAClientThatLogsIn) {
  config_.max_clients = 4;
  int listen_fd = -1;
  {
    // A server with room for four, for this test.
    listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(listen_fd, 0);
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listen_fd, reinterpret_cast<sockaddr*>(&address),
                      sizeof(address)));
    ASSERT_EQ(0, listen(listen_fd, 64));
    socklen_t length = sizeof(address);
    getsockname(listen_fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    server_.reset(new LineClientServer(config_, listen_fd, [this] {
      return std::unique_ptr<LineSession>(new RecordingSession(&record_));
    }));
  }
  int member = Connect();
  Send(member, "login\r");
  EXPECT_EQ("got login\r", Receive(member, 10));
  std::vector<int> idle;
  for (int i = 0; i < 20; ++i) {
    idle.push_back(Connect());
    Pump(5);
  }
  for (int round = 0; round < 20; ++round) Pump(5);
  EXPECT_EQ(4u, server_->client_count());
  // The newest client is served: it took the place of the oldest idle one.
  int late = Connect();
  Send(late, "login\r");
  EXPECT_EQ("got login\r", Receive(late, 10));
  EXPECT_TRUE(Closed(idle.front()));
  // The logged-in ones keep their places.
  Send(member, "ping\r");
  EXPECT_EQ("got ping\r", Receive(member, 9));
}

}  // namespace

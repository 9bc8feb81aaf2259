#include "service/line_client_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "service/diagnostics.h"

namespace {

// The connected client's IPv4 address as text, or "unknown".
std::string PeerAddress(int fd) {
  struct sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  socklen_t length = sizeof(address);
  char text[INET_ADDRSTRLEN] = {};
  if (getpeername(fd, reinterpret_cast<struct sockaddr*>(&address), &length) !=
          0 ||
      address.sin_family != AF_INET ||
      inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text)) == nullptr) {
    return "unknown";
  }
  return text;
}

}  // namespace

LineClientServer::LineClientServer(const LineServerConfig& config,
                                   int listen_fd, LineSessionFactory factory)
    : config_(config),
      listen_fd_(listen_fd),
      factory_(std::move(factory)),
      self_(std::make_shared<LineClientServer*>(this)) {}

LineClientServer::~LineClientServer() { CloseAll(); }

void LineClientServer::CloseAll() {
  for (auto& entry : clients_) close(entry.second->fd);
  clients_.clear();
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

void LineClientServer::AddPollFds(int64_t now,
                                  std::vector<struct pollfd>* fds) {
  // While out of descriptors, the listening socket is left alone for a
  // moment rather than reported readable again and again.
  listen_polled_ = listen_fd_ >= 0 && now >= accept_resume_ms_;
  fds->push_back({listen_polled_ ? listen_fd_ : -1, POLLIN, 0});
  polled_.clear();
  for (auto& entry : clients_) {
    Client* client = entry.second.get();
    short events = 0;
    if (!client->busy && client->out.empty() && !client->closing) {
      events |= POLLIN;
    }
    if (!client->out.empty()) events |= POLLOUT;
    fds->push_back({client->fd, events, 0});
    polled_.push_back(client->id);
  }
}

void LineClientServer::OnPolled(int64_t now,
                                const std::vector<struct pollfd>& fds,
                                size_t first) {
  for (size_t i = 0; i < polled_.size() && first + 1 + i < fds.size(); ++i) {
    auto found = clients_.find(polled_[i]);
    if (found == clients_.end()) continue;
    Client* client = found->second.get();
    short revents = fds[first + 1 + i].revents;
    if (revents & POLLOUT) SendPending(client);
    if (revents & (POLLIN | POLLHUP | POLLERR)) Read(client, now);
    // A hang-up or error is reported whatever was asked for: a client that
    // waits for its reply, or has nothing to read, would be reported again
    // at once on every turn. It can no longer be answered: close it.
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !client->dead &&
        (client->busy || client->closing || !client->out.empty() ||
         (revents & POLLERR))) {
      client->dead = true;
    }
  }
  if (first < fds.size() && listen_polled_ && (fds[first].revents & POLLIN)) {
    Accept(now);
  }
  // Clients whose reply arrived, or whose reply was sent, may have further
  // requests waiting in their buffers.
  Reap();
}

void LineClientServer::Reap() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    Client* client = it->second.get();
    if (!client->dead) ProcessInput(client);
    if (client->dead) {
      close(client->fd);
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

int64_t LineClientServer::Deadline(const Client& client) const {
  // The login deadline counts from the connect: a client that sends a byte
  // now and then without logging in does not keep its place.
  if (!client.session->authenticated()) {
    return client.connected_ms + config_.login_timeout_ms;
  }
  return client.last_activity_ms + config_.idle_timeout_ms;
}

void LineClientServer::Tick(int64_t now) {
  for (auto& entry : clients_) {
    Client* client = entry.second.get();
    if (!client->busy && now >= Deadline(*client)) client->dead = true;
  }
}

int64_t LineClientServer::NextDeadline(int64_t now, int64_t far) const {
  int64_t next = far;
  if (accept_resume_ms_ > now) next = std::min(next, accept_resume_ms_);
  for (const auto& entry : clients_) {
    const Client& client = *entry.second;
    if (client.busy) continue;
    next = std::min(next, Deadline(client));
  }
  return next;
}

bool LineClientServer::EvictOldestGuest() {
  // Ids grow with each connection, so the map's order is the connect order.
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->second->session->authenticated()) continue;
    close(it->second->fd);
    clients_.erase(it);
    return true;
  }
  return false;
}

void LineClientServer::Accept(int64_t now) {
  for (;;) {
    int fd =
        accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        Diag("accept failed: %s; new connections wait a second",
             std::strerror(errno));
        accept_resume_ms_ = now + 1000;
      }
      return;
    }
    if (static_cast<int32_t>(clients_.size()) >= config_.max_clients &&
        !EvictOldestGuest()) {
      close(fd);
      if (now - last_refusal_log_ms_ >= 10000) {
        Diag("too many logged-in clients (%d): refusing new connections",
             config_.max_clients);
        last_refusal_log_ms_ = now;
      }
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::unique_ptr<Client> client(new Client);
    client->fd = fd;
    client->id = next_client_id_++;
    client->last_activity_ms = now;
    client->connected_ms = now;
    client->session = factory_();
    client->session->OnConnected(PeerAddress(fd));
    clients_[client->id] = std::move(client);
  }
}

void LineClientServer::Read(Client* client, int64_t now) {
  if (client->busy || client->closing || !client->out.empty()) return;
  char buffer[4096];
  ssize_t got = recv(client->fd, buffer, sizeof(buffer), 0);
  if (got == 0) {
    client->dead = true;
    return;
  }
  if (got < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      client->dead = true;
    }
    return;
  }
  client->in.append(buffer, static_cast<size_t>(got));
  client->last_activity_ms = now;
  ProcessInput(client);
}

void LineClientServer::ProcessInput(Client* client) {
  size_t limit = static_cast<size_t>(config_.max_request_bytes);
  while (!client->busy && !client->closing && !client->dead &&
         client->out.empty()) {
    if (config_.line_end == '\r') {
      size_t start = client->in.find_first_not_of('\n');
      client->in.erase(0,
                       start == std::string::npos ? client->in.size() : start);
    }
    size_t end = client->in.find(config_.line_end);
    if ((end == std::string::npos && client->in.size() > limit) ||
        (end != std::string::npos && end > limit)) {
      client->in.clear();
      Append(client, client->session->OverlongReply());
      client->closing = true;
      SendPending(client);
      return;
    }
    if (end == std::string::npos) return;
    std::string line = client->in.substr(0, end);
    client->in.erase(0, end + 1);
    client->busy = true;
    std::weak_ptr<LineClientServer*> server = self_;
    uint64_t id = client->id;
    client->session->HandleLine(line, [server, id](const LineReply& reply) {
      std::shared_ptr<LineClientServer*> alive = server.lock();
      if (alive) (*alive)->OnReply(id, reply);
    });
  }
}

void LineClientServer::OnReply(uint64_t id, const LineReply& reply) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  Client* client = found->second.get();
  if (!client->busy) return;  // a second answer to one request
  client->busy = false;
  if (reply.verbatim) {
    client->out += reply.text;
  } else {
    Append(client, reply.text);
  }
  if (reply.close) client->closing = true;
  SendPending(client);
}

void LineClientServer::Append(Client* client, const std::string& text) {
  size_t start = client->out.size();
  client->out += text;
  // A line end inside a reply would end it early for the client.
  std::replace(client->out.begin() + static_cast<std::ptrdiff_t>(start),
               client->out.end(), config_.line_end, ' ');
  client->out += config_.line_end;
}

void LineClientServer::SendPending(Client* client) {
  while (!client->out.empty() && !client->dead) {
    ssize_t sent =
        send(client->fd, client->out.data(), client->out.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      client->out.erase(0, static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    client->dead = true;
  }
  if (client->out.empty() && client->closing) client->dead = true;
}

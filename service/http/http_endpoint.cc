#include "service/http/http_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <vector>

#include <httplib.h>

#include "common/time/clock.h"
#include "common/time/timestamp.h"
#include "service/http/bounded_task_queue.h"
#include "service/http/log_reader.h"
#include "service/http/metrics_format.h"
#include "service/http/query_params.h"
#include "service/http/status_board.h"
#include "service/http/status_json.h"
#include "service/http/status_page.h"

namespace {

constexpr char kJsonType[] = "application/json";
constexpr char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kHtmlType[] = "text/html; charset=utf-8";

// The page may load nothing from elsewhere, and talks only to its origin.
constexpr char kPagePolicy[] =
    "default-src 'none'; script-src 'unsafe-inline'; "
    "style-src 'unsafe-inline'; img-src data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

void SendJson(httplib::Response& res, int status, const std::string& body) {
  res.status = status;
  if (body.empty()) {
    // The formatter ran out of memory.
    res.status = 500;
    res.set_content(ErrorJson("internal error"), kJsonType);
    return;
  }
  res.set_content(body, kJsonType);
}

void SendError(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(ErrorJson(message), kJsonType);
}

// Refuses parameters other than `allowed` and repeated ones; false after
// writing the 400 answer.
bool CheckParams(const httplib::Request& req,
                 const std::set<std::string>& allowed, httplib::Response& res) {
  for (const auto& param : req.params) {
    if (allowed.count(param.first) == 0) {
      SendError(res, 400, "unknown parameter " + param.first);
      return false;
    }
    if (req.params.count(param.first) > 1) {
      SendError(res, 400, "parameter " + param.first + " given twice");
      return false;
    }
  }
  return true;
}

// True when address is an IPv4 address ("localhost" stands for 127.0.0.1),
// with the answer to whether it is a loopback one in *loopback.
bool ReadListenAddress(const std::string& address, std::string* host,
                       bool* loopback) {
  *host = address == "localhost" ? "127.0.0.1" : address;
  struct in_addr parsed;
  if (inet_pton(AF_INET, host->c_str(), &parsed) != 1) return false;
  *loopback = (ntohl(parsed.s_addr) >> 24) == 127;
  return true;
}

// The text of the error answers the library makes by itself.
const char* Reason(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 404:
      return "not found";
    case 413:
      return "request body too large";
    case 414:
      return "request line too long";
    case 503:
      return "service unavailable";
    default:
      return status >= 500 ? "internal error" : "request refused";
  }
}

}  // namespace

HttpEndpoint::HttpEndpoint(const StatusBoard* board, Clock* clock,
                           const std::string& database_path,
                           const Options& options)
    : board_(board),
      clock_(clock),
      database_path_(database_path),
      options_(options) {}

HttpEndpoint::~HttpEndpoint() { Stop(); }

bool HttpEndpoint::Start(const std::string& address, uint16_t port,
                         std::string* error) {
  if (server_ != nullptr) {
    *error = "the HTTP endpoint is already started";
    return false;
  }
  std::string host;
  bool loopback = false;
  if (!ReadListenAddress(address, &host, &loopback)) {
    *error = "not an IPv4 address: " + address;
    return false;
  }
  if (!loopback && !options_.allow_remote) {
    *error = "refusing to serve HTTP on " + host +
             ", which is not a loopback address (use --allow-remote)";
    return false;
  }
  try {
    server_.reset(new httplib::Server);
    httplib::Server& server = *server_;
    const size_t threads = static_cast<size_t>(std::max(options_.threads, 1));
    const size_t queued =
        static_cast<size_t>(std::max(options_.max_queued_connections, 0));
    const int niceness = options_.niceness;
    server.new_task_queue = [threads, queued, niceness] {
      return new BoundedTaskQueue(threads, queued, niceness);
    };
    server.set_address_family(AF_INET);
    // No SO_REUSEPORT (the library's default sets it): a port another
    // program listens on must be refused, not shared.
    server.set_socket_options([](socket_t sock) {
      int one = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    });
    server.set_tcp_nodelay(true);
    server.set_keep_alive_timeout(options_.keep_alive_timeout_s);
    server.set_keep_alive_max_count(
        static_cast<size_t>(std::max(options_.keep_alive_max_requests, 1)));
    server.set_read_timeout(options_.read_timeout_s, 0);
    server.set_write_timeout(options_.write_timeout_s, 0);
    server.set_payload_max_length(
        static_cast<size_t>(std::max(options_.max_body_bytes, 0)));
    AddRoutes();

    int bound = port;
    errno = 0;
    if (port == 0) {
      bound = server.bind_to_any_port(host);
    } else if (!server.bind_to_port(host, port)) {
      bound = -1;
    }
    if (bound <= 0) {
      int cause = errno;
      *error = "cannot listen for HTTP on " + host + ":" +
               std::to_string(port) + ": " +
               (cause != 0 ? std::strerror(cause) : "bind failed");
      server_.reset();
      return false;
    }
    port_ = static_cast<uint16_t>(bound);

    auto ended = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, ended, niceness] {
      // This thread serves a connection itself when the queue is full.
      BoundedTaskQueue::LowerThisThread(niceness);
      try {
        server_->listen_after_bind();
      } catch (...) {
        // Only a failed thread start of the pool gets here; the endpoint
        // then serves nothing, which Start reports.
      }
      ended->store(true);
    });
    // stop() only acts on a running server, so wait until it runs.
    for (int waited = 0; waited < 5000 && !server.is_running() && !*ended;
         ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!server.is_running() || *ended) {
      *error = "the HTTP server did not start";
      Stop();
      return false;
    }
  } catch (const std::exception& failure) {
    *error = std::string("cannot start the HTTP endpoint: ") + failure.what();
    Stop();
    return false;
  } catch (...) {
    *error = "cannot start the HTTP endpoint";
    Stop();
    return false;
  }
  return true;
}

void HttpEndpoint::Stop() {
  if (server_ != nullptr) server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
  port_ = 0;
}

StatusView HttpEndpoint::CurrentView(int64_t* now_monotonic_ms) const {
  StatusView view = board_->Copy();
  *now_monotonic_ms = clock_->MonotonicMillis();
  view.DropReadingsOlderThan(options_.max_snapshot_age_ms, *now_monotonic_ms);
  return view;
}

LogReader* HttpEndpoint::Reader() {
  std::lock_guard<std::mutex> lock(reader_mutex_);
  if (reader_ == nullptr) {
    std::string error;
    reader_ = LogReader::Open(database_path_, &error);
  }
  return reader_.get();
}

void HttpEndpoint::AddRoutes() {
  httplib::Server& server = *server_;
  server.set_default_headers(
      {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});

  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_content(kStatusPage, kStatusPageSize, kHtmlType);
  });

  server.Get("/metrics",
             [this](const httplib::Request& req, httplib::Response& res) {
               if (!CheckParams(req, {}, res)) return;
               int64_t now = 0;
               StatusView view = CurrentView(&now);
               res.set_content(FormatMetrics(view, now), kMetricsType);
             });

  server.Get("/api/status", [this](const httplib::Request& req,
                                   httplib::Response& res) {
    if (!CheckParams(req, {}, res)) return;
    int64_t now = 0;
    StatusView view = CurrentView(&now);
    SendJson(res, 200, StatusJson(view, now, Timestamp::Now().Value()));
  });

  server.Get("/api/events",
             [this](const httplib::Request& req, httplib::Response& res) {
               if (!CheckParams(req, {"limit"}, res)) return;
               int32_t limit = options_.default_events;
               std::string error;
               if (req.has_param("limit") &&
                   !ParseCountParam(req.get_param_value("limit"),
                                    options_.max_events, &limit, &error)) {
                 SendError(res, 400, error);
                 return;
               }
               LogReader* reader = Reader();
               std::vector<EventEntry> events;
               if (reader == nullptr || !reader->NewestEvents(limit, &events)) {
                 SendError(res, 503, "the event log cannot be read");
                 return;
               }
               SendJson(res, 200, EventsJson(events));
             });

  server.Get("/api/records", [this](const httplib::Request& req,
                                    httplib::Response& res) {
    if (!CheckParams(req, {"since", "limit"}, res)) return;
    int64_t since =
        Timestamp::Now().Value() / 1000 - options_.default_records_span_s;
    int32_t limit = options_.max_records;
    std::string error;
    if (req.has_param("since") &&
        !ParseTimeParam(req.get_param_value("since"), &since, &error)) {
      SendError(res, 400, error);
      return;
    }
    if (req.has_param("limit") &&
        !ParseCountParam(req.get_param_value("limit"), options_.max_records,
                         &limit, &error)) {
      SendError(res, 400, error);
      return;
    }
    LogReader* reader = Reader();
    std::vector<RecordEntry> records;
    if (reader == nullptr || !reader->RecordsSince(since, limit, &records)) {
      SendError(res, 503, "the status records cannot be read");
      return;
    }
    SendJson(res, 200, RecordsJson(records));
  });

  // Everything else, and every answer that failed without a body: a JSON
  // error with the status's reason.
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    res.set_content(ErrorJson(Reason(res.status)), kJsonType);
  });
}

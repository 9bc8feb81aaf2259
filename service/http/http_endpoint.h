#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/http/status_view.h"

class Clock;
class LogReader;
class StatusBoard;

namespace httplib {
class Server;
}

// kovrad's read-only HTTP endpoint: Prometheus metrics, the status and the
// logs as JSON, and a status page. It runs on threads of its own and reads
// only a copy of the status (from the StatusBoard) and the database through
// a read-only connection, so nothing it does waits on the service loop or
// holds it up, and nothing reachable through it changes the unit or the
// service.
//
//   GET /                       the status page (self-contained HTML)
//   GET /metrics                Prometheus text format
//   GET /api/status             the present status
//   GET /api/events?limit=N     the newest N events (default 50)
//   GET /api/records?since=T&limit=N
//                               status records since T (Unix seconds or
//                               local YYYY-MM-DDTHH:MM:SS; default the last
//                               24 hours), at most N (the newest)
//
// Bad parameters get a 400 and unknown paths a 404, both with a JSON body
// {"error": "..."}; a database that cannot be read gives a 503.
class HttpEndpoint final {
 public:
  struct Options {
    // Listening outside 127.0.0.0/8 needs this, as for the other listeners.
    bool allow_remote = false;
    // Connections are served by this many threads; further connections wait
    // in a queue of max_queued_connections, and beyond that the accepting
    // thread serves one itself, so no more are accepted meanwhile.
    int32_t threads = 4;
    int32_t max_queued_connections = 64;
    // The serving threads run this much nicer than the service, so that
    // busy HTTP clients give way to the service loop.
    int32_t niceness = 5;
    // A client that sends nothing for keep_alive_timeout_s, before its first
    // request or between two, is dropped; so is one whose single read or
    // write takes longer than its time-out.
    int32_t keep_alive_timeout_s = 2;
    int32_t keep_alive_max_requests = 100;
    int32_t read_timeout_s = 5;
    int32_t write_timeout_s = 5;
    // Requests are GETs: any body longer than this is refused.
    int32_t max_body_bytes = 1024;
    // A status snapshot older than this shows as no contact, with no values,
    // as the service's own clients see it.
    int64_t max_snapshot_age_ms = 15000;
    int32_t default_events = 50;
    int32_t max_events = 1000;
    int64_t default_records_span_s = 86400;
    int32_t max_records = 20000;
  };

  // board and clock must outlive the endpoint. database_path names the
  // service's database; it is opened read-only when first needed, so it may
  // appear after the endpoint started.
  HttpEndpoint(const StatusBoard* board, Clock* clock,
               const std::string& database_path, const Options& options);
  HttpEndpoint(const HttpEndpoint&) = delete;
  HttpEndpoint& operator=(const HttpEndpoint&) = delete;
  ~HttpEndpoint();

  // Listens on address (an IPv4 address or "localhost") and port (0 picks a
  // free port, see port()) and starts serving. False with the cause in
  // *error when the address is refused or not one, the port is taken, or the
  // threads cannot start; nothing then runs. Call at most once.
  bool Start(const std::string& address, uint16_t port, std::string* error);

  // The port listened on after a successful Start; 0 before.
  uint16_t port() const { return port_; }

  // Stops listening, lets the requests in progress finish (bounded by the
  // time-outs) and joins the threads. Safe to call more than once.
  void Stop();

 private:
  // Registers the routes on server_.
  void AddRoutes();
  // The board's view, without readings when it is too old; the clock's
  // reading in *now_monotonic_ms.
  StatusView CurrentView(int64_t* now_monotonic_ms) const;
  // The reader, opened on first use; null while the database cannot be
  // opened.
  LogReader* Reader();

  const StatusBoard* board_;
  Clock* clock_;
  std::string database_path_;
  Options options_;
  uint16_t port_ = 0;

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;

  std::mutex reader_mutex_;
  std::unique_ptr<LogReader> reader_;
};

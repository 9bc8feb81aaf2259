#include "service/http/http_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "service/database.h"
#include "service/http/log_entry.h"
#include "service/http/status_board.h"
#include "service/log_store.h"
#include "tests/service/http/view_fixture.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

using Json = nlohmann::json;

// A raw loopback connection, for what the library's client will not send.
class RawClient final {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<struct sockaddr*>(&address),
                sizeof(address)) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void Send(const std::string& bytes) {
    if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) return;
  }
  // Reads until the server closes or timeout_ms passes; true when it closed.
  bool ReadUntilClosed(int timeout_ms, std::string* received) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(timeout_ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) return false;
      struct pollfd entry = {fd_, POLLIN, 0};
      if (poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      ssize_t got = recv(fd_, buffer, sizeof(buffer), 0);
      if (got <= 0) return true;
      received->append(buffer, static_cast<size_t>(got));
    }
  }

 private:
  int fd_ = -1;
};

class HttpEndpointTest : public ::testing::Test {
 protected:
  // The fixture's view, taken half a second before the fake clock's now.
  StatusView FreshView() {
    StatusView view = OnLineView();
    view.taken_monotonic_ms = clock_.MonotonicMillis() - 500;
    return view;
  }

  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    std::string error;
    db_ = Database::Open(DatabasePath(), &error);
    ASSERT_NE(nullptr, db_) << error;
    logs_.reset(new LogStore(db_.get(), LogStore::Limits()));
    board_.Publish(FreshView());
    options_.keep_alive_timeout_s = 1;
    options_.read_timeout_s = 1;
  }

  std::string DatabasePath() const { return dir_.Join("kovrad.db"); }

  void StartEndpoint() {
    endpoint_.reset(
        new HttpEndpoint(&board_, &clock_, DatabasePath(), options_));
    std::string error;
    ASSERT_TRUE(endpoint_->Start("127.0.0.1", 0, &error)) << error;
    ASSERT_NE(0, endpoint_->port());
    client_.reset(new httplib::Client("127.0.0.1", endpoint_->port()));
    client_->set_connection_timeout(5, 0);
    client_->set_read_timeout(5, 0);
  }

  // GET path; the answer's status, body in *body and content type.
  int Get(const std::string& path, std::string* body,
          std::string* type = nullptr) {
    httplib::Result result = client_->Get(path.c_str());
    if (!result) return -1;
    *body = result->body;
    if (type != nullptr) *type = result->get_header_value("Content-Type");
    return result->status;
  }

  Json GetJson(const std::string& path, int expected_status) {
    std::string body;
    std::string type;
    EXPECT_EQ(expected_status, Get(path, &body, &type)) << path << body;
    EXPECT_EQ("application/json", type) << path;
    Json json = Json::parse(body, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << path << ": " << body;
    return json;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<LogStore> logs_;
  StatusBoard board_;
  FakeClock clock_;
  HttpEndpoint::Options options_;
  std::unique_ptr<HttpEndpoint> endpoint_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(HttpEndpointTest, ServesMetricsStatusAndPage) {
  board_.Publish(FreshView());
  StartEndpoint();

  std::string body;
  std::string type;
  ASSERT_EQ(200, Get("/metrics", &body, &type));
  EXPECT_EQ("text/plain; version=0.0.4; charset=utf-8", type);
  EXPECT_NE(std::string::npos,
            body.find("\nkovra_ups_input_voltage_volts 230.5\n"));
  EXPECT_NE(std::string::npos, body.find("\nkovra_snapshot_age_seconds 0.5\n"));

  Json status = GetJson("/api/status", 200);
  EXPECT_EQ(true, status["connected"]);
  EXPECT_DOUBLE_EQ(98.5,
                   status["values"]["battery_capacity_percent"].get<double>());

  httplib::Result page = client_->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(200, page->status);
  EXPECT_EQ("text/html; charset=utf-8", page->get_header_value("Content-Type"));
  EXPECT_NE(std::string::npos, page->get_header_value("Content-Security-Policy")
                                   .find("default-src 'none'"));
  EXPECT_NE(std::string::npos, page->body.find("<html"));
  // Self-contained: nothing is loaded from another address.
  for (const char* outside :
       {"src=\"http", "href=\"http", "url(", "@import", "//fonts", "<link"}) {
    EXPECT_EQ(std::string::npos, page->body.find(outside)) << outside;
  }
}

TEST_F(HttpEndpointTest, PublishedChangeShowsInTheNextAnswer) {
  StartEndpoint();
  StatusView view = FreshView();
  view.items[kItemPowerFail].value = 1;
  view.event_counts[4] = 4;
  board_.Publish(view);
  std::string body;
  ASSERT_EQ(200, Get("/metrics", &body));
  EXPECT_NE(std::string::npos, body.find("\nkovra_ups_on_battery 1\n"));
  EXPECT_NE(
      std::string::npos,
      body.find("kovra_events_total{code=\"4\",event=\"power_failure\"} 4\n"));
  EXPECT_EQ(true, GetJson("/api/status", 200)["on_battery"]);
}

TEST_F(HttpEndpointTest, StaleSnapshotShowsAsNoContactWithoutValues) {
  StatusView view = OnLineView();
  view.taken_monotonic_ms = clock_.MonotonicMillis() - 20000;
  board_.Publish(view);
  StartEndpoint();
  std::string body;
  ASSERT_EQ(200, Get("/metrics", &body));
  EXPECT_NE(std::string::npos, body.find("\nkovra_ups_connected 0\n"));
  EXPECT_NE(std::string::npos, body.find("\nkovra_snapshot_age_seconds 20\n"));
  EXPECT_EQ(std::string::npos, body.find("kovra_ups_input_voltage_volts"));
  Json status = GetJson("/api/status", 200);
  EXPECT_EQ(false, status["connected"]);
  EXPECT_TRUE(status["values"]["input_voltage_volts"].is_null());
  EXPECT_DOUBLE_EQ(20, status["snapshot"]["age_seconds"].get<double>());
}

TEST_F(HttpEndpointTest, EventsAndRecordsComeFromTheDatabase) {
  ASSERT_TRUE(logs_->Append(kEventLog, "2026/12/01 10:00:00 0"));
  ASSERT_TRUE(logs_->Append(kEventLog, "2026/12/01 10:00:05 3"));
  ASSERT_TRUE(logs_->Append(kEventLog, "damaged"));
  ASSERT_TRUE(logs_->Append(kEventLog, "2026/12/01 11:00:00 4"));
  ASSERT_TRUE(
      logs_->Append(kStatusRecordLog,
                    "2026/12/01 10:00:00 23000 23000 10000 3000 5000 3000"));
  ASSERT_TRUE(
      logs_->Append(kStatusRecordLog,
                    "2026/12/01 10:01:00 23100 23000 10000 3100 5000 3000"));
  ASSERT_TRUE(logs_->Append(kStatusRecordLog,
                            "2026/12/01 10:02:00 0 23000 9900 3200 5000 3000"));
  StartEndpoint();

  Json events = GetJson("/api/events?limit=2", 200);
  ASSERT_EQ(1u, events.size()) << "the damaged entry is one of the two newest";
  EXPECT_EQ(4, events[0]["code"].get<int>());
  events = GetJson("/api/events", 200);
  ASSERT_EQ(3u, events.size());
  EXPECT_EQ(0, events[0]["code"].get<int>());
  EXPECT_EQ("UPS power failure.", events[2]["text"]);

  Json records = GetJson("/api/records?since=2026-12-01T10:01:00", 200);
  ASSERT_EQ(2u, records.size());
  EXPECT_DOUBLE_EQ(231, records[0]["input_voltage_volts"].get<double>());
  EXPECT_DOUBLE_EQ(99, records[1]["battery_capacity_percent"].get<double>());
  std::string since = std::to_string(records[0]["time"].get<int64_t>() - 60);
  EXPECT_EQ(3u, GetJson("/api/records?since=" + since, 200).size());
  records = GetJson("/api/records?since=0&limit=1", 200);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("2026-12-01T10:02:00", records[0]["local_time"]);
  EXPECT_EQ(0u, GetJson("/api/records?since=2030-01-01T00:00:00", 200).size());
}

TEST_F(HttpEndpointTest, BadParametersGet400WithJsonError) {
  StartEndpoint();
  for (const char* path :
       {"/api/events?limit=0", "/api/events?limit=abc",
        "/api/events?limit=1001", "/api/events?limit=5&limit=6",
        "/api/events?count=5", "/api/records?since=yesterday",
        "/api/records?since=-1", "/api/records?since=0&limit=0", "/metrics?x=1",
        "/api/status?x=1"}) {
    Json json = GetJson(path, 400);
    EXPECT_TRUE(json["error"].is_string()) << path;
  }
}

TEST_F(HttpEndpointTest, UnknownPathsAndMethodsGet404WithJsonError) {
  StartEndpoint();
  EXPECT_EQ("not found", GetJson("/nothing", 404)["error"]);
  EXPECT_EQ("not found", GetJson("/api/status/extra", 404)["error"]);
  httplib::Result post = client_->Post("/api/status", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(404, post->status);
  httplib::Result del = client_->Delete("/api/events");
  ASSERT_TRUE(del);
  EXPECT_EQ(404, del->status);
}

TEST_F(HttpEndpointTest, MissingDatabaseGives503UntilItExists) {
  TempDir other;
  endpoint_.reset(
      new HttpEndpoint(&board_, &clock_, other.Join("later.db"), options_));
  std::string error;
  ASSERT_TRUE(endpoint_->Start("127.0.0.1", 0, &error)) << error;
  client_.reset(new httplib::Client("127.0.0.1", endpoint_->port()));
  EXPECT_TRUE(GetJson("/api/events", 503)["error"].is_string());
  std::string body;
  EXPECT_EQ(200, Get("/metrics", &body)) << "metrics need no database";
  std::unique_ptr<Database> later =
      Database::Open(other.Join("later.db"), &error);
  ASSERT_NE(nullptr, later);
  EXPECT_EQ(0u, GetJson("/api/events", 200).size());
}

TEST_F(HttpEndpointTest, RefusesNonLoopbackAddressWithoutPermission) {
  HttpEndpoint endpoint(&board_, &clock_, DatabasePath(), options_);
  std::string error;
  EXPECT_FALSE(endpoint.Start("0.0.0.0", 0, &error));
  EXPECT_NE(std::string::npos, error.find("--allow-remote")) << error;
  EXPECT_FALSE(endpoint.Start("::1", 0, &error));
  EXPECT_NE(std::string::npos, error.find("not an IPv4 address")) << error;
  EXPECT_EQ(0, endpoint.port());
  EXPECT_TRUE(endpoint.Start("localhost", 0, &error)) << error;
}

TEST_F(HttpEndpointTest, TakenPortIsRefusedWithTheCause) {
  StartEndpoint();
  HttpEndpoint second(&board_, &clock_, DatabasePath(), options_);
  std::string error;
  EXPECT_FALSE(second.Start("127.0.0.1", endpoint_->port(), &error));
  EXPECT_NE(std::string::npos, error.find("Address already in use")) << error;
  EXPECT_NE(std::string::npos,
            error.find("127.0.0.1:" + std::to_string(endpoint_->port())));
  std::string body;
  EXPECT_EQ(200, Get("/metrics", &body)) << "the first one still serves";
}

TEST_F(HttpEndpointTest, ClientThatSendsNothingIsDropped) {
  StartEndpoint();
  RawClient silent(endpoint_->port());
  ASSERT_TRUE(silent.ok());
  std::string received;
  // Dropped after the one-second keep-alive time-out; the bound is generous.
  EXPECT_TRUE(silent.ReadUntilClosed(10000, &received));
  EXPECT_EQ("", received);
}

TEST_F(HttpEndpointTest, OversizedRequestsAreRefused) {
  StartEndpoint();
  {
    RawClient client(endpoint_->port());
    ASSERT_TRUE(client.ok());
    client.Send("GET /metrics HTTP/1.1\r\nHost: x\r\nX-Long: " +
                std::string(20000, 'a') + "\r\n\r\n");
    std::string received;
    EXPECT_TRUE(client.ReadUntilClosed(10000, &received));
    EXPECT_EQ(std::string::npos, received.find("200 OK")) << received;
  }
  {
    RawClient client(endpoint_->port());
    ASSERT_TRUE(client.ok());
    client.Send(
        "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n"
        "Connection: close\r\n\r\n" +
        std::string(5000, 'b'));
    std::string received;
    EXPECT_TRUE(client.ReadUntilClosed(10000, &received));
    EXPECT_NE(std::string::npos, received.find(" 413 ")) << received;
  }
  std::string body;
  EXPECT_EQ(200, Get("/metrics", &body)) << "still serving";
}

TEST_F(HttpEndpointTest, StopEndsServingAndCanRepeat) {
  StartEndpoint();
  uint16_t port = endpoint_->port();
  endpoint_->Stop();
  endpoint_->Stop();
  EXPECT_EQ(0, endpoint_->port());
  RawClient client(port);
  EXPECT_FALSE(client.ok());
}

}  // namespace

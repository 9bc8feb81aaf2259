// kovrad's HTTP endpoint on a loopback port: the latency of one GET of
// /metrics and of /api/status over a kept-alive connection, with a view as a
// connected unit reports it; and the same while 100 other clients scrape
// /metrics as fast as they can. Counters: median and 99th percentile in
// microseconds. Target: median under 2 ms.
//
// Run: build/<dir>/bench/http_endpoint_bench

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "benchmark/benchmark.h"
#include "common/time/system_clock.h"
#include "common/time/timestamp.h"
#include "service/database.h"
#include "service/http/http_endpoint.h"
#include "service/http/status_board.h"
#include "tests/support/temp_dir.h"

namespace {

// The view is published once, so it must not turn stale while this runs.
HttpEndpoint::Options StillOptions() {
  HttpEndpoint::Options options;
  options.max_snapshot_age_ms = int64_t{1} << 50;
  return options;
}

StatusView ConnectedView() {
  StatusView view;
  view.valid = true;
  view.taken_monotonic_ms = SystemClock::Instance()->MonotonicMillis();
  view.taken_unix_ms = Timestamp::Now().Value();
  const int32_t values[kStatusItemCount] = {
      23050, 22990, 9850, 3725, 3120, 5005, 1380, 0, 0, 0, 1};
  for (int32_t item = 0; item < kStatusItemCount; ++item) {
    view.items[item] = {true, values[item], 0};
  }
  view.model = "Model 1500";
  view.firmware = "2.0b";
  return view;
}

// One endpoint over an empty database for the whole program.
struct Fixture {
  Fixture() {
    std::string error;
    db = Database::Open(dir.Join("kovrad.db"), &error);
    board.Publish(ConnectedView());
    endpoint.reset(new HttpEndpoint(&board, SystemClock::Instance(),
                                    dir.Join("kovrad.db"), StillOptions()));
    started = endpoint->Start("127.0.0.1", 0, &error);
  }
  TempDir dir;
  std::unique_ptr<Database> db;
  StatusBoard board;
  std::unique_ptr<HttpEndpoint> endpoint;
  bool started = false;
};

Fixture& Shared() {
  static Fixture* fixture = new Fixture;
  return *fixture;
}

void Report(benchmark::State& state, std::vector<double>* micros) {
  if (micros->empty()) return;
  std::sort(micros->begin(), micros->end());
  state.counters["median_us"] = (*micros)[micros->size() / 2];
  state.counters["p99_us"] = (*micros)[micros->size() * 99 / 100];
}

void Scrape(benchmark::State& state, const char* path, int background) {
  Fixture& fixture = Shared();
  if (!fixture.started) {
    state.SkipWithError("the endpoint did not start");
    return;
  }
  const uint16_t port = fixture.endpoint->port();
  std::atomic<bool> stop(false);
  std::vector<std::thread> scrapers;
  for (int i = 0; i < background; ++i) {
    scrapers.emplace_back([port, &stop] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      while (!stop) client.Get("/metrics");
    });
  }
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_read_timeout(10, 0);
  std::vector<double> micros;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    httplib::Result result = client.Get(path);
    auto end = std::chrono::steady_clock::now();
    if (!result || result->status != 200) {
      state.SkipWithError("request failed");
      break;
    }
    micros.push_back(
        std::chrono::duration<double, std::micro>(end - start).count());
  }
  stop = true;
  for (std::thread& scraper : scrapers) scraper.join();
  Report(state, &micros);
}

void BM_Metrics(benchmark::State& state) { Scrape(state, "/metrics", 0); }
void BM_Status(benchmark::State& state) { Scrape(state, "/api/status", 0); }
void BM_StatusWhile100Scrape(benchmark::State& state) {
  Scrape(state, "/api/status", 100);
}

BENCHMARK(BM_Metrics)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Status)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_StatusWhile100Scrape)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(300);

}  // namespace

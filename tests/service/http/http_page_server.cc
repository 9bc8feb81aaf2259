// A stand-alone HTTP endpoint over a temporary database filled with a day
// of status records and a power failure, for checking the status page in a
// browser (tests/e2e/http_page_check.py). Prints "port N" once it listens
// and serves until its standard input closes.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "common/time/system_clock.h"
#include "common/time/timestamp.h"
#include "service/database.h"
#include "service/http/http_endpoint.h"
#include "service/http/log_entry.h"
#include "service/http/status_board.h"
#include "service/log_store.h"
#include "tests/support/temp_dir.h"

namespace {

// The view is published once, so it must not turn stale while this runs.
HttpEndpoint::Options StillOptions() {
  HttpEndpoint::Options options;
  options.max_snapshot_age_ms = int64_t{1} << 50;
  return options;
}

constexpr int64_t kRecordEvery = 60;
constexpr int64_t kDay = 86400;

void FillLogs(LogStore* logs, int64_t now) {
  const int64_t start = now - kDay;
  // The utility fails for twelve minutes three hours ago.
  const int64_t fail_from = now - 3 * 3600, fail_to = fail_from + 12 * 60;
  logs->Append(kEventLog, EntryTimeText(start) + " 0");
  logs->Append(kEventLog, EntryTimeText(start + 5) + " 3");
  int32_t capacity = 10000;
  for (int64_t t = start; t <= now; t += kRecordEvery) {
    double hour = static_cast<double>(t % kDay) / 3600.0;
    int32_t load =
        static_cast<int32_t>(3200 + 900 * std::sin(hour / 24.0 * 2 * M_PI) +
                             250 * std::sin(static_cast<double>(t) / 700.0));
    int32_t in =
        static_cast<int32_t>(23000 + 250 * std::sin(hour * 1.7) +
                             80 * std::cos(static_cast<double>(t) / 300.0));
    bool failed = t >= fail_from && t < fail_to;
    if (failed) {
      in = 0;
      capacity -= 450;
    } else if (capacity < 10000) {
      capacity = std::min(10000, capacity + 60);
    }
    int32_t out = failed ? 22000 : 22900 + (in - 23000) / 10;
    logs->Append(kStatusRecordLog, EntryTimeText(t) + " " + std::to_string(in) +
                                       " " + std::to_string(out) + " " +
                                       std::to_string(capacity) + " " +
                                       std::to_string(load) + " 5000 " +
                                       std::to_string(3050 + load / 40));
    if (t <= fail_from && t + kRecordEvery > fail_from) {
      logs->Append(kEventLog, EntryTimeText(fail_from) + " 4");
    }
    if (t <= fail_to && t + kRecordEvery > fail_to) {
      logs->Append(kEventLog, EntryTimeText(fail_to) + " 5");
    }
  }
}

}  // namespace

int main() {
  TempDir dir;
  std::string error;
  std::unique_ptr<Database> db = Database::Open(dir.Join("kovrad.db"), &error);
  if (db == nullptr) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  LogStore logs(db.get(), LogStore::Limits());
  const int64_t now = Timestamp::Now().Value() / 1000;
  FillLogs(&logs, now);

  StatusBoard board;
  StatusView view;
  view.valid = true;
  view.taken_monotonic_ms = SystemClock::Instance()->MonotonicMillis();
  view.taken_unix_ms = Timestamp::Now().Value();
  const int32_t values[kStatusItemCount] = {
      23040, 22910, 9700, 3480, 3140, 5000, 2460, 0, 0, 0, 1};
  for (int32_t item = 0; item < kStatusItemCount; ++item) {
    view.items[item] = {true, values[item], 0};
  }
  view.model = "Model 1500";
  view.firmware = "2.0b";
  view.ratings[kRatingOutputVoltage] = {true, 23000, 0};
  view.event_counts[4] = 1;
  view.event_counts[5] = 1;
  board.Publish(view);

  HttpEndpoint endpoint(&board, SystemClock::Instance(), dir.Join("kovrad.db"),
                        StillOptions());
  if (!endpoint.Start("127.0.0.1", 0, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("port %u\n", static_cast<unsigned>(endpoint.port()));
  std::fflush(stdout);
  char buffer[256];
  while (read(STDIN_FILENO, buffer, sizeof(buffer)) > 0) {
  }
  endpoint.Stop();
  return 0;
}

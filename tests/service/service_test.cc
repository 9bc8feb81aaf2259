#include "service/service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/time/clock.h"
#include "service/database.h"
#include "service/log_store.h"
#include "service/parameter_store.h"
#include "tests/support/fake_agent.h"
#include "tests/support/fake_clock.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    OpenStores();
    config_.listen_port = 0;
    config_.nut.listen.enabled = false;
    // The pass counts below assume these.
    config_.poll_period_ms = 3000;
    config_.thresholds.confirm_passes = 2;
    const char* const kScript[][2] = {
        {"S0", "22000"}, {"S1", "22400"}, {"S2", "10000"}, {"S3", "3500"},
        {"S4", "3000"},  {"S5", "5000"},  {"S6", "125"},   {"S7", "0"},
        {"S8", "0"},     {"S9", "0"},     {"S12", "1"},    {"R22", "2"}};
    for (const auto& entry : kScript) agent_.SetValue(entry[0], entry[1]);
  }

  void TearDown() override { StopService(); }

  void OpenStores() {
    logs_.reset();
    params_.reset();
    db_.reset();
    std::string error;
    db_ = Database::Open(dir_.Join("kovrad.db"), &error);
    ASSERT_TRUE(db_) << error;
    params_.reset(new ParameterStore(db_.get()));
    ASSERT_TRUE(params_->Load());
    logs_.reset(new LogStore(db_.get(), LogStore::Limits()));
  }

  void StartService() {
    service_.reset(
        new Service(config_, &agent_, &clock_, params_.get(), logs_.get()));
    if (retry_database_) service_->SetDatabase(db_.get());
    std::string error;
    ASSERT_TRUE(service_->Listen(&error)) << error;
    thread_ = std::thread([this] { service_->Run(); });
  }

  void StopService() {
    if (!service_) return;
    service_->Stop();
    thread_.join();
    service_.reset();
  }

  void Advance(int64_t millis) {
    clock_.Advance(millis);
    service_->Wake();
  }

  void ConnectAndLogin(ServiceClient* client) {
    ASSERT_TRUE(client->Connect(service_->port()));
    ASSERT_TRUE(client->Login());
  }

  // Starts the service, connects client_ and waits until the first poll
  // pass is in.
  void StartReady() {
    StartService();
    ConnectReady(&client_);
  }

  // Connects, logs in and waits until the first poll pass is in.
  void ConnectReady(ServiceClient* client) {
    ConnectAndLogin(client);
    ASSERT_TRUE(Eventually(
        [&] { return client->Transact("DEV STATUS_CONNECT") == "1"; }));
  }

  // Moves the clock by one poll period and waits until the pass it starts
  // has been asked of the agent.
  void NextPass() {
    int32_t passes = agent_.CountOf("R22");
    Advance(config_.poll_period_ms);
    ASSERT_TRUE(agent_.WaitForCommand("R22", passes + 1, 5000));
  }

  // Sends each request in turn and checks its reply.
  void ExpectReplies(ServiceClient* client,
                     std::vector<std::pair<std::string, std::string>> pairs) {
    for (const auto& pair : pairs) {
      EXPECT_EQ(pair.second, client->Transact(pair.first)) << pair.first;
    }
  }

  void SetParameter(ParameterSpace space, const char* key, const char* value) {
    ASSERT_EQ(0, params_->Set(space, key, value)) << key;
  }

  // Every entry of a list, oldest first, paged through client_ the way kovra
  // pages: each reply is the next key, then the page's entries one per line.
  std::vector<std::string> ReadList(int32_t list) {
    std::vector<std::string> all;
    std::string prefix = "LOG PRV " + std::to_string(list) + " ";
    std::string key = client_.Transact("LOG KEY " + std::to_string(list));
    for (int32_t pages = 0; pages < 10000; ++pages) {
      std::istringstream reply(client_.Transact(prefix + key));
      std::getline(reply, key);
      std::vector<std::string> page;
      for (std::string line; std::getline(reply, line);) page.push_back(line);
      if (page.empty()) break;
      all.insert(all.begin(), page.begin(), page.end());
    }
    return all;
  }

  TempDir dir_;
  bool retry_database_ = false;  // the service retries and flushes db_
  std::unique_ptr<Database> db_;
  std::unique_ptr<ParameterStore> params_;
  std::unique_ptr<LogStore> logs_;
  ServiceConfig config_;
  FakeAgent agent_;
  FakeClock clock_;
  std::unique_ptr<Service> service_;
  std::thread thread_;
  ServiceClient client_;
};

// The login rules themselves are KovraRequestHandler's; this checks that
// the transport closes the connection the handler gave up on.
TEST_F(ServiceTest, ThirdFailedLoginClosesTheConnection) {
  StartService();
  ASSERT_TRUE(client_.Connect(service_->port()));
  EXPECT_EQ("ERR 3", client_.Transact("DEV STATUS_INVOLT"));
  EXPECT_EQ("ERR 3", client_.Transact("USR PASS quiet gate"));  // no name yet
  EXPECT_EQ("ERR 3", client_.Transact("USR NAME Manager"));
  EXPECT_TRUE(client_.WaitClosed());
  ConnectAndLogin(&client_);
  EXPECT_EQ("1", client_.Transact("PTC powerfail.shutdown.happen.max count"));
}
TEST_F(ServiceTest, SnapshotIsServedWhileTheAgentIsBusy) {
  agent_.SetValue("R12", "Slow Unit");
  agent_.Hold("R12");
  StartService();
  ServiceClient waiting;
  ConnectReady(&waiting);
  ServiceClient other;
  ConnectAndLogin(&other);

  ASSERT_TRUE(waiting.SendRaw("DEV PROP_MODEL\r"));
  ASSERT_TRUE(agent_.WaitForCommand("R12", 1, 5000));
  EXPECT_EQ("22000", other.Transact("DEV STATUS_INVOLT", 2000));
  EXPECT_EQ("2", other.Transact("DEV PROP_PORTTYPE", 2000));
  EXPECT_EQ("1", other.Transact("POL service.buzzer on", 2000));
  agent_.Release();
  EXPECT_EQ("Slow Unit", waiting.ReadReply());
}

TEST_F(ServiceTest, OldSnapshotAnswersNotInContact) {
  StartReady();
  agent_.Hold("S0");
  Advance(config_.poll_period_ms);
  ASSERT_TRUE(agent_.WaitForCommand("S0", 2, 5000));
  EXPECT_EQ("22000", client_.Transact("DEV STATUS_INVOLT"));
  Advance(config_.snapshot_max_age_ms + 1 - config_.poll_period_ms);
  EXPECT_TRUE(Eventually(
      [&] { return client_.Transact("DEV STATUS_INVOLT") == "ERR 8"; }));
  agent_.Release();
  EXPECT_TRUE(Eventually(
      [&] { return client_.Transact("DEV STATUS_INVOLT") == "22000"; }));
}

// Back-off and reply bounds are AgentLink's; this checks that a waiting
// client hears of a broken agent and that the loop restarts it.
TEST_F(ServiceTest, WaitingClientGetsErr8AndTheBrokenAgentIsRestarted) {
  StartReady();
  agent_.Hold("R13");
  ASSERT_TRUE(client_.SendRaw("DEV PROP_FWVER\r"));
  ASSERT_TRUE(agent_.WaitForCommand("R13", 1, 5000));
  Advance(config_.agent_reply_timeout_ms);
  EXPECT_EQ("ERR 8", client_.ReadReply());
  EXPECT_EQ("ERR 8", client_.Transact("DEV PROP_FWVER"));  // still down
  Advance(config_.restart_backoff_min_ms);
  ASSERT_TRUE(agent_.WaitForStarts(2, 5000));
  agent_.SetReply("R13", FakeAgent::kExit);
  EXPECT_EQ("ERR 8", client_.Transact("DEV PROP_FWVER"));
  Advance(2 * config_.restart_backoff_min_ms);
  ASSERT_TRUE(agent_.WaitForStarts(3, 5000));
}
// Validation is KovraRequestHandler's and ParameterStore's; this checks
// that changes reach the database and the next agent start.
TEST_F(ServiceTest, ParametersSurviveARestart) {
  StartService();
  ConnectAndLogin(&client_);
  ExpectReplies(&client_, {{"POL service.record rate=0", "ERR 4"},
                           {"PTC powerfail.shutdown.happen.delay=45", "OK"},
                           {"POL service.record rate=30", "OK"},
                           {"POL service.media index=1", "OK"},
                           {"POL service.media type=2", "OK"}});
  StopService();
  OpenStores();
  StartService();
  ConnectAndLogin(&client_);
  EXPECT_EQ("30", client_.Transact("POL service.record rate"));
  EXPECT_EQ("45", client_.Transact("PTC powerfail.shutdown.happen.delay"));
  EXPECT_EQ("1", client_.Transact("POL service.buzzer on"));
  ASSERT_TRUE(agent_.WaitForStarts(2, 5000));
  EXPECT_EQ(std::make_pair(1, 0), agent_.Starts()[0]);
  EXPECT_EQ(std::make_pair(2, 1), agent_.Starts()[1]);
}
TEST_F(ServiceTest, MediaChangeSendsC4AndForgetsCachedProperties) {
  agent_.SetValue("R12", "Unit A");
  agent_.SetReply("C4 2 3", "C4E 20");
  agent_.SetReply("W7 0", "W7");
  StartReady();
  EXPECT_EQ("Unit A", client_.Transact("DEV PROP_MODEL"));
  EXPECT_EQ("Unit A", client_.Transact("DEV PROP_MODEL"));
  EXPECT_EQ(1, agent_.CountOf("R12"));
  // Another port may lead to another unit.
  agent_.SetValue("R12", "Unit B");
  EXPECT_EQ("OK", client_.Transact("POL service.media index=3"));
  EXPECT_TRUE(agent_.WaitForCommand("C4 1 3", 1, 5000));
  EXPECT_EQ("Unit B", client_.Transact("DEV PROP_MODEL"));
  EXPECT_EQ("OK", client_.Transact("POL service.media type=2"));
  EXPECT_TRUE(agent_.WaitForCommand("C4 2 3", 1, 5000));
  EXPECT_EQ("OK", client_.Transact("POL service.buzzer on=0"));
  EXPECT_TRUE(agent_.WaitForCommand("W7 0", 1, 5000));
  // Error 20 is the agent looking for its unit, not a broken agent.
  EXPECT_EQ(1u, agent_.Starts().size());
}

// The view's formats are the HTTP tests'; this checks what the loop puts on
// the board: every pass, the unit's texts and ratings (asked by the service
// itself), the agent's restarts and the events counted as they are logged.
TEST_F(ServiceTest, HttpBoardGetsEveryPassWithPropertiesAndEventCounts) {
  config_.http.listen = {true, "127.0.0.1", 0};
  agent_.SetValue("R12", "Unit A");
  agent_.SetValue("R13", "1.07");
  const char* const kRatings[][2] = {
      {"R16", "23000"}, {"R17", "4500"}, {"R18", "5500"}, {"R19", "100000"}};
  for (const auto& rating : kRatings) agent_.SetValue(rating[0], rating[1]);
  agent_.SetReply("R20", "R20E 3");  // a unit without a power rating
  StartReady();
  const StatusBoard* board = service_->status_board();
  // The pass that confirms contact asks for the properties; the next one
  // shows them.
  NextPass();
  NextPass();
  StatusView view;
  ASSERT_TRUE(Eventually([&] {
    view = board->Copy();
    return view.ratings[kRatingApparentPower].present;
  }));
  EXPECT_TRUE(view.Connected());
  int32_t value = 0;
  EXPECT_TRUE(view.Get(kItemInputVoltage, &value));
  EXPECT_EQ(22000, value);
  EXPECT_EQ("1.07", view.firmware);
  EXPECT_EQ(23000, view.ratings[kRatingOutputVoltage].value);
  EXPECT_EQ(100000, view.ratings[kRatingApparentPower].value);
  EXPECT_FALSE(view.ratings[kRatingPower].present);
  EXPECT_EQ(1, view.event_counts[kEventServiceStarted]);
  EXPECT_EQ(0, view.agent_restarts);
  // Asked once per contact, not every pass.
  EXPECT_EQ(1, agent_.CountOf("R20"));

  agent_.SetValue("S7", "1");
  NextPass();
  NextPass();
  EXPECT_TRUE(Eventually([&] {
    view = board->Copy();
    return view.event_counts[kEventPowerFailure] == 1 &&
           view.Flag(kItemPowerFail);
  }));
  EXPECT_EQ(1, agent_.CountOf("R20"));
}

TEST_F(ServiceTest, HttpBoardStaysEmptyAndNothingIsAskedWithoutHttp) {
  StartReady();
  NextPass();
  NextPass();
  EXPECT_FALSE(service_->status_board()->Copy().valid);
  EXPECT_EQ(0, agent_.CountOf("R12"));
}

TEST_F(ServiceTest, OverlongRequestGetsErr12AndIsClosed) {
  StartService();
  ConnectAndLogin(&client_);
  EXPECT_EQ("ERR 1", client_.Transact(std::string(4096, 'B')));  // the bound
  ASSERT_TRUE(client_.SendRaw(std::string(4097, 'A')));
  EXPECT_EQ("ERR 12", client_.ReadReply());
  EXPECT_TRUE(client_.WaitClosed());
}

TEST_F(ServiceTest, SilentAndSurplusConnectionsAreClosed) {
  config_.max_clients = 2;
  StartService();
  ServiceClient silent;
  ASSERT_TRUE(silent.Connect(service_->port()));
  ServiceClient member;
  ConnectAndLogin(&member);
  // The oldest connection that has not logged in makes room for the new
  // one; the logged-in client keeps its place.
  ServiceClient surplus;
  ASSERT_TRUE(surplus.Connect(service_->port()));
  EXPECT_TRUE(silent.WaitClosed());

  Advance(config_.login_timeout_ms);
  EXPECT_TRUE(surplus.WaitClosed());
  // The logged-in client has a longer allowance.
  EXPECT_EQ("1", member.Transact("POL service.buzzer on"));
}

TEST_F(ServiceTest, ManyClientsAreServedCorrectlyBesideHostileOnes) {
  agent_.SetValue("R12", "Model X");
  agent_.SetValue("R0 0", "264");
  StartReady();
  // Hostile neighbours: a request that never ends, a silent connection, a
  // megabyte without CR, and binary noise.
  ServiceClient unfinished;
  ASSERT_TRUE(unfinished.Connect(service_->port()));
  ASSERT_TRUE(unfinished.SendRaw("USR NAME mana"));
  ServiceClient silent;
  ASSERT_TRUE(silent.Connect(service_->port()));
  ServiceClient flood;
  ASSERT_TRUE(flood.Connect(service_->port()));
  ServiceClient noise;
  ASSERT_TRUE(noise.Connect(service_->port()));

  const int kClients = 50;
  const int kRequests = 1000;
  const char* const kCases[][2] = {
      {"DEV STATUS_INVOLT", "22000"}, {"POL service.record rate", "60"},
      {"DEV PROP_MODEL", "Model X"},  {"DEV STATUS_CONNECT", "1"},
      {"DEV PROP_INPUTHI", "264"},  // not cached: through the agent each time
  };
  std::atomic<int> wrong{0};
  std::atomic<int> done{0};
  std::vector<std::thread> workers;
  for (int c = 0; c < kClients; ++c) {
    workers.emplace_back([&, c] {
      ServiceClient worker;
      if (!worker.Connect(service_->port()) || !worker.Login()) {
        wrong += kRequests;
        return;
      }
      for (int i = 0; i < kRequests; ++i) {
        const auto& entry = kCases[(c + i) % 5];
        if (worker.Transact(entry[0], 20000) != entry[1]) ++wrong;
      }
      ++done;
    });
  }
  bool flood_sent = flood.SendRaw(std::string(1 << 20, 'x'));
  std::string noise_bytes;
  for (int i = 0; i < 3; ++i)
    noise_bytes += std::string("\x00\xff\x1b[2J\r", 7);
  ASSERT_TRUE(noise.SendRaw(noise_bytes));
  for (std::thread& worker : workers) worker.join();

  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(kClients, done.load());
  // The flood was cut off with ERR 12 (the send itself may have failed
  // once the service closed the connection).
  if (flood_sent) {
    EXPECT_EQ("ERR 12", flood.ReadReply());
  }
  EXPECT_TRUE(flood.WaitClosed());
  // Three bad requests before login close the connection.
  for (int i = 0; i < 3; ++i) EXPECT_EQ("ERR 3", noise.ReadReply());
  EXPECT_TRUE(noise.WaitClosed());
  // The slow ones are still there and can finish their requests.
  ASSERT_TRUE(unfinished.SendRaw("ger\r"));
  EXPECT_EQ("OK", unfinished.ReadReply());
  EXPECT_EQ("ERR 3", silent.Transact("DEV STATUS_INVOLT"));
}

TEST_F(ServiceTest, LowBatteryRunsTheSaveHooksThenShutsDownAtOnce) {
  std::string hooks = dir_.Join("hooks");
  ASSERT_EQ(0, mkdir(hooks.c_str(), 0755));
  std::string hook = hooks + "/10-editor";
  FILE* file = fopen(hook.c_str(), "w");
  ASSERT_NE(nullptr, file);
  fputs("#!/bin/sh\nprintf 'editor\\t/home/a/notes.txt\\n'\n", file);
  fclose(file);
  ASSERT_EQ(0, chmod(hook.c_str(), 0755));
  config_.save_hooks_dir = hooks;
  SetParameter(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "1");
  SetParameter(ParameterSpace::kPol, kKeyAutoSave, "1");
  // A unit without the shutdown-and-restore command gets the plain one.
  agent_.SetReply("C1 120 60", "C1E 1");
  agent_.SetReply("C2 120", "C2");
  StartReady();
  agent_.SetValue("S7", "1");
  agent_.SetValue("S8", "1");
  NextPass();
  NextPass();
  ASSERT_TRUE(agent_.WaitForCommand("C1 120 60", 1, 10000));
  EXPECT_TRUE(agent_.WaitForCommand("C2 120", 1, 5000));
  // The hooks had finished before the unit was told.
  EXPECT_EQ(std::vector<std::string>{"editor\t/home/a/notes.txt"},
            ReadList(kSavedFileLog));
}

TEST_F(ServiceTest, WithoutTheDatabaseStatusIsServedAndItsReturnLoadsSettings) {
  // The state path lies under a regular file: no database can be made.
  std::string state = dir_.Join("state");
  FILE* blocker = fopen(state.c_str(), "w");
  ASSERT_NE(nullptr, blocker);
  fclose(blocker);
  Database::Options options;
  options.retry_ms = 1000;
  logs_.reset();
  params_.reset();
  db_ = Database::OpenOrUnavailable(state + "/kovrad.db", options,
                                    clock_.MonotonicMillis());
  ASSERT_FALSE(db_->Available());
  params_.reset(new ParameterStore(db_.get()));
  logs_.reset(new LogStore(db_.get(), LogStore::Limits()));
  retry_database_ = true;
  StartReady();
  ExpectReplies(&client_, {{"DEV STATUS_INVOLT", "22000"},
                           {"POL service.record rate", "60"},
                           {"POL service.record rate=90", "ERR 23"},
                           {"LOG KEY 0", "ERR 23"}});

  // The folder becomes usable, with settings stored by an earlier run.
  ASSERT_EQ(0, unlink(state.c_str()));
  ASSERT_EQ(0, mkdir(state.c_str(), 0700));
  {
    std::string error;
    std::unique_ptr<Database> earlier =
        Database::Open(state + "/kovrad.db", &error);
    ASSERT_TRUE(earlier) << error;
    ParameterStore stored(earlier.get());
    ASSERT_EQ(0, stored.Set(ParameterSpace::kPol, kKeyRecordRate, "75"));
  }
  EXPECT_TRUE(Eventually(
      [&] {
        Advance(1000);
        return client_.Transact("POL service.record rate") == "75";
      },
      10000, 20));
  EXPECT_EQ("OK", client_.Transact("POL service.record rate=90"));
  EXPECT_NE("ERR 23", client_.Transact("LOG KEY 0"));
}

TEST_F(ServiceTest, NotifyCommandHearsEventsAndTheWatchdogIsFedFromTheLoop) {
  std::string socket_path = dir_.Join("notify");
  int manager = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(manager, 0);
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s",
                socket_path.c_str());
  ASSERT_EQ(0, bind(manager, reinterpret_cast<struct sockaddr*>(&address),
                    sizeof(address)));
  setenv("NOTIFY_SOCKET", socket_path.c_str(), 1);
  std::string heard = dir_.Join("heard");
  config_.notify_command =
      "echo \"$KOVRA_EVENT $KOVRA_CONNECTED\" >> '" + heard + "'";
  config_.watchdog_interval_ms = 15000;
  StartReady();
  auto Next = [&]() -> std::string {
    struct pollfd entry = {manager, POLLIN, 0};
    if (poll(&entry, 1, 5000) != 1) return "";
    char buffer[64] = {};
    ssize_t got = recv(manager, buffer, sizeof(buffer) - 1, 0);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
  };
  EXPECT_EQ("WATCHDOG=1", Next());
  Advance(15000);
  EXPECT_EQ("WATCHDOG=1", Next());
  EXPECT_TRUE(Eventually(
      [&] {
        std::ifstream in(heard);
        std::stringstream text;
        text << in.rdbuf();
        return text.str().find("3 1") != std::string::npos &&
               text.str().find("0 0") != std::string::npos;
      },
      5000, 10));
  // The service's end is notified before it returns.
  StopService();
  std::ifstream in(heard);
  bool terminated = false;
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 2, "1 ") == 0) terminated = true;
  }
  EXPECT_TRUE(terminated);
  unsetenv("NOTIFY_SOCKET");
  close(manager);
}

TEST(ServiceListenTest, NonLoopbackAddressNeedsAllowRemote) {
  FakeAgent agent;
  FakeClock clock;
  ParameterStore params(nullptr);
  const struct {
    const char* host;
    bool allow_remote;
    bool ok;
  } kCases[] = {
      {"127.0.0.1", false, true},    {"localhost", false, true},
      {"127.0.0.2", false, true},    {"0.0.0.0", false, false},
      {"0.0.0.0", true, true},       {"::1", false, false},
      {"host.example", true, false},
  };
  for (const auto& entry : kCases) {
    ServiceConfig config;
    config.listen_host = entry.host;
    config.listen_port = 0;
    config.nut.listen.enabled = false;
    config.allow_remote = entry.allow_remote;
    Service service(config, &agent, &clock, &params, nullptr);
    std::string error;
    EXPECT_EQ(entry.ok, service.Listen(&error)) << entry.host << ": " << error;
  }
}

}  // namespace

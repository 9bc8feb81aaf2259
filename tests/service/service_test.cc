#include "service/service.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
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
#include "tests/service/fake_agent.h"
#include "tests/service/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

// A clock that only moves when the test moves it, safe to read from the
// service's thread.
class ManualClock final : public Clock {
 public:
  int64_t MonotonicMillis() override { return now_.load(); }
  void Pause(int32_t millis) override { now_ += millis > 0 ? millis : 0; }
  void Advance(int64_t millis) { now_ += millis; }

 private:
  std::atomic<int64_t> now_{1000000};
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    OpenStores();
    config_.listen_port = 0;
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

  bool HasEvent(int32_t code) {
    for (const std::string& entry : ReadList(kEventLog)) {
      if (entry.substr(entry.rfind(' ') + 1) == std::to_string(code)) {
        return true;
      }
    }
    return false;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<ParameterStore> params_;
  std::unique_ptr<LogStore> logs_;
  ServiceConfig config_;
  FakeAgent agent_;
  ManualClock clock_;
  std::unique_ptr<Service> service_;
  std::thread thread_;
  ServiceClient client_;
};

TEST_F(ServiceTest, RequestsBeforeLoginAndWrongCredentialsGetErr3) {
  StartService();
  ASSERT_TRUE(client_.Connect(service_->port()));
  EXPECT_EQ("ERR 3", client_.Transact("DEV STATUS_INVOLT"));
  EXPECT_EQ("ERR 3", client_.Transact("USR PASS quiet gate"));  // no name yet
  EXPECT_EQ("ERR 3", client_.Transact("USR NAME Manager"));
  EXPECT_TRUE(client_.WaitClosed());  // after the third failure

  ASSERT_TRUE(client_.Connect(service_->port()));
  EXPECT_EQ("ERR 3", client_.Transact("USR NAME root"));
  EXPECT_NE("ERR 3", client_.Transact("USR NAME manager"));
  EXPECT_EQ("ERR 3", client_.Transact("USR PASS quiet  gate"));
  EXPECT_NE("ERR 3", client_.Transact("USR NAME manager"));
  EXPECT_NE("ERR 3", client_.Transact("USR PASS quiet gate"));
  EXPECT_EQ("1", client_.Transact("PTC powerfail.shutdown.happen.max count"));
}

TEST_F(ServiceTest, DevRequestsMapToAgentCommandsAndErrors) {
  const struct {
    const char* request;
    const char* command;
    const char* agent_reply;
    const char* client_reply;
  } kCases[] = {
      {"PROP_INPUTHI", "R0 0", "R0 264", "264"},
      {"PROP_INPUTLO", "R1 0", "R1 176", "176"},
      {"PROP_BATTERYLO", "R2 0", "R2 20", "20"},
      {"PROP_BATOUT", "R3 0", "R3 230", "230"},
      {"PROP_COLDSTART", "R4 0", "R4 1", "1"},
      {"PROP_INPUTHI DEFAULT", "R0 1", "R0 270", "270"},
      {"PROP_INPUTLO DEFAULT", "R1 1", "R1 170", "170"},
      {"PROP_BATTERYLO DEFAULT", "R2 1", "R2 25", "25"},
      {"PROP_BATOUT DEFAULT", "R3 1", "R3 220", "220"},
      {"PROP_COLDSTART DEFAULT", "R4 1", "R4 0", "0"},
      {"PROP_INPUTHI_RANGE", "R8", "R8 260,264,270", "260,264,270"},
      {"PROP_INPUTLO_RANGE", "R9", "R9 160,170", "160,170"},
      {"PROP_BATTERYLO_RANGE", "R10", "R10 20,25", "20,25"},
      {"PROP_BATOUT_RANGE", "R11", "R11 220,230", "220,230"},
      {"PROP_MODEL", "R12", "R12 Line Int 1000", "Line Int 1000"},
      {"PROP_FWVER", "R13", "R13 2.01", "2.01"},
      {"PROP_VOLT", "R16", "R16 23000", "23000"},
      {"PROP_FREQLO", "R17", "R17 5000", "5000"},
      {"PROP_FREQHI", "R18", "R18 6000", "6000"},
      {"PROP_VA", "R19", "R19 100000", "100000"},
      {"PROP_WATT", "R20", "R20 60000", "60000"},
      {"PROP_MEDIATYPE", "R23", "R23 2", "2"},
      {"PROP_MEDIAIDX", "R24", "R24E 9", "ERR 9"},
      {"PROP_BATVOLT", "R25", "R25 2400", "2400"},
      {"PROP_BATNUM", "R26", "R26 2", "2"},
      {"PROP_BATAH", "R27", "R27 720", "720"},
      {"PROP_BATEXT", "R28", "R28 0", "0"},
      {"PROP_MEDIADEVICES", "R37", "R37 0.0.none,1.0.auto,2.1.ttyS0",
       "0.0.none\n1.0.auto\n2.1.ttyS0"},
      {"SET_PROP_INPUTHI 270", "W0 270", "W0", "OK"},
      {"SET_PROP_INPUTLO 170", "W1 170", "W1E 4", "ERR 4"},
      {"SET_PROP_BATTERYLO 25", "W2 25", "W2", "OK"},
      {"SET_PROP_BATOUT 230", "W3 230", "W3", "OK"},
      {"SET_PROP_COLDSTART 0", "W4 0", "W4", "OK"},
      {"CMD_SELFTEST 10", "C0 10", "C0", "OK"},
      {"CMD_SELFTEST -1", "C0 -1", "C0", "OK"},
  };
  for (const auto& entry : kCases)
    agent_.SetReply(entry.command, entry.agent_reply);
  agent_.SetReply("S9", "S9E 1");
  StartReady();
  for (const auto& entry : kCases) {
    SCOPED_TRACE(entry.request);
    EXPECT_EQ(entry.client_reply,
              client_.Transact(std::string("DEV ") + entry.request));
    EXPECT_EQ(1, agent_.CountOf(entry.command));
  }
  // Status requests are answered from the snapshot of the one pass so far;
  // requests the service cannot map never reach the agent.
  ExpectReplies(&client_, {{"DEV STATUS_INVOLT", "22000"},
                           {"DEV STATUS_OUTVOLT", "22400"},
                           {"DEV STATUS_CAPACITY", "10000"},
                           {"DEV STATUS_LOAD", "3500"},
                           {"DEV STATUS_TEMP", "3000"},
                           {"DEV STATUS_FREQ", "5000"},
                           {"DEV STATUS_BACKUP", "125"},
                           {"DEV STATUS_POWERFAIL", "0"},
                           {"DEV STATUS_BATTERYLO", "0"},
                           {"DEV STATUS_TEST", "ERR 1"},
                           {"DEV STATUS_CONNECT", "1"},
                           {"DEV PROP_PORTTYPE", "2"},
                           {"DEV PROP_NOTHING", "ERR 1"},
                           {"DEV SET_PROP_INPUTHI 27x", "ERR 4"},
                           {"HELLO", "ERR 1"}});
  EXPECT_EQ(1, agent_.CountOf("S0"));
  EXPECT_EQ(1, agent_.CountOf("R22"));
  // A pass asks only for what is served or used.
  for (const char* unused : {"S10", "S11", "S13"}) {
    EXPECT_EQ(0, agent_.CountOf(unused)) << unused;
  }
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

TEST_F(ServiceTest, BrokenAgentIsRestartedWithDoublingBackOff) {
  StartReady();
  // First a reply that does not come within the bound.
  agent_.Hold("R13");
  ASSERT_TRUE(client_.SendRaw("DEV PROP_FWVER\r"));
  ASSERT_TRUE(agent_.WaitForCommand("R13", 1, 5000));
  Advance(config_.agent_reply_timeout_ms);
  EXPECT_EQ("ERR 8", client_.ReadReply());
  Advance(config_.restart_backoff_min_ms);
  ASSERT_TRUE(agent_.WaitForStarts(2, 5000));
  // Then a reply out of step, then an agent that exits.
  for (int32_t round = 2; round <= 3; ++round) {
    SCOPED_TRACE(round);
    if (round == 2) agent_.SetReply("R13", "R1 23000");
    if (round == 3) agent_.SetReply("R13", FakeAgent::kExit);
    EXPECT_EQ("ERR 8", client_.Transact("DEV PROP_FWVER"));
    Advance((config_.restart_backoff_min_ms << (round - 1)) - 1);
    EXPECT_EQ("ERR 8", client_.Transact("DEV PROP_FWVER"));  // still down
    EXPECT_EQ(static_cast<size_t>(round), agent_.Starts().size());
    Advance(1);
    ASSERT_TRUE(agent_.WaitForStarts(round + 1, 5000));
  }
}

TEST_F(ServiceTest, ParametersAreValidatedAndSurviveARestart) {
  StartService();
  ConnectAndLogin(&client_);
  ExpectReplies(&client_, {{"POL service.buzzer on", "1"},
                           {"POL service.rec by period", "1"},
                           {"POL service.auto save", "0"},
                           {"POL service.record rate", "60"},
                           {"POL service.shutdown delay", "120"},
                           {"POL service.media index", "0"},
                           {"POL service.media type", "1"},
                           {"PTC powerfail.shutdown.happen.max count", "1"},
                           {"PTC powerfail.shutdown.happen.delay", "180"},
                           {"POL service.buzzer on=2", "ERR 4"},
                           {"POL service.buzzer on=", "ERR 4"},
                           {"POL service.record rate=0", "ERR 4"},
                           {"POL service.record rate=1.5", "ERR 4"},
                           {"POL service.media type=4", "ERR 4"},
                           {"POL service.shutdown delay=3601", "ERR 4"},
                           {"POL no such key=1", "ERR 1"},
                           {"POL powerfail.shutdown.happen.delay=10", "ERR 1"},
                           {"PTC service.buzzer on=0", "ERR 1"},
                           {"PTC service.buzzer on", "ERR 1"},
                           {"POL service.buzzer", "ERR 1"},
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
  ServiceClient surplus;
  ASSERT_TRUE(surplus.Connect(service_->port()));
  EXPECT_TRUE(surplus.WaitClosed());

  Advance(config_.login_timeout_ms);
  EXPECT_TRUE(silent.WaitClosed());
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

TEST_F(ServiceTest, LogsArePagedWithRetentionAndErased) {
  // Small pages, a retention bound, and keys with gaps from another list.
  LogStore::Limits limits;
  limits.max_entries[kSavedFileLog] = 2500;
  limits.page_size = 7;
  logs_.reset(new LogStore(db_.get(), limits));
  ASSERT_TRUE(db_->Exec("PRAGMA synchronous=OFF;"));  // speed, not safety
  std::vector<std::string> kept;
  for (int i = 0; i < 3000; ++i) {
    std::string entry = "editor\tfile" + std::to_string(i);
    ASSERT_TRUE(logs_->Append(kSavedFileLog, entry));
    if (i >= 500) kept.push_back(entry);
    if (i % 3 == 0) {
      ASSERT_TRUE(logs_->Append(kStatusRecordLog, entry));
    }
  }
  StartService();
  ConnectAndLogin(&client_);
  EXPECT_EQ(kept, ReadList(kSavedFileLog));
  ExpectReplies(&client_, {{"LOG KEY 3", "ERR 4"},
                           {"LOG PRV 1 x", "ERR 4"},
                           {"LOG PRV -1 5", "ERR 4"},
                           {"LOG NEXT 1", "ERR 1"}});
  EXPECT_EQ("OK", client_.Transact("LOG CLR 1"));
  std::string key = client_.Transact("LOG KEY 1");
  EXPECT_EQ(key, client_.Transact("LOG PRV 1 " + key));  // an empty page
  EXPECT_EQ(1000u, ReadList(kStatusRecordLog).size());
}

TEST_F(ServiceTest, PowerFailureShutsDownAfterTheDelayUnlessUtilityReturns) {
  config_.shutdown_command = "touch '" + dir_.Join("shutdown-ran") + "'";
  SetParameter(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "1");
  SetParameter(ParameterSpace::kPtc, kKeyPowerfailDelay, "10");
  agent_.SetReply("C1 120 60", "C1");
  StartReady();
  // Confirmed on battery two passes in, then restored two passes later.
  agent_.SetValue("S7", "1");
  NextPass();
  NextPass();
  EXPECT_TRUE(Eventually([&] { return HasEvent(kEventPowerFailure); }));
  agent_.SetValue("S7", "0");
  NextPass();
  NextPass();
  EXPECT_TRUE(Eventually([&] { return HasEvent(kEventPowerRestore); }));
  // A new failure runs a new delay: nothing two passes after it is
  // confirmed (past the end of the cancelled delay), then the shutdown. A
  // pass may complete up to a period late, hence the range.
  agent_.SetValue("S7", "1");
  for (int i = 0; i < 4; ++i) NextPass();
  EXPECT_EQ(0, agent_.CountOf("C1 120 60"));
  for (int i = 0; i < 3 && agent_.CountOf("C1 120 60") == 0; ++i) NextPass();
  EXPECT_TRUE(agent_.WaitForCommand("C1 120 60", 1, 5000));
  std::string marker = dir_.Join("shutdown-ran");
  EXPECT_TRUE(Eventually([&] { return access(marker.c_str(), F_OK) == 0; }));
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

TEST_F(ServiceTest, StatusRecordsAreWrittenAtTheRecordRate) {
  SetParameter(ParameterSpace::kPol, kKeyRecordRate, "5");
  StartReady();
  Advance(5000);
  std::vector<std::string> records;
  ASSERT_TRUE(Eventually([&] {
    records = ReadList(kStatusRecordLog);
    return !records.empty();
  }));
  const std::string& record = records.back();
  ASSERT_GT(record.size(), 20u);
  EXPECT_EQ('/', record[4]);
  EXPECT_EQ(" 22000 22400 10000 3500 5000 3000", record.substr(19));

  EXPECT_EQ("OK", client_.Transact("POL service.rec by period=0"));
  size_t before = ReadList(kStatusRecordLog).size();
  NextPass();
  NextPass();
  EXPECT_EQ(before, ReadList(kStatusRecordLog).size());
}

TEST(ServiceListenTest, NonLoopbackAddressNeedsAllowRemote) {
  FakeAgent agent;
  ManualClock clock;
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
    config.allow_remote = entry.allow_remote;
    Service service(config, &agent, &clock, &params, nullptr);
    std::string error;
    EXPECT_EQ(entry.ok, service.Listen(&error)) << entry.host << ": " << error;
  }
}

}  // namespace

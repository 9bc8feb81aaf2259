#include "service/service.h"

#include <sys/stat.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/database.h"
#include "service/log_store.h"
#include "service/parameter_store.h"
#include "tests/service/fake_agent.h"
#include "tests/service/manual_clock.h"
#include "tests/service/service_client.h"

namespace {

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
    db_ = Database::Open(dir_.path() + "/kovrad.db", &error);
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

  // Connects, logs in and waits until the first poll pass is in.
  void ConnectReady(ServiceClient* client) {
    ASSERT_TRUE(client->Connect(service_->port()));
    ASSERT_TRUE(client->Login());
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

  // Every entry of a list, oldest first, paged the way kovra pages.
  std::vector<std::string> ReadList(ServiceClient* client, int32_t list) {
    std::vector<std::string> all;
    std::string key = client->Transact("LOG KEY " + std::to_string(list));
    for (int32_t pages = 0; pages < 10000; ++pages) {
      std::string reply =
          client->Transact("LOG PRV " + std::to_string(list) + " " + key);
      size_t newline = reply.find('\n');
      key = reply.substr(0, newline);
      if (newline == std::string::npos) break;
      std::vector<std::string> page;
      size_t start = newline + 1;
      while (start <= reply.size()) {
        size_t end = reply.find('\n', start);
        if (end == std::string::npos) end = reply.size();
        page.push_back(reply.substr(start, end - start));
        start = end + 1;
      }
      all.insert(all.begin(), page.begin(), page.end());
    }
    return all;
  }

  // True when the event log holds an entry with the code.
  bool HasEvent(ServiceClient* client, int32_t code) {
    std::string suffix = " " + std::to_string(code);
    for (const std::string& entry : ReadList(client, kEventLog)) {
      if (entry.size() > suffix.size() &&
          entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) ==
              0) {
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
};

TEST_F(ServiceTest, RequestsBeforeLoginAndWrongCredentialsGetErr3) {
  StartService();
  ServiceClient client;
  ASSERT_TRUE(client.Connect(service_->port()));
  EXPECT_EQ("ERR 3", client.Transact("DEV STATUS_INVOLT"));
  EXPECT_EQ("ERR 3", client.Transact("USR PASS quiet gate"));  // no name yet
  EXPECT_EQ("ERR 3", client.Transact("USR NAME Manager"));
  EXPECT_TRUE(client.WaitClosed());

  ServiceClient second;
  ASSERT_TRUE(second.Connect(service_->port()));
  EXPECT_EQ("ERR 3", second.Transact("USR NAME root"));
  EXPECT_NE("ERR 3", second.Transact("USR NAME manager"));
  EXPECT_EQ("ERR 3", second.Transact("USR PASS quiet  gate"));
  EXPECT_NE("ERR 3", second.Transact("USR NAME manager"));
  EXPECT_NE("ERR 3", second.Transact("USR PASS quiet gate"));
  EXPECT_EQ("0", second.Transact("PTC powerfail.shutdown.happen.max count"));
}

TEST_F(ServiceTest, StatusRequestsAreAnsweredFromTheSnapshot) {
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  const char* const kCases[][2] = {
      {"DEV STATUS_INVOLT", "22000"},   {"DEV STATUS_OUTVOLT", "22400"},
      {"DEV STATUS_CAPACITY", "10000"}, {"DEV STATUS_LOAD", "3500"},
      {"DEV STATUS_TEMP", "3000"},      {"DEV STATUS_FREQ", "5000"},
      {"DEV STATUS_BACKUP", "125"},     {"DEV STATUS_POWERFAIL", "0"},
      {"DEV STATUS_BATTERYLO", "0"},    {"DEV STATUS_TEST", "0"},
      {"DEV STATUS_CONNECT", "1"},      {"DEV PROP_PORTTYPE", "2"}};
  for (const auto& entry : kCases) {
    EXPECT_EQ(entry[1], client.Transact(entry[0])) << entry[0];
  }
  // One pass asked each value once; the clients' requests asked nothing.
  EXPECT_EQ(1, agent_.CountOf("S0"));
  EXPECT_EQ(1, agent_.CountOf("R22"));
}

TEST_F(ServiceTest, DevRequestsMapToAgentCommands) {
  struct Case {
    const char* request;
    const char* command;
    const char* agent_reply;
    const char* client_reply;
  };
  const Case kCases[] = {
      {"DEV PROP_INPUTHI", "R0 0", "R0 264", "264"},
      {"DEV PROP_INPUTLO", "R1 0", "R1 176", "176"},
      {"DEV PROP_BATTERYLO", "R2 0", "R2 20", "20"},
      {"DEV PROP_BATOUT", "R3 0", "R3 230", "230"},
      {"DEV PROP_COLDSTART", "R4 0", "R4 1", "1"},
      {"DEV PROP_INPUTHI DEFAULT", "R0 1", "R0 270", "270"},
      {"DEV PROP_INPUTLO DEFAULT", "R1 1", "R1 170", "170"},
      {"DEV PROP_BATTERYLO DEFAULT", "R2 1", "R2 25", "25"},
      {"DEV PROP_BATOUT DEFAULT", "R3 1", "R3 220", "220"},
      {"DEV PROP_COLDSTART DEFAULT", "R4 1", "R4 0", "0"},
      {"DEV PROP_INPUTHI_RANGE", "R8", "R8 260,264,270", "260,264,270"},
      {"DEV PROP_INPUTLO_RANGE", "R9", "R9 160,170", "160,170"},
      {"DEV PROP_BATTERYLO_RANGE", "R10", "R10 20,25", "20,25"},
      {"DEV PROP_BATOUT_RANGE", "R11", "R11 220,230", "220,230"},
      {"DEV PROP_MODEL", "R12", "R12 Line Int 1000", "Line Int 1000"},
      {"DEV PROP_FWVER", "R13", "R13 2.01", "2.01"},
      {"DEV PROP_VOLT", "R16", "R16 23000", "23000"},
      {"DEV PROP_FREQLO", "R17", "R17 5000", "5000"},
      {"DEV PROP_FREQHI", "R18", "R18 6000", "6000"},
      {"DEV PROP_VA", "R19", "R19 100000", "100000"},
      {"DEV PROP_WATT", "R20", "R20 60000", "60000"},
      {"DEV PROP_MEDIATYPE", "R23", "R23 2", "2"},
      {"DEV PROP_MEDIAIDX", "R24", "R24 1", "1"},
      {"DEV PROP_BATVOLT", "R25", "R25 2400", "2400"},
      {"DEV PROP_BATNUM", "R26", "R26 2", "2"},
      {"DEV PROP_BATAH", "R27", "R27 720", "720"},
      {"DEV PROP_BATEXT", "R28", "R28 0", "0"},
      {"DEV PROP_MEDIADEVICES", "R37", "R37 0.0.none,1.0.auto,2.1.ttyS0",
       "0.0.none\n1.0.auto\n2.1.ttyS0"},
      {"DEV SET_PROP_INPUTHI 270", "W0 270", "W0", "OK"},
      {"DEV SET_PROP_INPUTLO 170", "W1 170", "W1", "OK"},
      {"DEV SET_PROP_BATTERYLO 25", "W2 25", "W2", "OK"},
      {"DEV SET_PROP_BATOUT 230", "W3 230", "W3", "OK"},
      {"DEV SET_PROP_COLDSTART 0", "W4 0", "W4", "OK"},
      {"DEV CMD_SELFTEST 10", "C0 10", "C0", "OK"},
      {"DEV CMD_SELFTEST -1", "C0 -1", "C0", "OK"},
  };
  for (const Case& entry : kCases)
    agent_.SetReply(entry.command, entry.agent_reply);
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  for (const Case& entry : kCases) {
    EXPECT_EQ(entry.client_reply, client.Transact(entry.request))
        << entry.request;
    EXPECT_EQ(1, agent_.CountOf(entry.command)) << entry.request;
  }
}

TEST_F(ServiceTest, AgentErrorsBecomeErrReplies) {
  agent_.SetError("R12", 9);
  agent_.SetError("S4", 1);
  agent_.SetError("W0 999", 4);
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  EXPECT_EQ("ERR 9", client.Transact("DEV PROP_MODEL"));
  EXPECT_EQ("ERR 1", client.Transact("DEV STATUS_TEMP"));
  EXPECT_EQ("ERR 4", client.Transact("DEV SET_PROP_INPUTHI 999"));
  // Requests the service itself cannot map.
  EXPECT_EQ("ERR 1", client.Transact("DEV PROP_NOTHING"));
  EXPECT_EQ("ERR 4", client.Transact("DEV SET_PROP_INPUTHI 27x"));
  EXPECT_EQ("ERR 1", client.Transact("HELLO"));
}

TEST_F(ServiceTest, StaticPropertiesAreCachedUntilTheUnitMayHaveChanged) {
  agent_.SetValue("R12", "Unit A");
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  EXPECT_EQ("Unit A", client.Transact("DEV PROP_MODEL"));
  EXPECT_EQ("Unit A", client.Transact("DEV PROP_MODEL"));
  EXPECT_EQ(1, agent_.CountOf("R12"));
  // A port change means another unit may answer.
  agent_.SetValue("R12", "Unit B");
  EXPECT_EQ("OK", client.Transact("POL service.media index=2"));
  EXPECT_EQ("Unit B", client.Transact("DEV PROP_MODEL"));
}

TEST_F(ServiceTest, SnapshotIsServedWhileTheAgentIsBusy) {
  agent_.SetValue("R12", "Slow Unit");
  agent_.Hold("R12");
  StartService();
  ServiceClient waiting;
  ConnectReady(&waiting);
  ServiceClient other;
  ASSERT_TRUE(other.Connect(service_->port()));
  ASSERT_TRUE(other.Login());

  ASSERT_TRUE(waiting.SendRaw("DEV PROP_MODEL\r"));
  ASSERT_TRUE(agent_.WaitForCommand("R12", 1, 5000));
  EXPECT_EQ("22000", other.Transact("DEV STATUS_INVOLT", 2000));
  EXPECT_EQ("2", other.Transact("DEV PROP_PORTTYPE", 2000));
  EXPECT_EQ("1", other.Transact("POL service.buzzer on", 2000));
  agent_.Release();
  EXPECT_EQ("Slow Unit", waiting.ReadReply());
}

TEST_F(ServiceTest, OldSnapshotAnswersNotInContact) {
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  agent_.Hold("S0");
  Advance(config_.poll_period_ms);
  ASSERT_TRUE(agent_.WaitForCommand("S0", 2, 5000));
  EXPECT_EQ("22000", client.Transact("DEV STATUS_INVOLT"));
  Advance(config_.snapshot_max_age_ms + 1 - config_.poll_period_ms);
  EXPECT_TRUE(Eventually(
      [&] { return client.Transact("DEV STATUS_INVOLT") == "ERR 8"; }));
  agent_.Release();
  EXPECT_TRUE(Eventually(
      [&] { return client.Transact("DEV STATUS_INVOLT") == "22000"; }));
}

TEST_F(ServiceTest, SilentAgentIsRestartedWithGrowingBackOff) {
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  agent_.Hold("R13");
  ASSERT_TRUE(client.SendRaw("DEV PROP_FWVER\r"));
  ASSERT_TRUE(agent_.WaitForCommand("R13", 1, 5000));
  Advance(config_.agent_reply_timeout_ms);
  EXPECT_EQ("ERR 8", client.ReadReply());
  EXPECT_EQ(1u, agent_.Starts().size());
  Advance(config_.restart_backoff_min_ms);
  ASSERT_TRUE(agent_.WaitForStarts(2, 5000));

  // The next failure waits twice as long.
  agent_.CrashOn("R13");
  EXPECT_EQ("ERR 8", client.Transact("DEV PROP_FWVER"));
  Advance(2 * config_.restart_backoff_min_ms - 1);
  EXPECT_EQ("ERR 8", client.Transact("DEV PROP_FWVER"));
  EXPECT_EQ(2u, agent_.Starts().size());
  Advance(1);
  EXPECT_TRUE(agent_.WaitForStarts(3, 5000));
}

TEST_F(ServiceTest, AgentOutOfStepIsRestarted) {
  agent_.SetReply("R16", "R1 23000");  // the echo of another command
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  EXPECT_EQ("ERR 8", client.Transact("DEV PROP_VOLT"));
  Advance(config_.restart_backoff_min_ms);
  EXPECT_TRUE(agent_.WaitForStarts(2, 5000));
}

TEST_F(ServiceTest, ParametersAreReadWrittenAndValidated) {
  StartService();
  ServiceClient client;
  ASSERT_TRUE(client.Connect(service_->port()));
  ASSERT_TRUE(client.Login());
  const char* const kDefaults[][2] = {
      {"POL service.buzzer on", "1"},
      {"POL service.rec by period", "1"},
      {"POL service.auto save", "0"},
      {"POL service.record rate", "60"},
      {"POL service.shutdown delay", "120"},
      {"POL service.media index", "0"},
      {"POL service.media type", "1"},
      {"PTC powerfail.shutdown.happen.max count", "0"},
      {"PTC powerfail.shutdown.happen.delay", "180"}};
  for (const auto& entry : kDefaults) {
    EXPECT_EQ(entry[1], client.Transact(entry[0])) << entry[0];
  }
  const char* const kWrites[][2] = {
      {"POL service.buzzer on=2", "ERR 4"},
      {"POL service.buzzer on=-1", "ERR 4"},
      {"POL service.buzzer on=", "ERR 4"},
      {"POL service.record rate=0", "ERR 4"},
      {"POL service.record rate=1.5", "ERR 4"},
      {"POL service.record rate= 30", "ERR 4"},
      {"POL service.record rate=+30", "ERR 4"},
      {"POL service.record rate=99999999999", "ERR 4"},
      {"POL service.media type=4", "ERR 4"},
      {"POL service.shutdown delay=3601", "ERR 4"},
      {"POL no such key=1", "ERR 1"},
      {"POL powerfail.shutdown.happen.delay=10", "ERR 1"},
      {"PTC service.buzzer on=0", "ERR 1"},
      {"PTC powerfail.shutdown.happen.delay=45", "OK"},
      {"POL service.record rate=30", "OK"},
      {"POL service.auto save=1", "OK"}};
  for (const auto& entry : kWrites) {
    EXPECT_EQ(entry[1], client.Transact(entry[0])) << entry[0];
  }
  EXPECT_EQ("ERR 1", client.Transact("PTC service.buzzer on"));
  EXPECT_EQ("ERR 1", client.Transact("POL service.buzzer"));
  EXPECT_EQ("45", client.Transact("PTC powerfail.shutdown.happen.delay"));
  EXPECT_EQ("1", client.Transact("POL service.buzzer on"));
}

TEST_F(ServiceTest, ParametersSurviveARestart) {
  StartService();
  {
    ServiceClient client;
    ASSERT_TRUE(client.Connect(service_->port()));
    ASSERT_TRUE(client.Login());
    EXPECT_EQ("OK", client.Transact("POL service.record rate=30"));
    EXPECT_EQ("OK", client.Transact("POL service.media index=1"));
    EXPECT_EQ("OK", client.Transact("POL service.media type=2"));
    EXPECT_EQ("OK",
              client.Transact("PTC powerfail.shutdown.happen.max count=1"));
  }
  StopService();
  OpenStores();
  StartService();
  ServiceClient client;
  ASSERT_TRUE(client.Connect(service_->port()));
  ASSERT_TRUE(client.Login());
  EXPECT_EQ("30", client.Transact("POL service.record rate"));
  EXPECT_EQ("1", client.Transact("PTC powerfail.shutdown.happen.max count"));
  ASSERT_TRUE(agent_.WaitForStarts(2, 5000));
  EXPECT_EQ(std::make_pair(1, 0), agent_.Starts()[0]);
  EXPECT_EQ(std::make_pair(2, 1), agent_.Starts()[1]);
}

TEST_F(ServiceTest, MediaAndBuzzerSettingsReachTheAgent) {
  agent_.SetError("C4 1 3", 1);
  agent_.SetError("C4 2 3", 20);
  agent_.SetReply("W7 0", "W7");
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  EXPECT_EQ("OK", client.Transact("POL service.media index=3"));
  EXPECT_TRUE(agent_.WaitForCommand("C4 1 3", 1, 5000));
  EXPECT_EQ("OK", client.Transact("POL service.media type=2"));
  EXPECT_TRUE(agent_.WaitForCommand("C4 2 3", 1, 5000));
  EXPECT_EQ("OK", client.Transact("POL service.buzzer on=0"));
  EXPECT_TRUE(agent_.WaitForCommand("W7 0", 1, 5000));
  // An answer of 20 is the agent looking for its unit, not a failure.
  EXPECT_EQ(1u, agent_.Starts().size());
}

TEST_F(ServiceTest, OverlongRequestGetsErr12AndIsClosed) {
  StartService();
  ServiceClient hostile;
  ASSERT_TRUE(hostile.Connect(service_->port()));
  ASSERT_TRUE(hostile.Login());
  ASSERT_TRUE(hostile.SendRaw(std::string(4097, 'A')));
  EXPECT_EQ("ERR 12", hostile.ReadReply());
  EXPECT_TRUE(hostile.WaitClosed());

  // A request of exactly the bound is still read.
  ServiceClient client;
  ASSERT_TRUE(client.Connect(service_->port()));
  ASSERT_TRUE(client.Login());
  EXPECT_EQ("ERR 1", client.Transact(std::string(4096, 'B')));
  EXPECT_EQ("ERR 1", client.Transact(std::string("\x01\xff\0zz", 5)));
  EXPECT_EQ("1", client.Transact("POL service.buzzer on"));
}

TEST_F(ServiceTest, SilentAndSurplusConnectionsAreClosed) {
  config_.max_clients = 2;
  StartService();
  ServiceClient silent;
  ASSERT_TRUE(silent.Connect(service_->port()));
  ServiceClient member;
  ASSERT_TRUE(member.Connect(service_->port()));
  ASSERT_TRUE(member.Login());
  ServiceClient surplus;
  ASSERT_TRUE(surplus.Connect(service_->port()));
  EXPECT_TRUE(surplus.WaitClosed());

  Advance(config_.login_timeout_ms);
  EXPECT_TRUE(silent.WaitClosed());
  // The logged-in client has a longer allowance.
  EXPECT_EQ("1", member.Transact("POL service.buzzer on"));
}

TEST_F(ServiceTest, LogsArePagedNewestLastPerPageAndErased) {
  ASSERT_TRUE(db_->Exec("PRAGMA synchronous=OFF;"));  // speed, not safety
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(
        logs_->Append(kSavedFileLog, "editor\tfile" + std::to_string(i)));
  }
  StartService();
  ServiceClient client;
  ASSERT_TRUE(client.Connect(service_->port()));
  ASSERT_TRUE(client.Login());
  std::vector<std::string> entries = ReadList(&client, kSavedFileLog);
  ASSERT_EQ(1000u, entries.size());
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ("editor\tfile" + std::to_string(i), entries[i]);
  }
  EXPECT_EQ("ERR 4", client.Transact("LOG KEY 3"));
  EXPECT_EQ("ERR 4", client.Transact("LOG PRV 1 x"));
  EXPECT_EQ("ERR 4", client.Transact("LOG PRV -1 5"));
  EXPECT_EQ("ERR 1", client.Transact("LOG NEXT 1"));
  EXPECT_EQ("OK", client.Transact("LOG CLR 1"));
  std::string key = client.Transact("LOG KEY 1");
  EXPECT_EQ(key, client.Transact("LOG PRV 1 " + key));
  // The event log is not touched by erasing another list.
  EXPECT_TRUE(HasEvent(&client, kEventServiceStarted));
}

TEST_F(ServiceTest, PowerFailureShutsDownAfterTheDelay) {
  config_.shutdown_command = "touch '" + dir_.path() + "/shutdown-ran'";
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "1"));
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPtc, kKeyPowerfailDelay, "10"));
  agent_.SetReply("C1 120 60", "C1");
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  agent_.SetValue("S7", "1");
  NextPass();
  NextPass();
  EXPECT_TRUE(
      Eventually([&] { return HasEvent(&client, kEventPowerFailure); }));
  // Confirmed on battery two passes in; the delay runs out five passes
  // later.
  for (int i = 0; i < 3; ++i) NextPass();
  EXPECT_EQ(0, agent_.CountOf("C1 120 60"));
  NextPass();
  EXPECT_TRUE(agent_.WaitForCommand("C1 120 60", 1, 5000));
  std::string marker = dir_.path() + "/shutdown-ran";
  struct stat info;
  EXPECT_TRUE(Eventually([&] { return stat(marker.c_str(), &info) == 0; }));
}

TEST_F(ServiceTest, LowBatteryShutsDownAtOnceWithPlainShutdownFallback) {
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "1"));
  agent_.SetError("C1 120 60", 1);
  agent_.SetReply("C2 120", "C2");
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  agent_.SetValue("S7", "1");
  agent_.SetValue("S8", "1");
  NextPass();
  NextPass();
  EXPECT_TRUE(agent_.WaitForCommand("C1 120 60", 1, 5000));
  EXPECT_TRUE(agent_.WaitForCommand("C2 120", 1, 5000));
}

TEST_F(ServiceTest, AutoSaveRunsTheHooksBeforeTellingTheUnit) {
  std::string hooks = dir_.path() + "/hooks";
  ASSERT_EQ(0, mkdir(hooks.c_str(), 0755));
  std::string hook = hooks + "/10-editor";
  FILE* file = fopen(hook.c_str(), "w");
  ASSERT_NE(nullptr, file);
  fputs("#!/bin/sh\nprintf 'editor\\t/home/a/notes.txt\\n'\n", file);
  fclose(file);
  ASSERT_EQ(0, chmod(hook.c_str(), 0755));
  config_.save_hooks_dir = hooks;
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "1"));
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPol, kKeyAutoSave, "1"));
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  agent_.SetValue("S7", "1");
  agent_.SetValue("S8", "1");
  NextPass();
  NextPass();
  ASSERT_TRUE(agent_.WaitForCommand("C1 120 60", 1, 10000));
  // The hooks had finished before the unit was told.
  EXPECT_EQ(std::vector<std::string>{"editor\t/home/a/notes.txt"},
            ReadList(&client, kSavedFileLog));
}

TEST_F(ServiceTest, UtilityReturnBeforeTheDelayCancelsTheShutdown) {
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "1"));
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPtc, kKeyPowerfailDelay, "10"));
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  agent_.SetValue("S7", "1");
  NextPass();
  NextPass();
  agent_.SetValue("S7", "0");
  for (int i = 0; i < 6; ++i) NextPass();
  EXPECT_TRUE(
      Eventually([&] { return HasEvent(&client, kEventPowerRestore); }));
  EXPECT_EQ(0, agent_.CountOf("C1 120 60"));
  EXPECT_EQ(0, agent_.CountOf("C2 120"));
}

TEST_F(ServiceTest, StatusRecordsAreWrittenAtTheRecordRate) {
  ASSERT_EQ(0, params_->Set(ParameterSpace::kPol, kKeyRecordRate, "5"));
  StartService();
  ServiceClient client;
  ConnectReady(&client);
  Advance(5000);
  std::vector<std::string> records;
  ASSERT_TRUE(Eventually([&] {
    records = ReadList(&client, kStatusRecordLog);
    return !records.empty();
  }));
  const std::string& record = records.back();
  ASSERT_GT(record.size(), 20u);
  EXPECT_EQ('/', record[4]);
  EXPECT_EQ(" 22000 22400 10000 3500 5000 3000", record.substr(19));

  EXPECT_EQ("OK", client.Transact("POL service.rec by period=0"));
  size_t before = ReadList(&client, kStatusRecordLog).size();
  NextPass();
  NextPass();
  EXPECT_EQ(before, ReadList(&client, kStatusRecordLog).size());
}

}  // namespace

namespace {

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

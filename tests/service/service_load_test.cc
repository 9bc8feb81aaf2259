#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/database.h"
#include "service/log_store.h"
#include "service/parameter_store.h"
#include "service/service.h"
#include "tests/service/fake_agent.h"
#include "tests/service/manual_clock.h"
#include "tests/service/service_client.h"

namespace {

class ServiceLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    db_ = Database::Open(dir_.path() + "/kovrad.db", &error);
    ASSERT_TRUE(db_) << error;
    params_.reset(new ParameterStore(db_.get()));
    logs_.reset(new LogStore(db_.get(), LogStore::Limits()));
    agent_.SetValue("S0", "22000");
    agent_.SetValue("S12", "1");
    agent_.SetValue("R12", "Model X");
    agent_.SetValue("R0 0", "264");
    config_.listen_port = 0;
    service_.reset(
        new Service(config_, &agent_, &clock_, params_.get(), logs_.get()));
    ASSERT_TRUE(service_->Listen(&error)) << error;
    thread_ = std::thread([this] { service_->Run(); });
  }

  void TearDown() override {
    service_->Stop();
    thread_.join();
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

TEST_F(ServiceLoadTest, ManyClientsAreServedCorrectlyBesideHostileOnes) {
  ServiceClient ready;
  ASSERT_TRUE(ready.Connect(service_->port()));
  ASSERT_TRUE(ready.Login());
  ASSERT_TRUE(
      Eventually([&] { return ready.Transact("DEV STATUS_CONNECT") == "1"; }));

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
      ServiceClient client;
      if (!client.Connect(service_->port()) || !client.Login()) {
        wrong += kRequests;
        return;
      }
      for (int i = 0; i < kRequests; ++i) {
        const auto& entry = kCases[(c + i) % 5];
        if (client.Transact(entry[0], 20000) != entry[1]) ++wrong;
      }
      ++done;
    });
  }
  std::string megabyte(1 << 20, 'x');
  bool flood_sent = flood.SendRaw(megabyte);
  std::string noise_bytes;
  for (int i = 0; i < 3; ++i)
    noise_bytes += std::string("\x00\xff\x1b[2J", 7) + "\r";
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
  EXPECT_EQ("ERR 3", noise.ReadReply());
  EXPECT_EQ("ERR 3", noise.ReadReply());
  EXPECT_EQ("ERR 3", noise.ReadReply());
  EXPECT_TRUE(noise.WaitClosed());
  // The slow ones are still there and can finish their requests.
  ASSERT_TRUE(unfinished.SendRaw("ger\r"));
  EXPECT_EQ("OK", unfinished.ReadReply());
  EXPECT_EQ("ERR 3", silent.Transact("DEV STATUS_INVOLT"));
}

}  // namespace

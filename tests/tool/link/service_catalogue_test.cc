#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/linux_platform.h"
#include "platform/socket_selector.h"
#include "tests/support/scripted_peer.h"
#include "tool/link/service_connection.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ServiceCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.Start());
    connection_.SetTimeouts(5000, 5000);
    ASSERT_TRUE(connection_.Connect("127.0.0.1", peer_.port()));
  }

  void TearDown() override {
    EXPECT_THAT(peer_.mismatches(), IsEmpty());
    EXPECT_EQ(0u, peer_.pending_steps());
  }

  ScriptedPeer peer_;
  SocketSelector selector_;
  ServiceConnection connection_{GetPlatform(), &selector_};
};

TEST_F(ServiceCatalogueTest, LoginSendsNameThenPassword) {
  peer_.Expect("USR NAME manager\r", "OK\r");
  peer_.Expect("USR PASS quiet gate\r", "OK\r");
  EXPECT_EQ(0, connection_.Login());
}

TEST_F(ServiceCatalogueTest, FailedNameSendsNoPassword) {
  peer_.Expect("USR NAME manager\r", "ERR 3\r");
  EXPECT_EQ(3, connection_.Login());
  // A request after the login is the next one the peer sees.
  peer_.Expect("DEV STATUS_LOAD\r", "5\r");
  int32_t load = -1;
  EXPECT_EQ(0, connection_.GetStatusLoad(&load));
  EXPECT_THAT(peer_.requests(),
              ElementsAre("USR NAME manager\r", "DEV STATUS_LOAD\r"));
}

TEST_F(ServiceCatalogueTest, FailedPasswordEndsLogin) {
  peer_.Expect("USR NAME manager\r", "\r");
  peer_.Expect("USR PASS secret\r", "ERR\r");  // no blank: not an error reply
  EXPECT_EQ(0, connection_.Login("manager", "secret"));
  peer_.Expect("USR NAME manager\r", "\r");
  peer_.Expect("USR PASS quiet gate\r", "ERR 0\r");
  EXPECT_EQ(ServiceConnection::kServiceErrorNoCode, connection_.Login());
}

// Every request that reads one integer: the bytes sent and the value read.
TEST_F(ServiceCatalogueTest, NumberRequestsSendTheirTemplates) {
  using Op = std::function<int32_t(ServiceConnection*, int32_t*)>;
  struct Case {
    std::string request;
    Op op;
  };
  const Case cases[] = {
      {"DEV STATUS_INVOLT\r", &ServiceConnection::GetStatusInputVoltage},
      {"DEV STATUS_OUTVOLT\r", &ServiceConnection::GetStatusOutputVoltage},
      {"DEV STATUS_CAPACITY\r", &ServiceConnection::GetStatusCapacity},
      {"DEV STATUS_LOAD\r", &ServiceConnection::GetStatusLoad},
      {"DEV STATUS_TEMP\r", &ServiceConnection::GetStatusTemperature},
      {"DEV STATUS_FREQ\r", &ServiceConnection::GetStatusFrequency},
      {"DEV STATUS_BACKUP\r", &ServiceConnection::GetStatusBackupTime},
      {"DEV STATUS_POWERFAIL\r", &ServiceConnection::GetStatusPowerFail},
      {"DEV STATUS_BATTERYLO\r", &ServiceConnection::GetStatusBatteryLow},
      {"DEV STATUS_TEST\r", &ServiceConnection::GetStatusTest},
      {"DEV STATUS_CONNECT\r", &ServiceConnection::GetStatusConnect},
      {"DEV PROP_VOLT\r", &ServiceConnection::GetPropVolt},
      {"DEV PROP_FREQLO\r", &ServiceConnection::GetPropFrequencyLow},
      {"DEV PROP_FREQHI\r", &ServiceConnection::GetPropFrequencyHigh},
      {"DEV PROP_VA\r", &ServiceConnection::GetPropVa},
      {"DEV PROP_WATT\r", &ServiceConnection::GetPropWatt},
      {"DEV PROP_PORTTYPE\r", &ServiceConnection::GetPropPortType},
      {"DEV PROP_MEDIATYPE\r", &ServiceConnection::GetPropMediaType},
      {"DEV PROP_MEDIAIDX\r", &ServiceConnection::GetPropMediaIndex},
      {"DEV PROP_BATVOLT\r", &ServiceConnection::GetPropBatteryVoltage},
      {"DEV PROP_BATNUM\r", &ServiceConnection::GetPropBatteryNumber},
      {"DEV PROP_BATAH\r", &ServiceConnection::GetPropBatteryAmpereHours},
      {"DEV PROP_BATEXT\r", &ServiceConnection::GetPropBatteryExternal},
      {"DEV PROP_INPUTHI\r",
       [](ServiceConnection* c, int32_t* v) { return c->GetPropInputHigh(v); }},
      {"DEV PROP_INPUTLO\r",
       [](ServiceConnection* c, int32_t* v) { return c->GetPropInputLow(v); }},
      {"DEV PROP_BATTERYLO\r",
       [](ServiceConnection* c, int32_t* v) {
         return c->GetPropBatteryLow(v);
       }},
      {"DEV PROP_BATOUT\r",
       [](ServiceConnection* c, int32_t* v) {
         return c->GetPropBatteryOutput(v);
       }},
      {"DEV PROP_COLDSTART\r",
       [](ServiceConnection* c, int32_t* v) { return c->GetPropColdStart(v); }},
      {"DEV PROP_INPUTHI DEFAULT\r",
       [](ServiceConnection* c, int32_t* v) {
         return c->GetPropInputHigh(v, true);
       }},
      {"DEV PROP_INPUTLO DEFAULT\r",
       [](ServiceConnection* c, int32_t* v) {
         return c->GetPropInputLow(v, true);
       }},
      {"DEV PROP_BATTERYLO DEFAULT\r",
       [](ServiceConnection* c, int32_t* v) {
         return c->GetPropBatteryLow(v, true);
       }},
      {"DEV PROP_BATOUT DEFAULT\r",
       [](ServiceConnection* c, int32_t* v) {
         return c->GetPropBatteryOutput(v, true);
       }},
      {"DEV PROP_COLDSTART DEFAULT\r",
       [](ServiceConnection* c, int32_t* v) {
         return c->GetPropColdStart(v, true);
       }},
      {"LOG KEY 2\r",
       [](ServiceConnection* c, int32_t* v) { return c->LogKey(2, v); }},
  };
  int32_t reply = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    peer_.Expect(c.request, std::to_string(reply) + "\r");
    int32_t value = -1;
    EXPECT_EQ(0, c.op(&connection_, &value));
    EXPECT_EQ(reply, value);
    // An error reply leaves the value as it was.
    peer_.Expect(c.request, "ERR 8\r");
    value = -1;
    EXPECT_EQ(8, c.op(&connection_, &value));
    EXPECT_EQ(-1, value);
    ++reply;
  }
}

// Every request that only sends a value.
TEST_F(ServiceCatalogueTest, SettingRequestsSendTheirValue) {
  using Op = std::function<int32_t(ServiceConnection*)>;
  struct Case {
    std::string request;
    Op op;
  };
  const Case cases[] = {
      {"DEV SET_PROP_INPUTHI 270\r",
       [](ServiceConnection* c) { return c->SetPropInputHigh(270); }},
      {"DEV SET_PROP_INPUTLO 170\r",
       [](ServiceConnection* c) { return c->SetPropInputLow(170); }},
      {"DEV SET_PROP_BATTERYLO 25\r",
       [](ServiceConnection* c) { return c->SetPropBatteryLow(25); }},
      {"DEV SET_PROP_BATOUT 230\r",
       [](ServiceConnection* c) { return c->SetPropBatteryOutput(230); }},
      {"DEV SET_PROP_COLDSTART 0\r",
       [](ServiceConnection* c) { return c->SetPropColdStart(0); }},
      {"DEV CMD_SELFTEST 10\r",
       [](ServiceConnection* c) { return c->CommandSelfTest(10); }},
      {"DEV CMD_SELFTEST -1\r",
       [](ServiceConnection* c) { return c->CommandSelfTest(-1); }},
      {"LOG CLR 1\r", [](ServiceConnection* c) { return c->LogClear(1); }},
      {"PTC powerfail.shutdown.happen.max count=1\r",
       [](ServiceConnection* c) {
         return c->SetPtcParameter("powerfail.shutdown.happen.max count", "1");
       }},
      {"POL service.buzzer on=0\r",
       [](ServiceConnection* c) {
         return c->SetPolParameter("service.buzzer on", "0");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    peer_.Expect(c.request, "done\r");
    EXPECT_EQ(0, c.op(&connection_));
    peer_.Expect(c.request, "ERR 4\r");
    EXPECT_EQ(4, c.op(&connection_));
  }
}

TEST_F(ServiceCatalogueTest, RangeRequestsReadTheirValues) {
  using Op = std::function<int32_t(ServiceConnection*, ValueRange*)>;
  struct Case {
    std::string request;
    Op op;
  };
  const Case cases[] = {
      {"DEV PROP_INPUTHI_RANGE\r", &ServiceConnection::GetPropInputHighRange},
      {"DEV PROP_INPUTLO_RANGE\r", &ServiceConnection::GetPropInputLowRange},
      {"DEV PROP_BATTERYLO_RANGE\r",
       &ServiceConnection::GetPropBatteryLowRange},
      {"DEV PROP_BATOUT_RANGE\r",
       &ServiceConnection::GetPropBatteryOutputRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    peer_.Expect(c.request, "260, 265,270\r");
    ValueRange range;
    EXPECT_EQ(0, c.op(&connection_, &range));
    EXPECT_THAT(range.values(), ElementsAre(260, 265, 270));
    EXPECT_TRUE(range.Contains(265));
    EXPECT_FALSE(range.Contains(266));
  }
}

TEST_F(ServiceCatalogueTest, TextRequestsReadTheWholeReply) {
  peer_.Expect("DEV PROP_MODEL\r", "Smart 1000 VA  tower\r");
  peer_.Expect("DEV PROP_FWVER\r", "v2.1 build 7\r");
  peer_.Expect("PTC powerfail.shutdown.happen.delay\r", "120\r");
  peer_.Expect("POL service.record rate\r", "\r");
  std::string model;
  std::string version;
  std::string delay;
  std::string rate = "old";
  EXPECT_EQ(0, connection_.GetPropModel(&model));
  EXPECT_EQ(0, connection_.GetPropFirmwareVersion(&version));
  EXPECT_EQ(0, connection_.GetPtcParameter("powerfail.shutdown.happen.delay",
                                           &delay));
  EXPECT_EQ(0, connection_.GetPolParameter("service.record rate", &rate));
  EXPECT_EQ("Smart 1000 VA  tower", model);
  EXPECT_EQ("v2.1 build 7", version);
  EXPECT_EQ("120", delay);
  EXPECT_EQ("", rate);
}

TEST_F(ServiceCatalogueTest, MediaDevicesReadOneLinePerPort) {
  peer_.Expect("DEV PROP_MEDIADEVICES\r", "1:0:ttyS0\n1:1:TTYS1\n\r");
  DeviceList devices;
  EXPECT_EQ(0, connection_.GetPropMediaDevices(&devices));
  EXPECT_THAT(devices.lines(), ElementsAre("1:0:ttyS0", "1:1:TTYS1"));
}

TEST_F(ServiceCatalogueTest, LogPageReadsNextKeyAndEntries) {
  peer_.Expect("LOG PRV 0 -5\r", "41\n2004/01/02 5 03:04:05 a\nb\r");
  peer_.Expect("LOG PRV 2 41\r", "0\r");
  int32_t next_key = -1;
  std::vector<std::string> entries;
  EXPECT_EQ(0, connection_.LogPrevious(0, -5, &next_key, &entries));
  EXPECT_EQ(41, next_key);
  EXPECT_THAT(entries, ElementsAre("2004/01/02 5 03:04:05 a", "b"));

  entries.clear();
  EXPECT_EQ(0, connection_.LogPrevious(2, 41, &next_key, &entries));
  EXPECT_EQ(0, next_key);
  EXPECT_THAT(entries, IsEmpty());
}

}  // namespace

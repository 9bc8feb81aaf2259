#include "service/kovra_request_handler.h"

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "service/database.h"
#include "service/log_store.h"
#include "service/status_snapshot.h"
#include "tests/support/fake_service_core.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char kNoReply[] = "<no reply>";

class KovraRequestHandlerTest : public ::testing::Test {
 protected:
  KovraRequestHandlerTest() : handler_(new KovraRequestHandler(&core_)) {}

  // Hands the line to the handler; the reply it gave at once, or kNoReply.
  std::string Request(const std::string& line) {
    last_ = LineReply{kNoReply, false};
    handler_->HandleLine(line, [this](const LineReply& reply) {
      EXPECT_EQ(kNoReply, last_.text) << "a second reply";
      last_ = reply;
    });
    return last_.text;
  }

  void Login() {
    ASSERT_EQ("OK", Request("USR NAME manager"));
    ASSERT_EQ("OK", Request("USR PASS quiet gate"));
  }

  // Sends each request in turn and checks its reply.
  void ExpectReplies(std::vector<std::pair<std::string, std::string>> pairs) {
    for (const auto& pair : pairs) {
      EXPECT_EQ(pair.second, Request(pair.first)) << pair.first;
    }
  }

  FakeServiceCore core_;
  std::unique_ptr<KovraRequestHandler> handler_;
  LineReply last_;
};

TEST_F(KovraRequestHandlerTest, RequestsBeforeLoginAndWrongCredentialsGetErr3) {
  EXPECT_EQ("ERR 3", Request("DEV STATUS_INVOLT"));
  EXPECT_FALSE(last_.close);
  EXPECT_EQ("ERR 3", Request("USR PASS quiet gate"));  // no name yet
  EXPECT_FALSE(last_.close);
  EXPECT_EQ("ERR 3", Request("USR NAME Manager"));
  EXPECT_TRUE(last_.close);  // the third failure
  EXPECT_FALSE(handler_->authenticated());
  EXPECT_TRUE(core_.fake_agent().lines().empty());

  handler_.reset(new KovraRequestHandler(&core_));
  EXPECT_EQ("ERR 3", Request("USR NAME root"));
  EXPECT_EQ("OK", Request("USR NAME manager"));
  EXPECT_EQ("ERR 3", Request("USR PASS quiet  gate"));
  EXPECT_EQ("OK", Request("USR NAME manager"));
  EXPECT_EQ("OK", Request("USR PASS quiet gate"));
  EXPECT_FALSE(last_.close);
  EXPECT_TRUE(handler_->authenticated());
  EXPECT_EQ("1", Request("PTC powerfail.shutdown.happen.max count"));
  // Failures after the login never close the connection.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ("ERR 3", Request("USR NAME nobody"));
    EXPECT_FALSE(last_.close);
  }
  EXPECT_EQ("ERR 12", handler_->OverlongReply());
}

TEST_F(KovraRequestHandlerTest, DevRequestsMapToAgentCommandsAndErrors) {
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
  Login();
  FakeAgentCommands& agent = core_.fake_agent();
  for (const auto& entry : kCases) {
    SCOPED_TRACE(entry.request);
    core_.cache().Clear();
    agent.ClearLines();
    // The reply waits for the agent.
    EXPECT_EQ(kNoReply, Request(std::string("DEV ") + entry.request));
    EXPECT_EQ(std::vector<std::string>{entry.command}, agent.lines());
    ASSERT_TRUE(agent.Reply(entry.agent_reply));
    EXPECT_EQ(entry.client_reply, last_.text);
  }
}

TEST_F(KovraRequestHandlerTest, StatusRequestsAreAnsweredFromTheSnapshot) {
  const struct {
    const char* request;
    int32_t slot;
  } kStatus[] = {
      {"STATUS_INVOLT", 0},
      {"STATUS_OUTVOLT", 1},
      {"STATUS_CAPACITY", 2},
      {"STATUS_LOAD", 3},
      {"STATUS_TEMP", 4},
      {"STATUS_FREQ", 5},
      {"STATUS_BACKUP", 6},
      {"STATUS_POWERFAIL", 7},
      {"STATUS_BATTERYLO", 8},
      {"STATUS_TEST", 9},
      {"STATUS_CONNECT", StatusSnapshot::kSlotConnected},
      {"PROP_PORTTYPE", StatusSnapshot::kSlotPortType},
  };
  Login();
  for (const auto& entry : kStatus) {
    SCOPED_TRACE(entry.request);
    std::string request = std::string("DEV ") + entry.request;
    EXPECT_EQ("ERR 8", Request(request));  // no snapshot yet
    core_.SetStatus(entry.slot, 1000 + entry.slot);
    EXPECT_EQ(std::to_string(1000 + entry.slot), Request(request));
    core_.SetStatusError(entry.slot, 1);
    EXPECT_EQ("ERR 1", Request(request));
  }
  // Requests the service cannot map never reach the agent either.
  ExpectReplies({{"DEV PROP_NOTHING", "ERR 1"},
                 {"DEV SET_PROP_INPUTHI 27x", "ERR 4"},
                 {"DEV SET_PROP_INPUTHI", "ERR 1"},
                 {"DEV CMD_SELFTEST 99999999999", "ERR 4"},
                 {"HELLO", "ERR 1"},
                 {"DEV", "ERR 1"}});
  EXPECT_TRUE(core_.fake_agent().lines().empty());
}

TEST_F(KovraRequestHandlerTest, FixedPropertiesAreCachedUntilAWriteGoesOut) {
  Login();
  FakeAgentCommands& agent = core_.fake_agent();
  Request("DEV PROP_MODEL");
  ASSERT_TRUE(agent.Reply("R12 Unit A"));
  EXPECT_EQ("Unit A", Request("DEV PROP_MODEL"));
  // Current settings always go to the agent; errors are not kept.
  Request("DEV PROP_INPUTHI");
  ASSERT_TRUE(agent.Reply("R0 264"));
  Request("DEV PROP_FWVER");
  ASSERT_TRUE(agent.Reply("R13E 8"));
  agent.ClearLines();
  EXPECT_EQ(kNoReply, Request("DEV PROP_INPUTHI"));
  ASSERT_TRUE(agent.Reply("R0 264"));
  EXPECT_EQ(kNoReply, Request("DEV PROP_FWVER"));
  ASSERT_TRUE(agent.Reply("R13 2.01"));
  EXPECT_EQ((std::vector<std::string>{"R0 0", "R13"}), agent.lines());
  // A write, even one the unit refused, makes every kept answer doubtful.
  Request("DEV SET_PROP_BATOUT 230");
  ASSERT_TRUE(agent.Reply("W3E 4"));
  EXPECT_TRUE(core_.cache().empty());
  EXPECT_EQ(kNoReply, Request("DEV PROP_MODEL"));
}

TEST_F(KovraRequestHandlerTest, AgentReplyAfterTheClientLeftIsDroppedSafely) {
  Login();
  bool answered = false;
  handler_->HandleLine("DEV PROP_MODEL",
                       [&](const LineReply&) { answered = true; });
  handler_.reset();  // the connection closed while the agent works
  ASSERT_TRUE(core_.fake_agent().Reply("R12 Unit A"));
  EXPECT_TRUE(answered);  // the transport drops it for a closed client
  std::string cached;
  EXPECT_TRUE(core_.cache().Find("R12", &cached));
}

TEST_F(KovraRequestHandlerTest, ParametersAreValidatedAndChangesReachTheCore) {
  Login();
  ExpectReplies({{"POL service.buzzer on", "1"},
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
                 {"POL service.media type=2", "OK"},
                 {"POL service.record rate", "30"},
                 {"PTC powerfail.shutdown.happen.delay", "45"}});
  EXPECT_EQ((std::vector<std::string>{
                "powerfail.shutdown.happen.delay", "service.record rate",
                "service.media index", "service.media type"}),
            core_.changed());
}

class KovraRequestHandlerLogTest : public KovraRequestHandlerTest {
 protected:
  void SetUp() override {
    std::string error;
    db_ = Database::Open(dir_.Join("kovrad.db"), &error);
    ASSERT_TRUE(db_) << error;
    ASSERT_TRUE(db_->Exec("PRAGMA synchronous=OFF;"));  // speed, not safety
  }

  // Every entry of a list, oldest first, paged the way kovra pages: each
  // reply is the next key, then the page's entries one per line.
  std::vector<std::string> ReadList(int32_t list) {
    std::vector<std::string> all;
    std::string prefix = "LOG PRV " + std::to_string(list) + " ";
    std::string key = Request("LOG KEY " + std::to_string(list));
    for (int32_t pages = 0; pages < 10000; ++pages) {
      std::istringstream reply(Request(prefix + key));
      std::getline(reply, key);
      std::vector<std::string> page;
      for (std::string line; std::getline(reply, line);) page.push_back(line);
      if (page.empty()) break;
      all.insert(all.begin(), page.begin(), page.end());
    }
    return all;
  }

  TempDir dir_;
  std::unique_ptr<Database> db_;
};

TEST_F(KovraRequestHandlerLogTest, LogsArePagedWithRetentionAndErased) {
  // Small pages, a retention bound, and keys with gaps from another list.
  LogStore::Limits limits;
  limits.max_entries[kSavedFileLog] = 2500;
  limits.page_size = 7;
  LogStore logs(db_.get(), limits);
  std::vector<std::string> kept;
  for (int i = 0; i < 3000; ++i) {
    std::string entry = "editor\tfile" + std::to_string(i);
    ASSERT_TRUE(logs.Append(kSavedFileLog, entry));
    if (i >= 500) kept.push_back(entry);
    if (i % 3 == 0) {
      ASSERT_TRUE(logs.Append(kStatusRecordLog, entry));
    }
  }
  Login();
  EXPECT_EQ("ERR 23", Request("LOG KEY 1"));  // a service without logs
  core_.set_logs(&logs);
  EXPECT_EQ(kept, ReadList(kSavedFileLog));
  ExpectReplies({{"LOG KEY 3", "ERR 4"},
                 {"LOG PRV 1 x", "ERR 4"},
                 {"LOG PRV -1 5", "ERR 4"},
                 {"LOG PRV 1", "ERR 4"},
                 {"LOG KEY 1 2", "ERR 4"},
                 {"LOG NEXT 1", "ERR 1"}});
  EXPECT_EQ("OK", Request("LOG CLR 1"));
  std::string key = Request("LOG KEY 1");
  EXPECT_EQ(key, Request("LOG PRV 1 " + key));  // an empty page
  EXPECT_EQ(1000u, ReadList(kStatusRecordLog).size());
}

}  // namespace

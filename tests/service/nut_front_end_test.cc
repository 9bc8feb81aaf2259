#include "service/nut_front_end.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/parameter_store.h"
#include "service/status_snapshot.h"
#include "tests/support/fake_service_core.h"

namespace {

class NutFrontEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core_.fake_agent().set_running(true);
    const int32_t kStatus[][2] = {{0, 23000}, {1, 23000}, {2, 10000}, {3, 2500},
                                  {4, 3000},  {5, 5000},  {6, 600},   {7, 0},
                                  {8, 0},     {9, 0},     {10, 1},    {11, 2}};
    for (const auto& entry : kStatus) core_.SetStatus(entry[0], entry[1]);
    NutUser monitor;
    monitor.name = "mon";
    monitor.password = "secret";
    NutUser admin;
    admin.name = "admin";
    admin.password = "pw";
    admin.primary = true;
    admin.may_set = true;
    admin.all_instcmds = true;
    config_.users = {monitor, admin};
    front_.reset(new NutFrontEnd(config_, &core_, [this] { return begun_; }));
  }

  // Answers every waiting agent command the way a full unit does.
  void AnswerAll() {
    FakeAgentCommands& agent = core_.fake_agent();
    while (agent.waiting() > 0) {
      std::string line = agent.Next();
      std::string value = "100";
      if (line == "R12") value = "Model 1500";
      if (line == "R13") value = "1.02";
      if (line == "R0 0") value = "270";
      if (line == "R8") value = "250,260,270";
      agent.ReplyValue(value);
    }
  }

  std::unique_ptr<LineSession> Connect(const std::string& peer) {
    std::unique_ptr<LineSession> session = front_->NewSession();
    session->OnConnected(peer);
    return session;
  }

  // The session's reply to one line, as it is sent.
  static LineReply Ask(LineSession* session, const std::string& line) {
    LineReply got;
    session->HandleLine(line, [&got](const LineReply& reply) { got = reply; });
    return got;
  }

  void LogIn(LineSession* session, const char* user, const char* password) {
    EXPECT_EQ("OK\n", Ask(session, std::string("USERNAME ") + user).text);
    EXPECT_EQ("OK\n", Ask(session, std::string("PASSWORD ") + password).text);
    EXPECT_EQ("OK\n", Ask(session, "LOGIN ups").text);
  }

  FakeServiceCore core_;
  NutFrontEndConfig config_;
  bool begun_ = false;
  std::unique_ptr<NutFrontEnd> front_;
};

TEST_F(NutFrontEndTest, FillsTheCacheWhileInContactAndServesFromIt) {
  front_->Tick(0);
  EXPECT_EQ(NutFrontEnd::CachedCommands(), core_.fake_agent().lines());
  AnswerAll();
  core_.fake_agent().ClearLines();

  const NutUnitData& data = front_->Data();
  EXPECT_EQ("Model 1500", data.model.text);
  EXPECT_EQ(270, data.settings[NutUnitData::kInputHigh].value);
  EXPECT_TRUE(data.settings[NutUnitData::kInputHigh].ok());
  EXPECT_EQ("250,260,270", data.setting_ranges[0].text);
  EXPECT_EQ(23000, data.snapshot.value[StatusSnapshot::kSlotInputVoltage]);
  EXPECT_TRUE(data.snapshot.valid);

  // Served from the cache: nothing more goes to the agent.
  front_->Tick(1000);
  std::unique_ptr<LineSession> session = Connect("127.0.0.1");
  EXPECT_EQ("VAR ups input.transfer.high \"270\"\n",
            Ask(session.get(), "GET VAR ups input.transfer.high").text);
  EXPECT_TRUE(core_.fake_agent().lines().empty());
  // The unit is described by its model.
  EXPECT_EQ("UPSDESC ups \"Model 1500\"\n",
            Ask(session.get(), "GET UPSDESC ups").text);
}

TEST_F(NutFrontEndTest, AsksNothingOutOfContactAndRetriesFailuresLater) {
  core_.SetStatus(StatusSnapshot::kSlotConnected, 0);
  front_->Tick(0);
  EXPECT_TRUE(core_.fake_agent().lines().empty());

  core_.SetStatus(StatusSnapshot::kSlotConnected, 1);
  front_->Tick(1000);
  FakeAgentCommands& agent = core_.fake_agent();
  ASSERT_EQ("R0 0", agent.Next());
  agent.Reply("R0E 1");  // not reported: kept, never asked again
  ASSERT_EQ("R1 0", agent.Next());
  agent.Reply("R1E 8");  // a passing failure: asked again later
  AnswerAll();
  agent.ClearLines();

  front_->Tick(2000);
  EXPECT_TRUE(agent.lines().empty());
  front_->Tick(1000 + config_.retry_ms);
  EXPECT_EQ(std::vector<std::string>{"R1 0"}, agent.lines());
  EXPECT_FALSE(front_->Data().settings[0].ok());
}

TEST_F(NutFrontEndTest, AnswerAskedBeforeAWriteIsNotKept) {
  front_->Tick(0);
  FakeAgentCommands& agent = core_.fake_agent();
  ASSERT_EQ("R0 0", agent.Next());
  core_.cache().Clear();  // a write was answered meanwhile
  agent.ReplyValue("250");
  std::string answer;
  EXPECT_FALSE(core_.cache().Find("R0 0", &answer));
}

TEST_F(NutFrontEndTest, WriteGoesToTheAgentAndTheSettingIsReadBack) {
  front_->Tick(0);
  AnswerAll();
  std::unique_ptr<LineSession> session = Connect("127.0.0.1");
  EXPECT_EQ("OK\n", Ask(session.get(), "USERNAME admin").text);
  EXPECT_EQ("OK\n", Ask(session.get(), "PASSWORD pw").text);
  EXPECT_EQ("ERR INVALID-VALUE\n",
            Ask(session.get(), "SET VAR ups input.transfer.high 255").text);
  EXPECT_EQ("OK\n",
            Ask(session.get(), "SET VAR ups input.transfer.high 260").text);

  FakeAgentCommands& agent = core_.fake_agent();
  agent.ClearLines();
  ASSERT_EQ("W0 260", agent.Next());
  agent.Reply("W0");
  std::string answer;
  EXPECT_FALSE(core_.cache().Find("R0 0", &answer));
  front_->Tick(1000);
  ASSERT_FALSE(agent.lines().empty());
  EXPECT_EQ("R0 0", agent.lines()[0]);
}

TEST_F(NutFrontEndTest, CountsLoginsAndSecondariesOverItsSessions) {
  std::unique_ptr<LineSession> secondary = Connect("192.0.2.7");
  std::unique_ptr<LineSession> primary = Connect("127.0.0.1");
  std::unique_ptr<LineSession> reader = Connect("127.0.0.1");
  LogIn(secondary.get(), "mon", "secret");
  LogIn(primary.get(), "admin", "pw");
  EXPECT_EQ("OK PRIMARY-GRANTED\n", Ask(primary.get(), "PRIMARY ups").text);
  EXPECT_EQ("BEGIN LIST VAR ups\n",
            Ask(reader.get(), "LIST VAR ups").text.substr(0, 19));

  EXPECT_EQ(2, front_->LoginCount());
  EXPECT_EQ(1, front_->Secondaries());
  EXPECT_TRUE(secondary->authenticated());
  EXPECT_FALSE(reader->authenticated());
  EXPECT_EQ("NUMLOGINS ups 2\n", Ask(reader.get(), "GET NUMLOGINS ups").text);

  // A secondary whose connection is gone is not waited for.
  secondary.reset();
  EXPECT_EQ(0, front_->Secondaries());
  LineReply bye = Ask(primary.get(), "LOGOUT");
  EXPECT_EQ("OK Goodbye\n", bye.text);
  EXPECT_TRUE(bye.close);
  EXPECT_EQ(0, front_->LoginCount());
}

TEST_F(NutFrontEndTest, RepliesAreSentAsTheHandlerWroteThem) {
  std::unique_ptr<LineSession> session = Connect("127.0.0.1");
  LineReply list = Ask(session.get(), "LIST UPS");
  EXPECT_TRUE(list.verbatim);
  EXPECT_EQ("BEGIN LIST UPS\nUPS ups \"kovrad UPS\"\nEND LIST UPS\n",
            list.text);
  // A blank line gets no answer at all.
  EXPECT_EQ("", Ask(session.get(), "").text);
  EXPECT_EQ("ERR TOO-LONG", session->OverlongReply());
}

TEST_F(NutFrontEndTest, ForcedShutdownShowsAsFsdAndIsKeptForTheSequence) {
  front_->Tick(0);
  AnswerAll();
  std::unique_ptr<LineSession> session = Connect("127.0.0.1");
  EXPECT_EQ("VAR ups ups.status \"OL\"\n",
            Ask(session.get(), "GET VAR ups ups.status").text);
  EXPECT_EQ("ERR USERNAME-REQUIRED\n", Ask(session.get(), "FSD ups").text);
  EXPECT_FALSE(front_->forced_shutdown_requested());

  begun_ = true;  // the service's own shutdown began
  EXPECT_EQ("VAR ups ups.status \"FSD OL\"\n",
            Ask(session.get(), "GET VAR ups ups.status").text);
  begun_ = false;

  EXPECT_EQ("OK\n", Ask(session.get(), "USERNAME admin").text);
  EXPECT_EQ("OK\n", Ask(session.get(), "PASSWORD pw").text);
  EXPECT_EQ("OK FSD-SET\n", Ask(session.get(), "FSD ups").text);
  EXPECT_TRUE(front_->forced_shutdown_requested());
  EXPECT_TRUE(front_->Data().forced_shutdown);
}

TEST_F(NutFrontEndTest, StaleSnapshotAndMissingAgentAreReportedNotServed) {
  std::unique_ptr<LineSession> session = Connect("127.0.0.1");
  core_.ForgetStatus();  // the snapshot is too old: every slot answers 8
  EXPECT_TRUE(front_->Stale());
  EXPECT_EQ("ERR DATA-STALE\n",
            Ask(session.get(), "GET VAR ups input.voltage").text);
  core_.fake_agent().set_running(false);
  EXPECT_EQ("ERR DRIVER-NOT-CONNECTED\n",
            Ask(session.get(), "LIST VAR ups").text);
}

TEST_F(NutFrontEndTest, SelfTestOutcomeFollowsTheUnitsTestFlag) {
  front_->Tick(0);
  EXPECT_EQ(NutTestOutcome::kNone, front_->Data().last_test);
  core_.SetStatus(9, 1);
  front_->Tick(1000);
  core_.SetStatus(9, 0);
  front_->Tick(2000);
  EXPECT_EQ(NutTestOutcome::kDone, front_->Data().last_test);

  core_.SetStatus(9, 1);
  front_->Tick(3000);
  core_.fake_agent().ClearLines();
  bool done = false;
  front_->SendAgentLine("C0 -1", [&done](bool ok) { done = ok; });
  while (core_.fake_agent().Next() != "C0 -1")
    core_.fake_agent().ReplyValue("1");
  core_.fake_agent().Reply("C0");
  EXPECT_TRUE(done);
  core_.SetStatus(9, 0);
  front_->Tick(4000);
  EXPECT_EQ(NutTestOutcome::kAborted, front_->Data().last_test);
}

TEST_F(NutFrontEndTest, BeeperCommandsStoreTheBuzzerSetting) {
  bool ok = false;
  front_->SetBuzzer(false, [&ok](bool result) { ok = result; });
  EXPECT_TRUE(ok);
  ASSERT_EQ(std::vector<std::string>{kKeyBuzzerOn}, core_.changed());
  EXPECT_FALSE(front_->Data().buzzer_on);
}

}  // namespace

#include "service/nut/nut_request_handler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "service/nut/nut_line.h"
#include "tests/support/fake_nut_backend.h"

namespace {

class NutRequestHandlerTest : public ::testing::Test {
 protected:
  NutRequestHandlerTest() {
    NutUser monitor;
    monitor.name = "monuser";
    monitor.password = "secret pass";
    NutUser admin;
    admin.name = "admin";
    admin.password = "s3cr\"t";
    admin.primary = true;
    admin.may_set = true;
    admin.all_instcmds = true;
    NutUser tester;
    tester.name = "tester";
    tester.password = "pw";
    tester.may_monitor = false;
    tester.instcmds = {"test.battery.start.quick"};
    backend_.users = {monitor, admin, tester};
    handler_ = std::make_unique<NutRequestHandler>(NutServerInfo(), &backend_,
                                                   "192.0.2.7");
  }

  std::string Send(std::string_view line) {
    return handler_->Handle(line).text;
  }

  void Credentials(const char* user, const char* password) {
    ASSERT_EQ(Send(std::string("USERNAME ") + user), "OK\n");
    ASSERT_EQ(Send("PASSWORD " + NutQuote(password)), "OK\n");
  }
  void AsAdmin() { Credentials("admin", "s3cr\"t"); }

  FakeNutBackend backend_;
  std::unique_ptr<NutRequestHandler> handler_;
};

TEST_F(NutRequestHandlerTest, ServerInformationLines) {
  EXPECT_EQ(Send("VER"), "kovrad NUT front end\n");
  EXPECT_EQ(Send("NETVER"), "1.3\n");
  EXPECT_EQ(Send("PROTVER\r"), "1.3\n");
  EXPECT_EQ(Send("help").substr(0, 10), "Commands: ");
  EXPECT_EQ(Send("STARTTLS"), "ERR FEATURE-NOT-CONFIGURED\n");
  EXPECT_EQ(Send("GET TRACKING"), "OFF\n");
  EXPECT_EQ(Send("SET TRACKING OFF"), "OK\n");
  EXPECT_EQ(Send("SET TRACKING ON"), "ERR FEATURE-NOT-SUPPORTED\n");
  EXPECT_EQ(Send(""), "");
  EXPECT_EQ(Send("  \r"), "");
}

TEST_F(NutRequestHandlerTest, MalformedRequestsGetTheirErrorNames) {
  EXPECT_EQ(Send("FROB ups"), "ERR UNKNOWN-COMMAND\n");
  EXPECT_EQ(Send(std::string(kNutMaxLineBytes + 1, 'G')), "ERR TOO-LONG\n");
  EXPECT_EQ(Send("GET VAR ups \"ups.status"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send(std::string("GET\0VAR", 7)), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("\xff\xfe\x80"), "ERR UNKNOWN-COMMAND\n");
  EXPECT_EQ(Send("GET"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("GET VAR ups"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("GET VAR ups ups.status extra"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("GET FOO ups"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("LIST"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("LIST VAR"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("LIST ENUM ups"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("LIST BAR ups"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("LOGOUT now"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("USERNAME"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("INSTCMD ups"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Send("SET VAR ups input.transfer.high"), "ERR INVALID-ARGUMENT\n");
}

TEST_F(NutRequestHandlerTest, UnknownUpsIsRefusedEverywhere) {
  for (const char* request :
       {"GET VAR other ups.status", "GET TYPE other ups.load",
        "GET DESC other ups.load", "GET CMDDESC other shutdown.stop",
        "GET UPSDESC other", "GET NUMLOGINS other", "LIST VAR other",
        "LIST RW other", "LIST CMD other", "LIST CLIENT other",
        "LIST ENUM other input.transfer.high", "LOGIN other", "PRIMARY other",
        "FSD other", "INSTCMD other shutdown.stop",
        "SET VAR other input.transfer.high 250", "GET VAR UPS ups.status"}) {
    EXPECT_EQ(Send(request), "ERR UNKNOWN-UPS\n") << request;
  }
}

TEST_F(NutRequestHandlerTest, ListsHaveBeginAndEndLines) {
  EXPECT_EQ(Send("LIST UPS"),
            "BEGIN LIST UPS\nUPS ups \"kovrad UPS\"\nEND LIST UPS\n");
  EXPECT_EQ(Send("LIST RW ups"),
            "BEGIN LIST RW ups\n"
            "RW ups battery.charge.low \"20\"\n"
            "RW ups input.transfer.high \"260\"\n"
            "RW ups input.transfer.low \"170\"\n"
            "RW ups output.voltage.nominal \"230\"\n"
            "RW ups ups.start.battery \"yes\"\n"
            "END LIST RW ups\n");
  EXPECT_EQ(Send("LIST ENUM ups input.transfer.high"),
            "BEGIN LIST ENUM ups input.transfer.high\n"
            "ENUM ups input.transfer.high \"250\"\n"
            "ENUM ups input.transfer.high \"260\"\n"
            "ENUM ups input.transfer.high \"270\"\n"
            "END LIST ENUM ups input.transfer.high\n");
  EXPECT_EQ(Send("LIST RANGE ups input.transfer.high"),
            "BEGIN LIST RANGE ups input.transfer.high\n"
            "END LIST RANGE ups input.transfer.high\n");
  EXPECT_EQ(Send("LIST ENUM ups ups.load"),
            "BEGIN LIST ENUM ups ups.load\nEND LIST ENUM ups ups.load\n");
  EXPECT_EQ(Send("LIST ENUM ups no.such"), "ERR VAR-NOT-SUPPORTED\n");
  backend_.clients = {"192.0.2.7", "::1"};
  EXPECT_EQ(Send("LIST CLIENT ups"),
            "BEGIN LIST CLIENT ups\nCLIENT ups 192.0.2.7\nCLIENT ups ::1\n"
            "END LIST CLIENT ups\n");
  const std::string cmds = Send("list cmd ups");
  EXPECT_EQ(cmds.rfind("BEGIN LIST CMD ups\nCMD ups beeper.disable\n", 0), 0u);
  EXPECT_NE(cmds.find("CMD ups test.battery.stop\nEND LIST CMD ups\n"),
            std::string::npos);
}

TEST_F(NutRequestHandlerTest, ListVarQuotesEveryValue) {
  const std::string vars = Send("LIST VAR ups");
  EXPECT_EQ(
      vars.rfind("BEGIN LIST VAR ups\nVAR ups battery.capacity \"7.2\"\n", 0),
      0u);
  EXPECT_NE(vars.find("VAR ups device.model \"Model \\\"X\\\" 1000\"\n"),
            std::string::npos);
  EXPECT_NE(vars.find("VAR ups ups.status \"OL\"\n"), std::string::npos);
  const std::string end = "END LIST VAR ups\n";
  EXPECT_EQ(vars.substr(vars.size() - end.size()), end);
}

TEST_F(NutRequestHandlerTest, GetRepliesEchoTheRequest) {
  EXPECT_EQ(Send("GET VAR ups input.voltage"),
            "VAR ups input.voltage \"230.5\"\n");
  EXPECT_EQ(Send("GET VAR ups no.such"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(Send("GET TYPE ups input.transfer.high"),
            "TYPE ups input.transfer.high RW ENUM\n");
  EXPECT_EQ(Send("GET TYPE ups ups.load"), "TYPE ups ups.load NUMBER\n");
  EXPECT_EQ(Send("GET TYPE ups ups.status"), "TYPE ups ups.status STRING:64\n");
  EXPECT_EQ(Send("GET DESC ups ups.load"),
            "DESC ups ups.load \"Load on UPS (percent of full)\"\n");
  EXPECT_EQ(Send("GET DESC ups no.such"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(Send("GET CMDDESC ups shutdown.stop"),
            "CMDDESC ups shutdown.stop \"Stop a shutdown in progress\"\n");
  EXPECT_EQ(Send("GET CMDDESC ups load.off"), "ERR CMD-NOT-SUPPORTED\n");
  EXPECT_EQ(Send("GET UPSDESC ups"), "UPSDESC ups \"kovrad UPS\"\n");
  backend_.clients = {"a", "b"};
  EXPECT_EQ(Send("GET NUMLOGINS ups"), "NUMLOGINS ups 2\n");
}

TEST_F(NutRequestHandlerTest, NoOldValuesWhileStaleOrWithoutAgent) {
  const char* reads[] = {"GET VAR ups ups.status",
                         "LIST VAR ups",
                         "LIST RW ups",
                         "GET TYPE ups ups.load",
                         "LIST CMD ups",
                         "LIST ENUM ups input.transfer.high"};
  backend_.stale = true;
  for (const char* request : reads) {
    EXPECT_EQ(Send(request), "ERR DATA-STALE\n") << request;
  }
  backend_.agent_running = false;
  for (const char* request : reads) {
    EXPECT_EQ(Send(request), "ERR DRIVER-NOT-CONNECTED\n") << request;
  }
  // What does not come from the unit is still answered.
  EXPECT_EQ(Send("GET NUMLOGINS ups"), "NUMLOGINS ups 0\n");
  EXPECT_EQ(Send("GET DESC ups ups.load").rfind("DESC ", 0), 0u);
  EXPECT_EQ(Send("LIST UPS").rfind("BEGIN LIST UPS\n", 0), 0u);
  // Changes are refused too, once the user is known.
  AsAdmin();
  EXPECT_EQ(Send("SET VAR ups input.transfer.high 250"),
            "ERR DRIVER-NOT-CONNECTED\n");
  EXPECT_EQ(Send("INSTCMD ups shutdown.stop"), "ERR DRIVER-NOT-CONNECTED\n");
  backend_.agent_running = true;
  EXPECT_EQ(Send("INSTCMD ups shutdown.stop"), "ERR DATA-STALE\n");
  EXPECT_TRUE(backend_.pending.empty());
}

TEST_F(NutRequestHandlerTest, NoValuesFromASnapshotWithoutTheUnit) {
  backend_.data.snapshot.value[StatusSnapshot::kSlotConnected] = 0;
  EXPECT_EQ(Send("GET VAR ups device.type"), "ERR DATA-STALE\n");
  backend_.data.snapshot.value[StatusSnapshot::kSlotConnected] = 1;
  backend_.data.snapshot.error[StatusSnapshot::kSlotConnected] = 8;
  EXPECT_EQ(Send("LIST VAR ups"), "ERR DATA-STALE\n");
  backend_.data.snapshot = StatusSnapshot();  // no pass completed yet
  EXPECT_EQ(Send("GET VAR ups ups.status"), "ERR DATA-STALE\n");
}

TEST_F(NutRequestHandlerTest, UsernameAndPasswordOnceEach) {
  EXPECT_EQ(Send("USERNAME monuser"), "OK\n");
  EXPECT_EQ(Send("USERNAME admin"), "ERR ALREADY-SET-USERNAME\n");
  EXPECT_EQ(Send("PASSWORD \"secret pass\""), "OK\n");
  EXPECT_EQ(Send("PASSWORD other"), "ERR ALREADY-SET-PASSWORD\n");
  EXPECT_EQ(Send("LOGIN ups"), "OK\n");
  EXPECT_TRUE(handler_->logged_in());
}

TEST_F(NutRequestHandlerTest, LoginNeedsBothCredentialsAndTheRight) {
  EXPECT_EQ(Send("LOGIN ups"), "ERR USERNAME-REQUIRED\n");
  EXPECT_EQ(Send("USERNAME monuser"), "OK\n");
  EXPECT_EQ(Send("LOGIN ups"), "ERR PASSWORD-REQUIRED\n");
  EXPECT_EQ(Send("PASSWORD wrong"), "OK\n");
  EXPECT_EQ(Send("LOGIN ups"), "ERR ACCESS-DENIED\n");
  EXPECT_FALSE(handler_->logged_in());

  NutRequestHandler stranger(NutServerInfo(), &backend_, "peer");
  stranger.Handle("USERNAME nobody");
  EXPECT_EQ(stranger.Handle("PASSWORD secret pass").text,
            "ERR INVALID-ARGUMENT\n");
  stranger.Handle("PASSWORD \"secret pass\"");
  EXPECT_EQ(stranger.Handle("LOGIN ups").text, "ERR ACCESS-DENIED\n");

  NutRequestHandler tester(NutServerInfo(), &backend_, "peer");
  tester.Handle("USERNAME tester");
  tester.Handle("PASSWORD pw");
  EXPECT_EQ(tester.Handle("LOGIN ups").text, "ERR ACCESS-DENIED\n");
  EXPECT_FALSE(tester.logged_in());
}

TEST_F(NutRequestHandlerTest, PasswordPrefixIsNotThePassword) {
  Credentials("monuser", "secret");
  EXPECT_EQ(Send("LOGIN ups"), "ERR ACCESS-DENIED\n");
  NutRequestHandler longer(NutServerInfo(), &backend_, "peer");
  longer.Handle("USERNAME monuser");
  longer.Handle("PASSWORD \"secret pass!\"");
  EXPECT_EQ(longer.Handle("LOGIN ups").text, "ERR ACCESS-DENIED\n");
}

TEST_F(NutRequestHandlerTest, SecondLoginAndLogout) {
  Credentials("monuser", "secret pass");
  EXPECT_EQ(Send("LOGIN ups"), "OK\n");
  EXPECT_EQ(Send("LOGIN ups"), "ERR ALREADY-LOGGED-IN\n");
  const NutReply bye = handler_->Handle("LOGOUT");
  EXPECT_EQ(bye.text, "OK Goodbye\n");
  EXPECT_TRUE(bye.close);
  EXPECT_FALSE(handler_->logged_in());
  EXPECT_FALSE(handler_->Handle("GET NUMLOGINS ups").close);
}

TEST_F(NutRequestHandlerTest, PrimaryAndForcedShutdownNeedPrimaryRights) {
  Credentials("monuser", "secret pass");
  EXPECT_EQ(Send("PRIMARY ups"), "ERR ACCESS-DENIED\n");
  EXPECT_EQ(Send("FSD ups"), "ERR ACCESS-DENIED\n");
  EXPECT_FALSE(backend_.data.forced_shutdown);
  EXPECT_FALSE(handler_->primary());

  NutRequestHandler primary(NutServerInfo(), &backend_, "192.0.2.1");
  EXPECT_EQ(primary.Handle("FSD ups").text, "ERR USERNAME-REQUIRED\n");
  primary.Handle("USERNAME admin");
  EXPECT_EQ(primary.Handle("MASTER ups").text, "ERR PASSWORD-REQUIRED\n");
  primary.Handle("PASSWORD \"s3cr\\\"t\"");
  EXPECT_EQ(primary.Handle("MASTER ups").text, "OK MASTER-GRANTED\n");
  EXPECT_EQ(primary.Handle("PRIMARY ups").text, "OK PRIMARY-GRANTED\n");
  EXPECT_TRUE(primary.primary());
  EXPECT_EQ(primary.Handle("FSD ups").text, "OK FSD-SET\n");
  EXPECT_TRUE(backend_.data.forced_shutdown);
  // Every secondary polling the status now sees the forced shutdown.
  EXPECT_EQ(Send("GET VAR ups ups.status"), "VAR ups ups.status \"FSD OL\"\n");
}

TEST_F(NutRequestHandlerTest, SetVarGoesToTheAgentAndIsLogged) {
  EXPECT_EQ(Send("SET VAR ups input.transfer.high 250"),
            "ERR USERNAME-REQUIRED\n");
  AsAdmin();
  EXPECT_EQ(Send("SET VAR ups input.transfer.high \"250\""), "OK\n");
  ASSERT_EQ(backend_.pending.size(), 1u);
  EXPECT_EQ(backend_.pending[0].what, "W0 250");
  ASSERT_EQ(backend_.logs.size(), 1u);
  EXPECT_EQ(backend_.logs[0],
            "NUT: user admin from 192.0.2.7 sets input.transfer.high to 250");
  backend_.Finish(false);
  EXPECT_EQ(backend_.logs.back(),
            "NUT: user admin from 192.0.2.7 sets input.transfer.high to 250: "
            "failed");
  EXPECT_EQ(Send("SET VAR ups ups.start.battery no"), "OK\n");
  EXPECT_EQ(backend_.pending.back().what, "W4 0");
}

TEST_F(NutRequestHandlerTest, SetVarRefusals) {
  Credentials("monuser", "secret pass");
  EXPECT_EQ(Send("SET VAR ups input.transfer.high 250"), "ERR ACCESS-DENIED\n");
  NutRequestHandler admin(NutServerInfo(), &backend_, "peer");
  admin.Handle("USERNAME admin");
  admin.Handle("PASSWORD s3cr\\\"t");
  auto set = [&admin](const std::string& rest) {
    return admin.Handle("SET VAR ups " + rest).text;
  };
  EXPECT_EQ(set("ups.load 50"), "ERR READONLY\n");
  EXPECT_EQ(set("no.such 1"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(set("input.transfer.high 255"), "ERR INVALID-VALUE\n");
  EXPECT_EQ(set("ups.start.battery maybe"), "ERR INVALID-VALUE\n");
  EXPECT_EQ(set("input.transfer.high " +
                std::string(NutRequestHandler::kMaxValueBytes + 1, '2')),
            "ERR TOO-LONG\n");
  backend_.data.model.error = 1;
  EXPECT_EQ(set("device.model x"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_TRUE(backend_.pending.empty());
}

TEST_F(NutRequestHandlerTest, InstCmdRightsAndActions) {
  Credentials("tester", "pw");
  EXPECT_EQ(Send("INSTCMD ups shutdown.stayoff"), "ERR ACCESS-DENIED\n");
  EXPECT_EQ(Send("INSTCMD ups test.battery.start.quick"), "OK\n");
  ASSERT_EQ(backend_.pending.size(), 1u);
  EXPECT_EQ(backend_.pending[0].what, "C0 10");

  NutRequestHandler admin(NutServerInfo(), &backend_, "peer");
  admin.Handle("USERNAME admin");
  admin.Handle("PASSWORD s3cr\\\"t");
  EXPECT_EQ(admin.Handle("INSTCMD ups shutdown.return").text, "OK\n");
  EXPECT_EQ(backend_.pending.back().what, "C1 120 60");
  EXPECT_EQ(admin.Handle("INSTCMD ups beeper.disable").text, "OK\n");
  EXPECT_EQ(backend_.pending.back().what, "buzzer 0");
  EXPECT_EQ(admin.Handle("INSTCMD ups test.battery.start 30").text, "OK\n");
  EXPECT_EQ(backend_.pending.back().what, "C0 30");
  EXPECT_EQ(backend_.logs.back(),
            "NUT: user admin from peer runs "
            "test.battery.start 30");
  EXPECT_EQ(admin.Handle("INSTCMD ups test.battery.start -5").text,
            "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(admin.Handle("INSTCMD ups load.off").text,
            "ERR CMD-NOT-SUPPORTED\n");
  EXPECT_EQ(backend_.pending.size(), 4u);
}

TEST_F(NutRequestHandlerTest, OutcomeLoggedAfterTheConnectionIsGone) {
  AsAdmin();
  EXPECT_EQ(Send("INSTCMD ups shutdown.stop"), "OK\n");
  handler_.reset();
  backend_.Finish(true);
  EXPECT_EQ(backend_.logs.back(),
            "NUT: user admin from 192.0.2.7 runs shutdown.stop: done");
}

TEST_F(NutRequestHandlerTest, RepeatedRefusalsAreLoggedOnce) {
  Credentials("admin", "guess");
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(Send("LOGIN ups"), "ERR ACCESS-DENIED\n");
  }
  EXPECT_EQ(backend_.logs,
            (std::vector<std::string>{
                "NUT: access denied to user admin from 192.0.2.7"}));
}

TEST_F(NutRequestHandlerTest, PasswordsNeverReachTheLog) {
  Credentials("admin", "wrong-Pa55");
  EXPECT_EQ(Send("FSD ups"), "ERR ACCESS-DENIED\n");
  NutRequestHandler admin(NutServerInfo(), &backend_, "peer");
  admin.Handle("USERNAME admin");
  admin.Handle("PASSWORD s3cr\\\"t");
  admin.Handle("LOGIN ups");
  admin.Handle("FSD ups");
  admin.Handle("SET VAR ups input.transfer.high 270");
  admin.Handle("INSTCMD ups shutdown.stop");
  while (!backend_.pending.empty()) backend_.Finish(true);
  ASSERT_GE(backend_.logs.size(), 5u);
  for (const std::string& line : backend_.logs) {
    EXPECT_EQ(line.find("Pa55"), std::string::npos) << line;
    EXPECT_EQ(line.find("s3cr"), std::string::npos) << line;
  }
}

}  // namespace

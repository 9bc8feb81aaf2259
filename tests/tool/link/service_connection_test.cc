#include "tool/link/service_connection.h"

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/time/timestamp.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/linux_platform.h"
#include "platform/socket_selector.h"
#include "tests/support/scripted_peer.h"

namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;

constexpr int32_t kNoCode = ServiceConnection::kServiceErrorNoCode;
constexpr int32_t kCommFailure = ServiceConnection::kCommFailure;

class ServiceConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.Start());
    // Generous waits: only the time-out tests shorten them.
    connection_.SetTimeouts(5000, 5000);
    ASSERT_TRUE(connection_.Connect("127.0.0.1", peer_.port()));
  }

  // Queues `reply` for the next request, which must be `request`.
  void Expect(const std::string& request, const std::string& reply) {
    expected_.push_back(request);
    peer_.Reply(reply);
  }

  void TearDown() override {
    if (!expected_.empty()) {
      EXPECT_EQ(expected_, peer_.requests());
    }
    // A socket left in the selector's sets would be ready at once.
    EXPECT_FALSE(selector_.Wait(0));
  }

  Strings expected_;
  ScriptedPeer peer_;
  SocketSelector selector_;
  ServiceConnection connection_{GetPlatform(), &selector_};
};

TEST_F(ServiceConnectionTest, LongSkipsTheLineEndBeforeLinesNumberDoesNot) {
  Expect("LOG PRV 0 1234\r", "1200\nfirst\nsecond\r");
  Expect("X\r", "7\nentry\r");
  int32_t value = -1;
  Strings lines;
  EXPECT_EQ(
      0, connection_.Transact("LOG PRV %d %l\r%l%u", 0, 1234, &value, &lines));
  EXPECT_EQ(1200, value);
  EXPECT_THAT(lines, ElementsAre("first", "second"));
  lines.clear();
  EXPECT_EQ(0, connection_.Transact("X\r%d%u", &value, &lines));
  EXPECT_EQ(7, value);
  EXPECT_THAT(lines, ElementsAre("", "entry"));
}

TEST_F(ServiceConnectionTest, MismatchedArgumentsSendNothing) {
  std::string text;
  int32_t number = 0;
  int32_t* null_number = nullptr;
  const int32_t bad = ServiceConnection::kBadTemplate;
  EXPECT_EQ(bad, connection_.Transact("NO CR %d", 1));
  EXPECT_EQ(bad, connection_.Transact(nullptr));
  EXPECT_EQ(bad, connection_.Transact("A %d\r"));                   // too few
  EXPECT_EQ(bad, connection_.Transact("A\r%d", &number, &number));  // too many
  EXPECT_EQ(bad, connection_.Transact("A %s\r", 5));        // wrong kind
  EXPECT_EQ(bad, connection_.Transact("A %d\r", "5"));      // wrong kind
  EXPECT_EQ(bad, connection_.Transact("A\r%d", &text));     // wrong kind
  EXPECT_EQ(bad, connection_.Transact("A\r%d", 5));         // input as output
  EXPECT_EQ(bad, connection_.Transact("A %d\r", &number));  // output as input
  EXPECT_EQ(bad, connection_.Transact("A\r%d", null_number));
  EXPECT_EQ(bad, connection_.Transact("A %v\r%v", &number));
  // The first request the peer sees is the next good one.
  Expect("GOOD\r", "1\r");
  EXPECT_EQ(0, connection_.Transact("GOOD\r%d", &number));
  EXPECT_EQ(1, number);
}

TEST_F(ServiceConnectionTest, ReplyInPiecesIsOneReplyUntilThePeerCloses) {
  peer_.Reply(PeerReply{{"12", "34\r"}, 300});
  peer_.Reply(PeerReply{{"12"}, 0, true});
  int32_t value = -1;
  EXPECT_EQ(0, connection_.Transact("X\r%d", &value));
  EXPECT_EQ(1234, value);
  EXPECT_EQ(kCommFailure, connection_.Transact("X\r%d", &value));
  EXPECT_EQ(1234, value);
  // The connection is gone: later requests fail too.
  EXPECT_EQ(kCommFailure, connection_.Transact("Y\r"));
}

TEST_F(ServiceConnectionTest, SilentPeerTimesOut) {
  connection_.SetTimeouts(5000, 100);
  peer_.Reply(PeerReply{});
  std::string text = "kept";
  EXPECT_EQ(kCommFailure, connection_.Transact("X\r%s", &text));
  EXPECT_EQ("kept", text);
}

TEST_F(ServiceConnectionTest, ReplyLengthIsCapped) {
  const size_t cap = ServiceConnection::kMaxReplyBytes;
  peer_.Reply(std::string(cap - 1, 'y') + "\r");
  std::string text;
  EXPECT_EQ(0, connection_.Transact("X\r%s", &text));
  EXPECT_EQ(cap - 1, text.size());
  // A reply without CR that grows past the cap ends the exchange instead of
  // growing memory without bound.
  peer_.Reply(PeerReply{Strings(3, std::string(cap / 2 + 1, 'x'))});
  text = "kept";
  EXPECT_EQ(kCommFailure, connection_.Transact("X\r%s", &text));
  EXPECT_EQ("kept", text);
}

// A reply that comes after its exchange timed out would otherwise be read as
// the answer to the next request, and every later value would be one behind.
TEST_F(ServiceConnectionTest, NoStaleReplyAfterReceiveTimeOut) {
  connection_.SetTimeouts(5000, 100);
  peer_.Reply(PeerReply{{"", "23000\r"}, 400});
  peer_.Reply("5000\r");
  int32_t value = -1;
  EXPECT_EQ(kCommFailure,
            connection_.Transact("DEV STATUS_OUTVOLT\r%d", &value));
  connection_.SetTimeouts(5000, 5000);
  EXPECT_EQ(kCommFailure,
            connection_.Transact("DEV STATUS_CAPACITY\r%d", &value));
  EXPECT_EQ(kCommFailure, connection_.Transact("DEV STATUS_LOAD\r%d", &value));
  EXPECT_EQ(-1, value);
  EXPECT_FALSE(connection_.IsConnected());
}

TEST_F(ServiceConnectionTest, NoStaleReplyAfterTheLengthCap) {
  const size_t cap = ServiceConnection::kMaxReplyBytes;
  // The rest of the over-long reply, and its CR, arrive after the cap.
  peer_.Reply(PeerReply{
      {std::string(cap / 2 + 1, 'x'), std::string(cap / 2 + 1, 'x'), "x\r"},
      200});
  std::string text = "kept";
  EXPECT_EQ(kCommFailure, connection_.Transact("X\r%s", &text));
  EXPECT_EQ(kCommFailure, connection_.Transact("Y\r%s", &text));
  EXPECT_EQ("kept", text);
}

TEST_F(ServiceConnectionTest, NotConnectedFailsWithoutSending) {
  ServiceConnection unconnected(GetPlatform(), &selector_);
  std::string reply;
  EXPECT_EQ(kCommFailure, unconnected.Transact("X\r"));
  EXPECT_EQ(kCommFailure, unconnected.SendRequest("X\r"));
  EXPECT_EQ(kCommFailure, unconnected.ReceiveReply(&reply));
}

// The commands' tests run the rest of the request catalogue against a
// scripted service, which answers only the exact request text.
TEST_F(ServiceConnectionTest, CatalogueRequestsTheCommandsDoNotUse) {
  Expect("USR NAME manager\r", "\r");
  Expect("USR PASS secret\r", "ERR\r");  // no blank: not an error reply
  Expect("USR NAME manager\r", "\r");
  Expect("USR PASS quiet gate\r", "ERR 0\r");
  for (const char* request :
       {"DEV PROP_INPUTHI DEFAULT\r", "DEV PROP_INPUTLO DEFAULT\r",
        "DEV PROP_BATTERYLO DEFAULT\r", "DEV PROP_BATOUT DEFAULT\r",
        "DEV PROP_COLDSTART DEFAULT\r"}) {
    Expect(request, "7\r");
  }
  Expect("DEV PROP_INPUTHI\r", "ERR 8\r");
  EXPECT_EQ(0, connection_.Login("manager", "secret"));
  EXPECT_EQ(kNoCode, connection_.Login());
  int32_t values[5] = {};
  EXPECT_EQ(0, connection_.GetPropInputHigh(&values[0], true));
  EXPECT_EQ(0, connection_.GetPropInputLow(&values[1], true));
  EXPECT_EQ(0, connection_.GetPropBatteryLow(&values[2], true));
  EXPECT_EQ(0, connection_.GetPropBatteryOutput(&values[3], true));
  EXPECT_EQ(0, connection_.GetPropColdStart(&values[4], true));
  EXPECT_THAT(values, Each(7));
  // An error reply leaves the value as it was.
  EXPECT_EQ(8, connection_.GetPropInputHigh(&values[0]));
  EXPECT_EQ(7, values[0]);
}

TEST(ServiceConnectionConnectTest, FailedConnectsLeaveNoHalfMadeSocket) {
  ScriptedPeer peer;
  ScriptedPeer gone;
  ASSERT_TRUE(peer.Start());
  ASSERT_TRUE(gone.Start());
  gone.Stop();  // nothing listens on its port any more
  SocketSelector selector;
  ServiceConnection connection(GetPlatform(), &selector);
  EXPECT_FALSE(connection.Connect("127.0.0.1", gone.port()));
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_FALSE(connection.Connect("no such host", peer.port()));
  // The port number wins over a port in the host text.
  EXPECT_TRUE(connection.Connect("127.0.0.1:1", peer.port()));
  EXPECT_TRUE(connection.IsConnected());

  Platform nothing;  // a platform without sockets
  EXPECT_FALSE(
      ServiceConnection(&nothing, &selector).Connect("127.0.0.1", peer.port()));
}

// A peer that accepts but never reads, so the client's send buffers fill.
TEST(ServiceConnectionSendTest, UnreadRequestTimesOut) {
  ScriptedPeer peer;
  ASSERT_TRUE(peer.Start(false));
  SocketSelector selector;
  ServiceConnection connection(GetPlatform(), &selector);
  ASSERT_TRUE(connection.Connect("127.0.0.1", peer.port()));
  connection.SetTimeouts(200, 5000);
  // Far more than the loopback buffers of both ends can take.
  const std::string huge(64 * 1024 * 1024, 'x');
  EXPECT_EQ(kCommFailure, connection.Transact("HUGE %s\r", huge));
  EXPECT_FALSE(selector.Wait(0));
}

}  // namespace

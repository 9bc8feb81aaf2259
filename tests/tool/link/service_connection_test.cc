#include "tool/link/service_connection.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <map>
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

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ServiceConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.Start());
    // Generous waits: only the time-out tests shorten them.
    connection_.SetTimeouts(5000, 5000);
    ASSERT_TRUE(connection_.Connect("127.0.0.1", peer_.port()));
  }

  void TearDown() override { EXPECT_THAT(peer_.mismatches(), IsEmpty()); }

  // The selector must be empty between exchanges: a socket left in the write
  // set would be ready at once.
  void ExpectSelectorEmpty() { EXPECT_FALSE(selector_.Wait(0)); }

  ScriptedPeer peer_;
  SocketSelector selector_;
  ServiceConnection connection_{GetPlatform(), &selector_};
};

TEST_F(ServiceConnectionTest, ReadsNumberAndSendsRequestPart) {
  peer_.Expect("DEV STATUS_INVOLT\r", "23012\r");
  int32_t value = -1;
  EXPECT_EQ(0, connection_.Transact("DEV STATUS_INVOLT\r%d", &value));
  EXPECT_EQ(23012, value);
  ExpectSelectorEmpty();
}

TEST_F(ServiceConnectionTest, WritesRequestConversions) {
  struct Case {
    const char* name;
    std::string expected;
    int32_t (*run)(ServiceConnection*);
  };
  const Case cases[] = {
      {"number", "DEV SET_PROP_INPUTHI 270\r",
       [](ServiceConnection* c) {
         return c->Transact("DEV SET_PROP_INPUTHI %d\r", 270);
       }},
      {"negative and long", "DEV CMD_SELFTEST -1 -2147483648\r",
       [](ServiceConnection* c) {
         return c->Transact("DEV CMD_SELFTEST %d %l\r", -1, INT32_MIN);
       }},
      {"texts", "POL service.buzzer on=0\r",
       [](ServiceConnection* c) {
         return c->Transact("POL %s=%s\r", std::string("service.buzzer on"),
                            "0");
       }},
      {"percent and unknown letters", "A%Bvx%\r",
       [](ServiceConnection* c) { return c->Transact("A%%B%v%x%%\r"); }},
      {"percent before the CR", "Q\r",
       [](ServiceConnection* c) { return c->Transact("Q%\r"); }},
      {"lines", "U a\n\nb\n\r",
       [](ServiceConnection* c) {
         const std::vector<std::string> lines = {"a", "", "b"};
         return c->Transact("U %u\r", &lines);
       }},
      {"maps in key order", "M a=\nb=2\n\nc=3\n\n\r",
       [](ServiceConnection* c) {
         // Keys come out sorted: a before b.
         const LinkArg::TextMaps maps = {{{"b", "2"}, {"a", ""}}, {{"c", "3"}}};
         return c->Transact("M %m\r", &maps);
       }},
      {"empty lists", "E \r",
       [](ServiceConnection* c) {
         const std::vector<std::string> lines;
         const LinkArg::TextMaps maps;
         return c->Transact("E %u%m\r", &lines, &maps);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    peer_.Expect(c.expected, "OK\r");
    EXPECT_EQ(0, c.run(&connection_));
  }
}

TEST_F(ServiceConnectionTest, TimestampTravelsInItsTextForm) {
  const Timestamp sent = Timestamp::FromCalendar({5, 4, 3, 2, 1, 2004, 0});
  std::ostringstream text;
  text << sent;
  peer_.Expect("T " + text.str() + "\r", text.str() + "\r");
  Timestamp received;
  EXPECT_EQ(0, connection_.Transact("T %t\r%t", &sent, &received));
  EXPECT_EQ(sent, received);
}

TEST_F(ServiceConnectionTest, ErrorRepliesGiveTheirNumber) {
  struct Case {
    const char* reply;
    int32_t result;
  };
  const Case cases[] = {
      {"ERR 8\r", 8},
      {"ERR  \t12abc\r", 12},
      {"ERR +3\r", 3},
      {"ERR -4\r", -4},
      {"ERR \r", ServiceConnection::kServiceErrorNoCode},
      {"ERR x\r", ServiceConnection::kServiceErrorNoCode},
      {"ERR 0\r", ServiceConnection::kServiceErrorNoCode},
      {"ERR -0\r", ServiceConnection::kServiceErrorNoCode},
      // Too large for 32 bits: no usable number rather than a wrapped one.
      {"ERR 4294967304\r", ServiceConnection::kServiceErrorNoCode},
      {"ERR 99999999999999999999999\r", ServiceConnection::kServiceErrorNoCode},
      {"ERR 2147483647\r", 2147483647},
      {"ERR -2147483648\r", INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    peer_.Expect("DEV PROP_MODEL\r", c.reply);
    std::string model = "kept";
    int32_t value = -1;
    EXPECT_EQ(c.result,
              connection_.Transact("DEV PROP_MODEL\r%s%d", &model, &value));
    EXPECT_EQ("kept", model);
    EXPECT_EQ(-1, value);
  }
}

TEST_F(ServiceConnectionTest, ErrorPrefixNeedsUpperCaseAndOneBlank) {
  for (const char* reply : {"err 8\r", "ERR8\r", "ERROR 8\r", "ER\r"}) {
    SCOPED_TRACE(reply);
    peer_.Expect("X\r", reply);
    std::string text;
    EXPECT_EQ(0, connection_.Transact("X\r%s", &text));
    EXPECT_EQ(std::string(reply, std::strlen(reply) - 1), text);
  }
}

TEST_F(ServiceConnectionTest, CrAloneLeavesOutputsButEmptiesText) {
  peer_.Expect("X\r", "\r");
  int32_t number = -1;
  int32_t key = -1;
  std::string text = "old";
  std::vector<std::string> lines;
  ValueRange range;
  Timestamp time(77);
  EXPECT_EQ(0, connection_.Transact("X\r%d%l%s%u%v%t", &number, &key, &text,
                                    &lines, &range, &time));
  EXPECT_EQ(-1, number);
  EXPECT_EQ(-1, key);
  EXPECT_EQ("", text);
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_TRUE(range.empty());
  EXPECT_EQ(Timestamp(77), time);
}

TEST_F(ServiceConnectionTest, FailedReadStopsLaterReadsButNotText) {
  peer_.Expect("X\r", "abc 5 6\r");
  int32_t first = -1;
  int32_t second = -1;
  std::string text;
  EXPECT_EQ(0, connection_.Transact("X\r%d%s%d", &first, &text, &second));
  EXPECT_EQ(-1, first);
  EXPECT_EQ(-1, second);
  EXPECT_EQ("abc 5 6", text);
}

TEST_F(ServiceConnectionTest, TextDoesNotMoveReadPosition) {
  peer_.Expect("X\r", " 5 -6 tail\r");
  int32_t first = 0;
  int32_t second = 0;
  std::string text;
  EXPECT_EQ(
      0, connection_.Transact("X\r%d %s ignored %d", &first, &text, &second));
  EXPECT_EQ(5, first);
  EXPECT_EQ(-6, second);
  EXPECT_EQ(" 5 -6 tail", text);
}

TEST_F(ServiceConnectionTest, NumberOutside32BitsIsNotRead) {
  peer_.Expect("X\r", "2147483648 1\r");
  int32_t first = -1;
  int32_t second = -1;
  EXPECT_EQ(0, connection_.Transact("X\r%d%d", &first, &second));
  EXPECT_EQ(-1, first);
  EXPECT_EQ(-1, second);
}

TEST_F(ServiceConnectionTest, RangeReadsIntegersWithAnySeparator) {
  struct Case {
    const char* reply;
    std::vector<int32_t> values;
  };
  const Case cases[] = {
      {"220,230,240\r", {220, 230, 240}},
      {"220, 230, 240\r", {220, 230, 240}},
      {"-5;7\r", {-5, 7}},
      {"1,2,x,4\r", {1, 2}},
      {"\r", {}},
      {"9\r", {9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    peer_.Expect("DEV PROP_INPUTHI_RANGE\r", c.reply);
    ValueRange range;
    EXPECT_EQ(0, connection_.Transact("DEV PROP_INPUTHI_RANGE\r%v", &range));
    EXPECT_EQ(c.values, range.values());
  }
}

TEST_F(ServiceConnectionTest, LinesSplitAtLineFeeds) {
  struct Case {
    const char* reply;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"one\r", {"one"}},           {"\r", {}},     {"a\nb\n\r", {"a", "b"}},
      {"a\n\nb\r", {"a", "", "b"}}, {"\n\r", {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    peer_.Expect("X\r", c.reply);
    std::vector<std::string> lines;
    EXPECT_EQ(0, connection_.Transact("X\r%u", &lines));
    EXPECT_EQ(c.lines, lines);
  }
}

TEST_F(ServiceConnectionTest, LongSkipsLineEndBeforeLines) {
  peer_.Expect("LOG PRV 0 1234\r", "1200\nfirst entry\nsecond entry\r");
  int32_t next_key = -1;
  std::vector<std::string> entries;
  EXPECT_EQ(0, connection_.Transact("LOG PRV %d %l\r%l%u", 0, 1234, &next_key,
                                    &entries));
  EXPECT_EQ(1200, next_key);
  EXPECT_THAT(entries, ElementsAre("first entry", "second entry"));
}

TEST_F(ServiceConnectionTest, NumberDoesNotSkipLineEndBeforeLines) {
  peer_.Expect("X\r", "7\nentry\r");
  int32_t value = -1;
  std::vector<std::string> lines;
  EXPECT_EQ(0, connection_.Transact("X\r%d%u", &value, &lines));
  EXPECT_EQ(7, value);
  EXPECT_THAT(lines, ElementsAre("", "entry"));
}

TEST_F(ServiceConnectionTest, MapsNeedAClosingEmptyLine) {
  peer_.Expect("X\r", "a=1\nb=2\n\nc=3\r");
  LinkArg::TextMaps maps;
  EXPECT_EQ(0, connection_.Transact("X\r%m", &maps));
  ASSERT_EQ(1u, maps.size());
  EXPECT_EQ((LinkArg::TextMap{{"a", "1"}, {"b", "2"}}), maps[0]);

  peer_.Expect("X\r", "k=v=w\nbare\n\n\n\r");
  maps.clear();
  EXPECT_EQ(0, connection_.Transact("X\r%m", &maps));
  ASSERT_EQ(2u, maps.size());
  EXPECT_EQ((LinkArg::TextMap{{"k", "v=w"}, {"bare", ""}}), maps[0]);
  EXPECT_TRUE(maps[1].empty());
}

TEST_F(ServiceConnectionTest, DeviceListReceivesLines) {
  peer_.Expect("DEV PROP_MEDIADEVICES\r", "1.0.ttyS0\n1.1.ttyS1\n\r");
  DeviceList devices;
  EXPECT_EQ(0, connection_.Transact("DEV PROP_MEDIADEVICES\r%u", &devices));
  EXPECT_THAT(devices.lines(), ElementsAre("1.0.ttyS0", "1.1.ttyS1"));
}

TEST_F(ServiceConnectionTest, BytesAfterTheCrAreNotPartOfTheReply) {
  peer_.Expect("X\r", "12\rjunk");
  std::string text;
  EXPECT_EQ(0, connection_.Transact("X\r%s", &text));
  EXPECT_EQ("12", text);
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
  peer_.Expect("GOOD\r", "1\r");
  EXPECT_EQ(0, connection_.Transact("GOOD\r%d", &number));
  EXPECT_EQ(1, number);
  EXPECT_EQ(1u, peer_.requests().size());
}

TEST_F(ServiceConnectionTest, ReplyInTwoPiecesIsOneReply) {
  PeerReply reply;
  reply.pieces = {"12", "34\r"};
  reply.gap_millis = 300;
  peer_.Expect("X\r", reply);
  int32_t value = -1;
  EXPECT_EQ(0, connection_.Transact("X\r%d", &value));
  EXPECT_EQ(1234, value);
}

TEST_F(ServiceConnectionTest, PeerClosingMidReplyFails) {
  PeerReply reply;
  reply.pieces = {"12"};
  reply.close_after = true;
  peer_.Expect("X\r", reply);
  int32_t value = -1;
  EXPECT_EQ(ServiceConnection::kCommFailure,
            connection_.Transact("X\r%d", &value));
  EXPECT_EQ(-1, value);
  ExpectSelectorEmpty();
}

TEST_F(ServiceConnectionTest, PeerClosingWithoutReplyFails) {
  peer_.Expect("X\r", PeerReply::Close());
  EXPECT_EQ(ServiceConnection::kCommFailure, connection_.Transact("X\r"));
  // The connection is gone: the next request fails as well, in bounded time.
  EXPECT_EQ(ServiceConnection::kCommFailure, connection_.Transact("Y\r"));
  ExpectSelectorEmpty();
}

TEST_F(ServiceConnectionTest, SilentPeerTimesOut) {
  connection_.SetTimeouts(5000, 100);
  peer_.Expect("X\r", PeerReply::Silent());
  std::string text = "kept";
  EXPECT_EQ(ServiceConnection::kCommFailure,
            connection_.Transact("X\r%s", &text));
  EXPECT_EQ("kept", text);
  ExpectSelectorEmpty();
}

TEST_F(ServiceConnectionTest, EndlessReplyIsCapped) {
  // A reply without CR that grows past the cap ends the exchange instead of
  // growing memory without bound.
  PeerReply reply;
  reply.pieces.assign(
      3, std::string(ServiceConnection::kMaxReplyBytes / 2 + 1, 'x'));
  peer_.Expect("X\r", reply);
  std::string text = "kept";
  EXPECT_EQ(ServiceConnection::kCommFailure,
            connection_.Transact("X\r%s", &text));
  EXPECT_EQ("kept", text);
}

TEST_F(ServiceConnectionTest, LongestAllowedReplyIsRead) {
  std::string body(ServiceConnection::kMaxReplyBytes - 1, 'y');
  peer_.Expect("X\r", body + "\r");
  std::string text;
  EXPECT_EQ(0, connection_.Transact("X\r%s", &text));
  EXPECT_EQ(body, text);
}

TEST_F(ServiceConnectionTest, NotConnectedFailsWithoutSending) {
  ServiceConnection unconnected(GetPlatform(), &selector_);
  int32_t value = -1;
  EXPECT_EQ(ServiceConnection::kCommFailure,
            unconnected.Transact("X\r%d", &value));
  EXPECT_EQ(ServiceConnection::kCommFailure, unconnected.SendRequest("X\r"));
  std::string reply;
  EXPECT_EQ(ServiceConnection::kCommFailure, unconnected.ReceiveReply(&reply));
}

// Connect failures, with peers of their own.
class ServiceConnectionConnectTest : public ::testing::Test {
 protected:
  SocketSelector selector_;
  ServiceConnection connection_{GetPlatform(), &selector_};
};

TEST_F(ServiceConnectionConnectTest, NothingListeningFails) {
  // A port that was just free: bind to an ephemeral port, then let it go.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), size));
  ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size));
  close(fd);
  EXPECT_FALSE(connection_.Connect("127.0.0.1", ntohs(address.sin_port)));
  EXPECT_FALSE(connection_.IsConnected());

  // A failed connect leaves no half-made socket: a later one works.
  ScriptedPeer peer;
  ASSERT_TRUE(peer.Start());
  EXPECT_TRUE(connection_.Connect("127.0.0.1", peer.port()));
  EXPECT_TRUE(connection_.IsConnected());
}

TEST_F(ServiceConnectionConnectTest, UnresolvableHostFails) {
  EXPECT_FALSE(connection_.Connect("no such host", 8855));
}

TEST_F(ServiceConnectionConnectTest, PlatformWithoutSocketsFails) {
  Platform nothing;
  ServiceConnection connection(&nothing, &selector_);
  EXPECT_FALSE(connection.Connect("127.0.0.1", 8855));
}

TEST_F(ServiceConnectionConnectTest, PortNumberWinsOverHostSuffix) {
  ScriptedPeer peer;
  ASSERT_TRUE(peer.Start());
  EXPECT_TRUE(connection_.Connect("127.0.0.1:1", peer.port()));
}

// A peer that accepts but never reads, so the client's send buffers fill.
TEST(ServiceConnectionSendTest, UnreadRequestTimesOut) {
  ScriptedPeer peer;
  peer.set_read_requests(false);
  ASSERT_TRUE(peer.Start());
  SocketSelector selector;
  ServiceConnection connection(GetPlatform(), &selector);
  ASSERT_TRUE(connection.Connect("127.0.0.1", peer.port()));
  connection.SetTimeouts(200, 5000);
  // Far more than the loopback buffers of both ends can take.
  const std::string huge(64 * 1024 * 1024, 'x');
  EXPECT_EQ(ServiceConnection::kCommFailure,
            connection.Transact("HUGE %s\r", huge));
  EXPECT_FALSE(selector.Wait(0));
}

}  // namespace

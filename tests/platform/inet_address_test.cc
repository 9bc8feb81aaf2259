#include "platform/inet_address.h"

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace {

class InetAddressTest : public ::testing::Test {
 protected:
  InetAddress address_;
};

TEST_F(InetAddressTest, SetHostReadsAddressAndOptionalPort) {
  struct Case {
    const char* text;
    bool result;
    uint32_t address;
    uint16_t port;
  };
  const Case cases[] = {
      {"127.0.0.1", true, 0x7F000001, 7},
      {"127.0.0.1:8855", true, 0x7F000001, 8855},
      {"127.0.0.1:abc", true, 0x7F000001, 7},
      {"127.0.0.1:65536", true, 0x7F000001, 7},
      {"127.0.0.1:-1", true, 0x7F000001, 7},
      {"127.0.0.1:", true, 0x7F000001, 7},
      {"10.1.2.3:0", true, 0x0A010203, 0},
      {"a:b:10.0.0.9:99", false, 0, 99},  // the last colon only
      {"255.255.255.255", true, 0xFFFFFFFF, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    InetAddress address;
    address.SetPort(7);
    EXPECT_EQ(c.result, address.SetHost(c.text));
    EXPECT_EQ(c.address, address.GetAddress());
    EXPECT_EQ(c.port, address.GetPort());
  }
}

TEST_F(InetAddressTest, BroadcastAddressKeepsCachedName) {
  ASSERT_TRUE(address_.SetHost("localhost"));
  EXPECT_EQ("localhost", address_.cached_name());
  EXPECT_TRUE(address_.SetHost("255.255.255.255"));
  EXPECT_EQ(0xFFFFFFFFu, address_.GetAddress());
  EXPECT_EQ("localhost", address_.cached_name());
}

TEST_F(InetAddressTest, UnresolvableNameFailsAndKeepsAddress) {
  ASSERT_TRUE(address_.SetHost("10.9.8.7"));
  // Names with a blank are refused by the resolver without a query.
  EXPECT_FALSE(address_.SetHost("no such host:8855"));
  EXPECT_EQ(0x0A090807u, address_.GetAddress());
  EXPECT_EQ(8855, address_.GetPort());
  EXPECT_EQ("no such host", address_.cached_name());
}

TEST_F(InetAddressTest, SetPortStoresNetworkOrder) {
  address_.SetPort(8855);
  EXPECT_EQ(8855, address_.GetPort());
  const uint8_t* record =
      reinterpret_cast<const uint8_t*>(address_.GetSockAddr());
  // The port field follows the two bytes of the family.
  EXPECT_EQ(0x22, record[2]);
  EXPECT_EQ(0x97, record[3]);
}

TEST_F(InetAddressTest, SetAddressClearsCachedName) {
  ASSERT_TRUE(address_.SetHost("localhost"));
  address_.SetAddress(192, 168, 1, 20);
  EXPECT_EQ("192.168.1.20", address_.ToString());
  EXPECT_TRUE(address_.cached_name().empty());

  ASSERT_TRUE(address_.SetHost("localhost"));
  address_.SetAddress(0x0A000001u);
  std::string text;
  address_.ToString(&text);
  EXPECT_EQ("10.0.0.1", text);
  EXPECT_TRUE(address_.cached_name().empty());
}

TEST_F(InetAddressTest, GetHostNameAnswersFromCacheWithoutRefresh) {
  ASSERT_TRUE(address_.SetHost("localhost"));
  std::string name = "unchanged";
  EXPECT_TRUE(address_.GetHostName(&name, false));
  EXPECT_EQ("localhost", name);
}

}  // namespace

#include "platform/inet_address.h"

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace {

TEST(InetAddressTest, SetHostReadsAddressAndOptionalPort) {
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

TEST(InetAddressTest, CachedNameFollowsTheLastNameSet) {
  InetAddress address;
  ASSERT_TRUE(address.SetHost("localhost"));
  std::string name;
  EXPECT_TRUE(address.GetHostName(&name, false));
  EXPECT_EQ("localhost", name);
  // The broadcast address is taken as a number and keeps the name.
  EXPECT_TRUE(address.SetHost("255.255.255.255"));
  EXPECT_EQ("localhost", address.cached_name());
  // A text that cannot be a host name (a blank) keeps the address; it is
  // refused without a query.
  EXPECT_FALSE(address.SetHost("no such host:8855"));
  EXPECT_EQ(0xFFFFFFFFu, address.GetAddress());
  EXPECT_EQ(8855, address.GetPort());
  EXPECT_EQ("no such host", address.cached_name());
  // Setting the number forgets the name.
  address.SetAddress(192, 168, 1, 20);
  EXPECT_EQ("192.168.1.20", address.ToString());
  EXPECT_TRUE(address.cached_name().empty());
}

// A NUL would cut the name short for the resolver: "localhost\0x" is not
// localhost. Texts that cannot be host names are refused without a lookup.
TEST(InetAddressTest, NoLookupOfTextsThatCannotBeHostNames) {
  for (const std::string& text :
       {std::string("localhost\0x", 11), std::string(""), std::string(" "),
        std::string("local host"), std::string(254, 'a')}) {
    InetAddress address;
    address.SetAddress(10, 0, 0, 1);
    EXPECT_FALSE(address.SetHost(text));
    EXPECT_EQ(0x0A000001u, address.GetAddress());
  }
}

TEST(InetAddressTest, SetPortStoresNetworkOrder) {
  InetAddress address;
  address.SetPort(8855);
  const uint8_t* record =
      reinterpret_cast<const uint8_t*>(address.GetSockAddr());
  // The port field follows the two bytes of the family.
  EXPECT_EQ(0x22, record[2]);
  EXPECT_EQ(0x97, record[3]);
}

}  // namespace

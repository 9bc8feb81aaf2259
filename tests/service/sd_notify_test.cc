#include "service/sd_notify.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

TEST(SdNotifyTest, SendsTheStateAsOneDatagram) {
  TempDir dir;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, dir.Join("notify").c_str(),
               sizeof(address.sun_path) - 1);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<struct sockaddr*>(&address),
                    sizeof(address)));

  EXPECT_TRUE(SendServiceManagerState(dir.Join("notify"), "READY=1"));
  struct pollfd entry = {fd, POLLIN, 0};
  ASSERT_EQ(1, poll(&entry, 1, 5000));
  char buffer[64];
  ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
  EXPECT_EQ("READY=1", std::string(buffer, got > 0 ? got : 0));
  close(fd);

  for (const std::string& bad : {std::string(), std::string("relative/path"),
                                 std::string(200, '/'), dir.Join("nobody")}) {
    EXPECT_FALSE(SendServiceManagerState(bad, "READY=1")) << bad;
  }
}

}  // namespace

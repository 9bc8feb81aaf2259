#include "platform/socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "gtest/gtest.h"
#include "platform/inet_address.h"

namespace {

class SocketTest : public ::testing::Test {
 protected:
  void TearDown() override {
    client_.Close();
    server_.Close();
  }

  Socket server_;
  Socket client_;
};

TEST_F(SocketTest, CreateOpensOnlyWhenNothingIsOpen) {
  EXPECT_FALSE(client_.Create(-1, SOCK_STREAM, 0, true));
  EXPECT_EQ(-1, client_.descriptor());
  ASSERT_TRUE(client_.Create(AF_INET, SOCK_STREAM, 0, false));
  int descriptor = client_.descriptor();
  EXPECT_NE(0, fcntl(descriptor, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(client_.Create(AF_INET, SOCK_DGRAM, 0, true));
  EXPECT_EQ(descriptor, client_.descriptor());
}

TEST_F(SocketTest, CloseTwiceSecondIsNoOp) {
  ASSERT_TRUE(client_.Create(AF_INET, SOCK_STREAM, 0, true));
  EXPECT_TRUE(client_.Close());
  EXPECT_EQ(-1, client_.descriptor());
  // The descriptor number may be reused by the next open; a second close
  // must not touch it.
  int reused = dup(STDERR_FILENO);
  ASSERT_GE(reused, 0);
  EXPECT_TRUE(client_.Close());
  EXPECT_NE(-1, fcntl(reused, F_GETFD));
  close(reused);
}

TEST_F(SocketTest, FailuresAreReported) {
  char buffer[4];
  EXPECT_EQ(-1, client_.Send("x", 1, 0));
  EXPECT_EQ(EBADF, client_.GetLastError());
  EXPECT_EQ(-1, client_.Receive(buffer, sizeof(buffer), 0));
  InetAddress address;
  EXPECT_FALSE(client_.Connect(address));
  EXPECT_FALSE(client_.GetPeerName(&address));
  // Accept on a socket that does not listen fails at once, with a line.
  ASSERT_TRUE(server_.Create(AF_INET, SOCK_STREAM, 0, true));
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, server_.Accept(nullptr));
  std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, diagnostics.find("Socket::Accept() call accept() get fail, "
                                 "err : "));
  EXPECT_EQ(" \n", diagnostics.substr(diagnostics.size() - 2));
}

}  // namespace

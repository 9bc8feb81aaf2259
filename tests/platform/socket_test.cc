#include "platform/socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "platform/inet_address.h"

namespace {

class SocketTest : public ::testing::Test {
 protected:
  void TearDown() override {
    client_.Close();
    server_.Close();
    if (accepted_ != nullptr) accepted_->Close();
  }

  // A listening socket on 127.0.0.1 at an ephemeral port, a client connected
  // to it, and the accepted end.
  void Connect() {
    ASSERT_TRUE(server_.Create(AF_INET, SOCK_STREAM, 0, true));
    InetAddress address;
    ASSERT_TRUE(address.SetHost("127.0.0.1"));
    ASSERT_TRUE(server_.Bind(address));
    ASSERT_TRUE(server_.Listen(1));
    InetAddress bound;
    socklen_t size = bound.GetSockAddrSize();
    ASSERT_EQ(0, getsockname(server_.descriptor(), bound.GetSockAddr(), &size));
    ASSERT_TRUE(client_.Create(AF_INET, SOCK_STREAM, 0, true));
    ASSERT_TRUE(client_.Connect(bound));
    InetAddress peer;
    accepted_ = server_.Accept(&peer);
    ASSERT_NE(nullptr, accepted_);
    EXPECT_EQ(0x7F000001u, peer.GetAddress());
  }

  Socket server_;
  Socket client_;
  std::unique_ptr<Socket> accepted_;
};

TEST_F(SocketTest, CreateOnOpenSocketKeepsDescriptor) {
  ASSERT_TRUE(client_.Create(AF_INET, SOCK_STREAM, 0, true));
  int descriptor = client_.descriptor();
  EXPECT_TRUE(client_.Create(AF_INET, SOCK_DGRAM, 0, false));
  EXPECT_EQ(descriptor, client_.descriptor());
  EXPECT_EQ(0, fcntl(descriptor, F_GETFL) & O_NONBLOCK);
}

TEST_F(SocketTest, CreateNonBlockingSwitchesDescriptor) {
  ASSERT_TRUE(client_.Create(AF_INET, SOCK_STREAM, 0, false));
  EXPECT_NE(0, fcntl(client_.descriptor(), F_GETFL) & O_NONBLOCK);
}

TEST_F(SocketTest, CreateFailureLeavesNoDescriptor) {
  EXPECT_FALSE(client_.Create(-1, SOCK_STREAM, 0, true));
  EXPECT_EQ(-1, client_.descriptor());
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

TEST_F(SocketTest, SendAndReceiveOverLoopback) {
  Connect();
  const std::string text = "DEV STATUS_LOAD\r";
  EXPECT_EQ(static_cast<ssize_t>(text.size()),
            client_.Send(text.data(), text.size()));
  char buffer[64] = {};
  EXPECT_EQ(static_cast<ssize_t>(text.size()),
            accepted_->ReceivePeek(buffer, sizeof(buffer)));
  std::memset(buffer, 0, sizeof(buffer));
  EXPECT_EQ(static_cast<ssize_t>(text.size()),
            accepted_->Receive(buffer, sizeof(buffer), 0));
  EXPECT_EQ(text, std::string(buffer));

  InetAddress peer;
  EXPECT_TRUE(accepted_->GetPeerName(&peer));
  EXPECT_EQ("127.0.0.1", peer.ToString());
}

TEST_F(SocketTest, ReceiveReportsClosedPeerAsZero) {
  Connect();
  client_.Close();
  char buffer[8];
  EXPECT_EQ(0, accepted_->Receive(buffer, sizeof(buffer), 0));
}

TEST_F(SocketTest, AcceptFailureGivesNull) {
  ASSERT_TRUE(server_.Create(AF_INET, SOCK_STREAM, 0, true));
  // Not listening: accept fails at once.
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, server_.Accept(nullptr));
  std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, diagnostics.find("Socket::Accept() call accept() get fail, "
                                 "err : "));
  EXPECT_EQ(" \n", diagnostics.substr(diagnostics.size() - 2));
}

TEST_F(SocketTest, OperationsOnClosedSocketFail) {
  char buffer[4];
  EXPECT_EQ(-1, client_.Send("x", 1, 0));
  EXPECT_EQ(EBADF, client_.GetLastError());
  EXPECT_EQ(-1, client_.Receive(buffer, sizeof(buffer), 0));
  InetAddress address;
  EXPECT_FALSE(client_.Connect(address));
  EXPECT_FALSE(client_.GetPeerName(&address));
}

}  // namespace

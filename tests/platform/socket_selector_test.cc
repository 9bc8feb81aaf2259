#include "platform/socket_selector.h"

#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "gtest/gtest.h"
#include "platform/socket.h"

namespace {

class SocketSelectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds_));
    left_socket_ = std::make_unique<Socket>(fds_[0]);
    right_socket_ = std::make_unique<Socket>(fds_[1]);
  }
  void TearDown() override {
    if (left_socket_ != nullptr) left_socket_->Close();
    if (right_socket_ != nullptr) right_socket_->Close();
  }

  int fds_[2] = {-1, -1};
  std::unique_ptr<Socket> left_socket_;
  std::unique_ptr<Socket> right_socket_;
  SocketSelector selector_;
};

TEST_F(SocketSelectorTest, AddRefusesDescriptorsOutsideTheSets) {
  // Descriptors that a set has no bit for must never be set: FD_SET on them
  // writes past the end of the set.
  const int bad[] = {-1, FD_SETSIZE, FD_SETSIZE + 1, 100000};
  for (int descriptor : bad) {
    SCOPED_TRACE(descriptor);
    Socket socket(descriptor);
    EXPECT_FALSE(selector_.Add(SocketSelector::kRead, socket));
    selector_.Remove(SocketSelector::kRead, socket);
    EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, socket));
  }
  EXPECT_FALSE(selector_.Add(3, *left_socket_));
  EXPECT_FALSE(selector_.Add(-1, *left_socket_));
  EXPECT_TRUE(selector_.Add(SocketSelector::kRead, *left_socket_));
}

TEST_F(SocketSelectorTest, WaitTimesOutWhenNothingIsReady) {
  ASSERT_TRUE(selector_.Add(SocketSelector::kRead, *left_socket_));
  EXPECT_FALSE(selector_.Wait(20));
  EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, *left_socket_));
  EXPECT_FALSE(selector_.IsSet(SocketSelector::kWrite, *left_socket_));
}

TEST_F(SocketSelectorTest, WaitReportsReadableAndWritable) {
  ASSERT_TRUE(selector_.Add(SocketSelector::kRead, *left_socket_));
  ASSERT_EQ(1, write(fds_[1], "x", 1));
  EXPECT_TRUE(selector_.Wait(1000));
  EXPECT_TRUE(selector_.IsSet(SocketSelector::kRead, *left_socket_));
  EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, *right_socket_));

  selector_.Remove(SocketSelector::kRead, *left_socket_);
  ASSERT_TRUE(selector_.Add(SocketSelector::kWrite, *right_socket_));
  EXPECT_TRUE(selector_.Wait(1000));
  EXPECT_TRUE(selector_.IsSet(SocketSelector::kWrite, *right_socket_));
  EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, *left_socket_));
}

TEST_F(SocketSelectorTest, RemovedSocketIsNotWaitedOn) {
  ASSERT_EQ(1, write(fds_[1], "x", 1));
  ASSERT_TRUE(selector_.Add(SocketSelector::kRead, *left_socket_));
  selector_.Remove(SocketSelector::kRead, *left_socket_);
  EXPECT_FALSE(selector_.Wait(0));
}

TEST_F(SocketSelectorTest, NegativeTimeoutReturnsAtOnce) {
  ASSERT_TRUE(selector_.Add(SocketSelector::kRead, *left_socket_));
  EXPECT_FALSE(selector_.Wait(-5));
}

}  // namespace

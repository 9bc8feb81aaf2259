#include "platform/socket_selector.h"

#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include "gtest/gtest.h"
#include "platform/socket.h"

namespace {

class SocketSelectorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(paired_); }
  void TearDown() override {
    left_.Close();
    right_.Close();
  }

  // Members start in this order: the pair first, then its two ends.
  int fds_[2] = {-1, -1};
  bool paired_ = socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) == 0;
  Socket left_{fds_[0]};
  Socket right_{fds_[1]};
  SocketSelector selector_;
};

TEST_F(SocketSelectorTest, AddRefusesDescriptorsOutsideTheSets) {
  // A set has no bit for these: FD_SET on them writes past its end.
  for (int descriptor : {-1, FD_SETSIZE, FD_SETSIZE + 1, 100000}) {
    SCOPED_TRACE(descriptor);
    Socket socket(descriptor);
    EXPECT_FALSE(selector_.Add(SocketSelector::kRead, socket));
    selector_.Remove(SocketSelector::kRead, socket);
    EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, socket));
  }
  EXPECT_FALSE(selector_.Add(3, left_));
  EXPECT_FALSE(selector_.Add(-1, left_));
}

TEST_F(SocketSelectorTest, WaitReportsReadyOrTimesOut) {
  ASSERT_TRUE(selector_.Add(SocketSelector::kRead, left_));
  EXPECT_FALSE(selector_.Wait(20));
  EXPECT_FALSE(selector_.Wait(-5));  // a negative wait returns at once
  EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, left_));

  ASSERT_EQ(1, write(right_.descriptor(), "x", 1));
  EXPECT_TRUE(selector_.Wait(1000));
  EXPECT_TRUE(selector_.IsSet(SocketSelector::kRead, left_));
  EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, right_));

  // A removed socket is no longer waited on.
  selector_.Remove(SocketSelector::kRead, left_);
  EXPECT_FALSE(selector_.Wait(0));
  ASSERT_TRUE(selector_.Add(SocketSelector::kWrite, right_));
  EXPECT_TRUE(selector_.Wait(1000));
  EXPECT_TRUE(selector_.IsSet(SocketSelector::kWrite, right_));
  EXPECT_FALSE(selector_.IsSet(SocketSelector::kRead, left_));
}

}  // namespace

#include "agent/pipe_pipe.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "agent/protocol/result_codes.h"
#include "gtest/gtest.h"

namespace {

// A PipePipe reading from one pipe(2) and writing to another; the test
// holds the far ends.
class PipePipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    ASSERT_EQ(0, pipe(in));
    ASSERT_EQ(0, pipe(out));
    feed_ = in[1];
    drain_ = out[0];
    pipe_ = new PipePipe(in[0], out[1]);
  }
  void TearDown() override {
    if (pipe_ != nullptr) pipe_->Release();
    if (feed_ >= 0) close(feed_);
    if (drain_ >= 0) close(drain_);
  }
  void Feed(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()),
              write(feed_, bytes.data(), bytes.size()));
  }

  PipePipe* pipe_ = nullptr;
  int feed_ = -1;
  int drain_ = -1;
};

TEST_F(PipePipeTest, ReadTimeoutTakesWhatArrivesWithinItsLimit) {
  char bytes[4] = {};
  EXPECT_EQ(result::kSuccess, pipe_->ReadTimeout(bytes, 0, 100000));
  EXPECT_EQ(result::kTimeout, pipe_->ReadTimeout(bytes, 1, 0));
  Feed("A");
  EXPECT_EQ(result::kSuccess, pipe_->ReadTimeout(bytes, 1, 0));
  EXPECT_EQ('A', bytes[0]);
  // Two bytes arrive, the third never does.
  Feed("xy");
  EXPECT_EQ(result::kTimeout, pipe_->ReadTimeout(bytes, 3, 20));
  EXPECT_EQ("xy", std::string(bytes, 2));
}

TEST_F(PipePipeTest, ClosedWriterGives15) {
  Feed("z");
  close(feed_);
  feed_ = -1;
  char byte = 0;
  EXPECT_EQ(result::kSuccess, pipe_->ReadTimeout(&byte, 1, 1000));
  EXPECT_EQ(result::kPipeClosed, pipe_->ReadTimeout(&byte, 1, 1000));
  EXPECT_EQ(result::kPipeClosed, pipe_->Read(&byte, 1));
}

TEST_F(PipePipeTest, WriteReachesTheReaderOrGives15WhenItVanished) {
  EXPECT_EQ(result::kSuccess, pipe_->Write("S0E 8\n", 6));
  char bytes[16] = {};
  ASSERT_EQ(6, read(drain_, bytes, sizeof bytes));
  EXPECT_EQ("S0E 8\n", std::string(bytes, 6));
  close(drain_);
  drain_ = -1;
  EXPECT_EQ(result::kPipeClosed, pipe_->Write("S0E 8\n", 6));
}

TEST_F(PipePipeTest, DescriptorBeyondSelectSetIsRefusedNotOverrun) {
  struct rlimit limit;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  const rlim_t wanted = FD_SETSIZE + 16;
  if (limit.rlim_cur < wanted) {
    if (limit.rlim_max < wanted) GTEST_SKIP() << "descriptor limit too low";
    limit.rlim_cur = wanted;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
  }
  int high = dup2(pipe_->input_fd(), FD_SETSIZE + 4);
  ASSERT_EQ(FD_SETSIZE + 4, high);
  PipePipe far(high, dup(pipe_->output_fd()));
  Feed("k");
  char byte = 0;
  EXPECT_EQ(result::kPipeClosed, far.ReadTimeout(&byte, 1, 10));
}

}  // namespace

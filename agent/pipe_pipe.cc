#include "agent/pipe_pipe.h"

#include <sys/select.h>
#include <unistd.h>

#include "agent/protocol/result_codes.h"

PipePipe::PipePipe(int32_t input_fd, int32_t output_fd)
    : input_fd_(input_fd), output_fd_(output_fd) {}

PipePipe::~PipePipe() {
  if (input_fd_ >= 0) close(input_fd_);
  if (output_fd_ >= 0) close(output_fd_);
}

IPipe* PipePipe::Duplicate() {
  int input = dup(input_fd_);
  int output = dup(output_fd_);
  if (input < 0 || output < 0) {
    if (input >= 0) close(input);
    if (output >= 0) close(output);
    return nullptr;
  }
  return new PipePipe(input, output);
}

int32_t PipePipe::Read(char* buffer, int32_t size) {
  int32_t done = 0;
  while (done < size) {
    ssize_t got =
        read(input_fd_, buffer + done, static_cast<size_t>(size - done));
    if (got <= 0) return result::kPipeClosed;
    done += static_cast<int32_t>(got);
  }
  return result::kSuccess;
}

int32_t PipePipe::ReadTimeout(char* buffer, int32_t count, uint32_t millis) {
  // An fd_set holds FD_SETSIZE descriptors; a larger number would be written
  // past its end, so such a descriptor counts as a broken channel.
  if (input_fd_ < 0 || input_fd_ >= FD_SETSIZE) return result::kPipeClosed;
  for (int32_t i = 0; i < count; ++i) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(input_fd_, &readable);
    struct timeval limit;
    limit.tv_sec = static_cast<time_t>(millis / 1000);
    limit.tv_usec = static_cast<suseconds_t>((millis % 1000) * 1000);
    // Only the set's own descriptors are examined: the table size of the
    // process may exceed what an fd_set can hold.
    int ready = select(input_fd_ + 1, &readable, nullptr, nullptr, &limit);
    if (ready < 0) return result::kPipeClosed;
    if (ready == 0) return result::kTimeout;
    if (!FD_ISSET(input_fd_, &readable)) return result::kPipeClosed;
    if (read(input_fd_, buffer + i, 1) <= 0) return result::kPipeClosed;
  }
  return result::kSuccess;
}

int32_t PipePipe::Write(const char* data, int32_t length) {
  if (length < 0) return result::kPipeClosed;
  ssize_t written = write(output_fd_, data, static_cast<size_t>(length));
  if (written != static_cast<ssize_t>(length)) return result::kPipeClosed;
  return result::kSuccess;
}

void PipePipe::Release() { delete this; }

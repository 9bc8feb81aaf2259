#pragma once

#include <cstdint>

#include "agent/i_pipe.h"

// The real pipe channel: one descriptor to read commands from and one to
// write replies to, both owned (closed by the destructor, input first). The
// agent builds one over its standard input and output.
class PipePipe final : public IPipe {
 public:
  // Takes the descriptors as they are, without duplicating them.
  PipePipe(int32_t input_fd, int32_t output_fd);
  ~PipePipe() override;

  // A new PipePipe over dup() copies of both descriptors, or null when
  // either duplication fails (the other copy is closed again).
  IPipe* Duplicate() override;

  // Blocks until size bytes have been read; 15 on end of file or error.
  int32_t Read(char* buffer, int32_t size) override;

  // Reads count bytes one at a time, waiting at most millis for each with
  // select(). 18 when a wait runs out, 15 on end of file, an error or an
  // interrupted wait. Bytes read before a failure stay in the buffer.
  int32_t ReadTimeout(char* buffer, int32_t count, uint32_t millis) override;

  // One write() of the whole buffer; an error or a short write gives 15.
  int32_t Write(const char* data, int32_t length) override;

  void Release() override;

  int32_t input_fd() const { return input_fd_; }
  int32_t output_fd() const { return output_fd_; }

 private:
  int32_t input_fd_;
  int32_t output_fd_;
};

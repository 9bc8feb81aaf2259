#pragma once

#include <cstdint>

// IPipe is the agent's byte channel to the UPS service; PipePipe is the real
// one, over two descriptors. Results: 0 success, 15 closed or broken,
// 18 time-out.
class IPipe {
 public:
  IPipe() = default;
  IPipe(const IPipe&) = delete;
  IPipe& operator=(const IPipe&) = delete;

  // A new pipe over duplicates of both descriptors, owned by the caller, or
  // null.
  virtual IPipe* Duplicate() = 0;

  // Blocks until exactly size bytes have arrived.
  virtual int32_t Read(char* buffer, int32_t size) = 0;

  // Reads count bytes, waiting at most millis for each one.
  virtual int32_t ReadTimeout(char* buffer, int32_t count, uint32_t millis) = 0;

  // Writes the whole buffer in one write; a short write is a failure.
  virtual int32_t Write(const char* data, int32_t length) = 0;

  // Deletes this object.
  virtual void Release() = 0;
  virtual ~IPipe() = default;
};

#pragma once

#include <cstdint>
#include <cstring>

// One request/reply exchange with a unit on the serial line: the request
// bytes to write and the reply bytes as received. A frame starts zero-filled
// with read_length -1 (read until the line goes quiet); a protocol sets
// read_length when its reply has a fixed size. After an exchange read_length
// holds the number of bytes received, never more than kBufferSize.
struct CommandFrame {
  static constexpr int32_t kBufferSize = 128;

  int32_t write_length = 0;
  int32_t read_length = -1;
  uint8_t command[kBufferSize] = {};
  uint8_t reply[kBufferSize] = {};

  // Sets the request to the given bytes (cut at kBufferSize) and the reply
  // length expected; clears the reply.
  void Set(const void* bytes, int32_t length, int32_t expected_reply) {
    if (length < 0) length = 0;
    if (length > kBufferSize) length = kBufferSize;
    memset(command, 0, sizeof command);
    memset(reply, 0, sizeof reply);
    if (length > 0) memcpy(command, bytes, static_cast<size_t>(length));
    write_length = length;
    read_length = expected_reply;
  }

  // Sets a text request such as "D\r"; the write length is the text's length.
  void SetText(const char* text, int32_t expected_reply) {
    Set(text, static_cast<int32_t>(strlen(text)), expected_reply);
  }
};

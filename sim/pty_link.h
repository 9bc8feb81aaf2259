#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The simulator's end of the serial cable: a pseudo-terminal in raw mode
// whose slave side is published under a symbolic link (for example
// DIR/ttyS0), which the agent opens like a serial port. The simulator keeps
// a descriptor of the slave open itself, so the master neither reports a
// hang-up nor fails its reads while the agent has the port closed between
// detections. Modem lines do not exist on a pseudo-terminal.
class PtyLink final {
 public:
  PtyLink() = default;
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;
  // Removes the link (if it still points at this pty) and closes both sides.
  ~PtyLink();

  // Opens the pseudo-terminal, sets raw mode and creates the link. An
  // existing symbolic link at the path is replaced; any other file there is
  // left alone and makes Open fail. On failure writes a message to *error
  // and returns false with nothing left behind.
  bool Open(const std::string& link_path, std::string* error);

  // Removes the link and closes the pty; nothing when not open.
  void Close();

  // The master descriptor to wait on for readability; -1 when closed.
  int fd() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }
  const std::string& link_path() const { return link_path_; }

  // Reads what has arrived, without blocking: the number of bytes stored
  // (at most capacity), 0 when nothing is waiting, -1 on an error.
  int32_t Read(uint8_t* buffer, size_t capacity);

  // Writes all bytes, waiting at most timeout_ms for room in the line's
  // buffer; returns the number written (fewer when the agent does not read
  // and the buffer stays full).
  size_t Write(const uint8_t* data, size_t size, int32_t timeout_ms);

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
  std::string link_path_;
};

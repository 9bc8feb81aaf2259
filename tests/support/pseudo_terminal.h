#pragma once

#include <cstdint>
#include <string>

// A pseudo-terminal pair for tests of serial code: the slave side stands in
// for a serial port (open it by slave_path()), the test talks to it through
// the master side. Both are closed by the destructor.
class PseudoTerminal final {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  // Writes bytes into the port's input (what a unit would send).
  bool Send(const std::string& bytes);
  // Collects what the port wrote until `count` bytes have come or
  // `limit_millis` passed without any.
  std::string Receive(size_t count, int limit_millis);
  // Throws away whatever the port wrote so far.
  void Discard();

  // Waits until descriptor fd has input to read, at most limit_millis.
  static bool WaitReadable(int fd, int limit_millis);

 private:
  int master_ = -1;
  int slave_keeper_ = -1;  // keeps the slave side alive between opens
  std::string slave_path_;
};

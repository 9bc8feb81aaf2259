#pragma once

// A critical section: Enter and Leave around the code it guards.
// LinuxSynchronize is the real one.
class Synchronize {
 public:
  Synchronize() = default;
  Synchronize(const Synchronize&) = delete;
  Synchronize& operator=(const Synchronize&) = delete;

  // The unlock's result, 0 on success.
  virtual int Leave() = 0;
  // Always 1.
  virtual int Enter() = 0;
  virtual ~Synchronize() = default;
};

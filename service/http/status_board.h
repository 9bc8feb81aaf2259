#pragma once

#include <mutex>

#include "service/http/status_view.h"

// Where the service loop leaves the latest StatusView for the HTTP threads.
// Publish and Copy each hold a mutex only for the copy of one view, so the
// loop never waits on a slow client.
class StatusBoard final {
 public:
  StatusBoard() = default;
  StatusBoard(const StatusBoard&) = delete;
  StatusBoard& operator=(const StatusBoard&) = delete;

  void Publish(const StatusView& view);
  StatusView Copy() const;

 private:
  mutable std::mutex mutex_;
  StatusView view_;
};

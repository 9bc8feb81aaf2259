#pragma once

#include <memory>

// Objects of the agent's interfaces (IProtocol, IMedia, IPipe,
// PlatformFactory, ...) are given back through their Release operation, never
// by a plain delete. ReleaseDeleter lets a std::unique_ptr do that, and
// Released<T> is the owning pointer type for such objects.
struct ReleaseDeleter {
  template <typename T>
  void operator()(T* object) const {
    if (object != nullptr) object->Release();
  }
};

template <typename T>
using Released = std::unique_ptr<T, ReleaseDeleter>;

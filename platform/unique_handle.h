// One owner for every kind of handle the program holds: registry keys,
// modules, mutexes, fonts. Move-only, closes on destruction, never converts
// to the raw handle by itself.
#pragma once

#include <utility>

namespace platform {

template <class Handle, auto Close, Handle None = Handle{}>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  [[nodiscard]] Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != None; }

  // Closes what is held and takes `handle` instead.
  void reset(Handle handle = None) {
    Handle old = std::exchange(handle_, handle);
    if (old != None) {
      Close(old);
    }
  }

  [[nodiscard]] Handle release() { return std::exchange(handle_, None); }

  // For calls that hand a new handle back through a pointer: closes what is
  // held first, so nothing leaks when the same owner is filled twice.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = None;
};

}  // namespace platform

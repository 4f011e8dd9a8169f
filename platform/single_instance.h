#pragma once

#include <string>

#include "platform/unique_handle.h"
#include "platform/win32_api.h"

namespace platform {

// Tells whether another instance of the program runs in this session, by a
// named mutex that this instance then holds until it ends.
class SingleInstance {
 public:
  explicit SingleInstance(std::string name) : name_(std::move(name)) {}

  // True when the mutex existed already, also when it exists but may not be
  // opened (an elevated instance's, seen from a limited one). Ask once: this
  // instance claims it.
  bool AnotherInstanceRunning() {
    mutex_.reset(CreateMutexA(nullptr, 0, name_.c_str()));
    const DWORD error = GetLastError();
    return mutex_ ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
  }

 private:
  std::string name_;
  UniqueHandle<HANDLE, &::CloseHandle> mutex_;
};

}  // namespace platform

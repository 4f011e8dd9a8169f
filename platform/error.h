// The program's own errors: a fixed text and nothing to allocate, so that
// raising one cannot fail in turn, and no string class of the runtime's
// error types is pulled into the program.
#pragma once

#include <exception>

namespace platform {

class Error : public std::exception {
 public:
  explicit Error(const char* what) noexcept : what_(what) {}
  [[nodiscard]] const char* what() const noexcept override { return what_; }

 private:
  const char* what_;  // a literal
};

}  // namespace platform

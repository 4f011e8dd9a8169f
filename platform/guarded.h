#pragma once

namespace platform {

// Runs one statement of a sequence in which every statement may fail on its
// own: a failure skips that statement alone, a value it was to deliver keeps
// its previous value, and the sequence goes on. Used by the start-up, the
// settings load and the language string loader, and where an event crosses
// from Windows into the program.
template <class Statement>
void Guarded(Statement&& statement) noexcept {
  try {
    statement();
  } catch (...) {  // NOLINT(bugprone-empty-catch): skipping the statement is the point
  }
}

}  // namespace platform

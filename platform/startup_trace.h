// Time stamps of a run's start-up, for the start-up benchmark's own build
// only (CMake option FENWAREL_STARTUP_TRACE). In every other build a mark
// is nothing at all.
//
// Each mark takes the wall clock, which Windows also uses for a process's
// creation and exit times, so the benchmark can split a run from creation
// to exit. The marks go to startup-trace.txt beside the program when the
// last one is made, one line per run: "label time label time ...", times in
// 100-nanosecond units.
#pragma once

#if defined(FENWAREL_STARTUP_TRACE) && defined(_WIN32)

#include <windows.h>

#include <array>
#include <cstdio>
#include <string>

namespace platform {

class StartupTrace {
 public:
  static void Mark(const char* label) {
    StartupTrace& trace = Instance();
    if (trace.count_ < trace.marks_.size()) {
      trace.marks_[trace.count_++] = {label, trace.Now()};
    }
  }

  // The last mark of a run: writes all of them.
  static void Finish(const char* label) {
    Mark(label);
    Instance().Write();
  }

 private:
  struct Stamp {
    const char* label;
    unsigned long long time;
  };

  StartupTrace() {
    clock_ = reinterpret_cast<Clock>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
  }

  static StartupTrace& Instance() {
    static StartupTrace trace;
    return trace;
  }

  unsigned long long Now() const {
    FILETIME now{};
    if (clock_ != nullptr) {
      clock_(&now);
    } else {
      GetSystemTimeAsFileTime(&now);
    }
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32U) | now.dwLowDateTime;
  }

  void Write() const {
    std::string path(MAX_PATH, '\0');
    path.resize(GetModuleFileNameA(nullptr, path.data(), MAX_PATH));
    path = path.substr(0, path.find_last_of('\\') + 1) + "startup-trace.txt";
    std::string line;
    for (std::size_t i = 0; i < count_; ++i) {
      line += std::string(marks_[i].label) + " " + std::to_string(marks_[i].time) + " ";
    }
    line += "\n";
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
    }
  }

  using Clock = void(WINAPI*)(FILETIME*);
  Clock clock_ = nullptr;
  std::array<Stamp, 32> marks_{};
  std::size_t count_ = 0;
};

inline void TraceMark(const char* label) { StartupTrace::Mark(label); }
inline void TraceFinish(const char* label) { StartupTrace::Finish(label); }

}  // namespace platform

#else

namespace platform {

inline void TraceMark(const char* /*label*/) {}
inline void TraceFinish(const char* /*label*/) {}

}  // namespace platform

#endif

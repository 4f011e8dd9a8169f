// Start-up of Fenwarel.exe against its floors, measured in one run on the
// same machine: the time from process creation until the dialog is visible
// against a program that shows the same four standard controls with the same
// manifest, and the time of an "-i" run until the process has ended against
// that program creating its window hidden, posting one message and ending.
//
//   startup_bench [ROUNDS [RUNS]]   RUNS runs (3) of ROUNDS interleaved rounds
//                                   (61): each run's medians and ratios, then
//                                   the median of the runs' medians and their
//                                   range, and of the rounds' own ratios
//   startup_bench trace [ROUNDS]    in the build with FENWAREL_STARTUP_TRACE:
//                                   where an -i run and the hidden floor spend
//                                   their time, from creation to exit, median
//                                   of each phase; -i also where no service
//                                   library is installed
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "build_kind.h"
#include "in_turn.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string BinDir() {
  std::string path(MAX_PATH, '\0');
  path.resize(GetModuleFileNameA(nullptr, path.data(), MAX_PATH));
  return path.substr(0, path.find_last_of('\\') + 1);
}

PROCESS_INFORMATION Start(const std::string& exe, const std::string& arguments) {
  std::string commandLine = "\"" + exe + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     BinDir().c_str(), &startup, &info) == 0) {
    std::fprintf(stderr, "cannot start %s\n", exe.c_str());
    std::exit(1);
  }
  CloseHandle(info.hThread);
  return info;
}

// A closed window leaves the desktop to repaint what it covered, and an ended
// process leaves Wine and the X server to tidy up after it: neither is
// charged to the next start.
void Settle() { Sleep(100); }

// Milliseconds until a visible window of `className` exists, then closes it.
double UntilVisible(const std::string& exe, const std::string& arguments, const char* className) {
  auto begin = Clock::now();
  PROCESS_INFORMATION info = Start(exe, arguments);
  HWND window = nullptr;
  while ((window = FindWindowA(className, nullptr)) == nullptr || IsWindowVisible(window) == 0) {
    Sleep(1);
  }
  double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  PostMessageA(window, WM_CLOSE, 0, 0);
  WaitForSingleObject(info.hProcess, 10000);
  CloseHandle(info.hProcess);
  Settle();
  return elapsed;
}

double UntilExit(const std::string& exe, const std::string& arguments) {
  auto begin = Clock::now();
  PROCESS_INFORMATION info = Start(exe, arguments);
  WaitForSingleObject(info.hProcess, INFINITE);
  double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  CloseHandle(info.hProcess);
  Settle();
  return elapsed;
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const std::size_t half = samples.size() / 2;
  return samples.size() % 2 == 1 ? samples[half] : (samples[half - 1] + samples[half]) / 2;
}

// 32-bit Windows, 64-bit Windows through WoW64, or the twin's own 64-bit Windows.
const char* WindowsKind() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  if (sizeof(void*) == 8) {
    return "64-bit Windows (win64 prefix)";
  }
  return wow64 != FALSE ? "64-bit Windows, through WoW64 (win64 prefix)"
                        : "32-bit Windows (win32 prefix)";
}

struct RunMedians {
  double dialog, themed, install, hidden;
  double dialogMinima, installMinima;  // ratios of the minima, which contention hardly moves
  // Medians of each round's own ratio: the two starts of a round meet the
  // machine in nearly the same state, so a drift of its speed cancels out.
  double dialogPaired, installPaired;
};

double Minimum(const std::vector<double>& samples) {
  return *std::min_element(samples.begin(), samples.end());
}

double PairedRatio(const std::vector<double>& program, const std::vector<double>& floor) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < program.size(); ++i) {
    ratios.push_back(program[i] / floor[i]);
  }
  return Median(ratios);
}

RunMedians OneRun(int rounds, const std::string& fenwarel, const std::string& floor) {
  std::vector<double> dialog, themed, install, hidden;
  UntilVisible(floor, "themed", "FenwarelBenchFloor");  // warm the caches alike
  UntilVisible(fenwarel, "", "ZFenwarel");
  for (int round = 0; round < rounds; ++round) {  // interleaved, so drift hits both alike
    bench::InTurn(  // neither always starts right after the other's window closed
        round, [&] { themed.push_back(UntilVisible(floor, "themed", "FenwarelBenchFloor")); },
        [&] { dialog.push_back(UntilVisible(fenwarel, "", "ZFenwarel")); });
    bench::InTurn(
        round, [&] { hidden.push_back(UntilExit(floor, "hidden")); },
        [&] { install.push_back(UntilExit(fenwarel, "-i")); });
  }
  return {Median(dialog),
          Median(themed),
          Median(install),
          Median(hidden),
          Minimum(dialog) / Minimum(themed),
          Minimum(install) / Minimum(hidden),
          PairedRatio(dialog, themed),
          PairedRatio(install, hidden)};
}

// The median of `values` and their range, as "median (min to max)".
std::string Spread(std::vector<double> values, const char* format) {
  std::sort(values.begin(), values.end());
  auto text = [&](double value) {
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, value);
    return std::string(buffer.data());
  };
  return text(Median(values)) + " (" + text(values.front()) + " to " + text(values.back()) + ")";
}

int Measure(int rounds, int runs) {
  const std::string fenwarel = BinDir() + "Fenwarel.exe";
  const std::string floor = BinDir() + "floor_bench.exe";
  PrintBuildKind();
  std::printf("on: %s\n", WindowsKind());
  std::printf("%d runs of %d interleaved rounds; medians per run\n", runs, rounds);
  std::vector<RunMedians> results;
  for (int run = 1; run <= runs; ++run) {
    const RunMedians medians = OneRun(rounds, fenwarel, floor);
    results.push_back(medians);
    std::printf(
        "run %d: dialog visible %6.1f ms, floor %6.1f ms, ratio %.3f (rounds %.3f, minima %.3f);"
        " -i run %6.1f ms, floor %6.1f ms, ratio %.3f (rounds %.3f, minima %.3f)\n",
        run, medians.dialog, medians.themed, medians.dialog / medians.themed, medians.dialogPaired,
        medians.dialogMinima, medians.install, medians.hidden, medians.install / medians.hidden,
        medians.installPaired, medians.installMinima);
    std::fflush(stdout);
  }
  auto column = [&](auto pick) {
    std::vector<double> values;
    for (const RunMedians& medians : results) {
      values.push_back(pick(medians));
    }
    return values;
  };
  std::printf("median of the runs' medians (range):\n");
  std::printf(
      "dialog visible: Fenwarel %s ms, floor %s ms, ratio %s\n",
      Spread(column([](const RunMedians& m) { return m.dialog; }), "%.1f").c_str(),
      Spread(column([](const RunMedians& m) { return m.themed; }), "%.1f").c_str(),
      Spread(column([](const RunMedians& m) { return m.dialog / m.themed; }), "%.3f").c_str());
  std::printf(
      "-i run:         Fenwarel %s ms, floor %s ms, ratio %s\n",
      Spread(column([](const RunMedians& m) { return m.install; }), "%.1f").c_str(),
      Spread(column([](const RunMedians& m) { return m.hidden; }), "%.1f").c_str(),
      Spread(column([](const RunMedians& m) { return m.install / m.hidden; }), "%.3f").c_str());
  std::printf("rounds' own ratios, median of the runs' medians: dialog visible %s, -i run %s\n",
              Spread(column([](const RunMedians& m) { return m.dialogPaired; }), "%.3f").c_str(),
              Spread(column([](const RunMedians& m) { return m.installPaired; }), "%.3f").c_str());
  std::printf("ratio of the minima: dialog visible %s, -i run %s\n",
              Spread(column([](const RunMedians& m) { return m.dialogMinima; }), "%.3f").c_str(),
              Spread(column([](const RunMedians& m) { return m.installMinima; }), "%.3f").c_str());
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  GetFileAttributesExA(fenwarel.c_str(), GetFileExInfoStandard, &attributes);
  std::printf("Fenwarel.exe:   %lu bytes (%.1f KiB)\n", attributes.nFileSizeLow,
              attributes.nFileSizeLow / 1024.0);
  return 0;
}

// --- Where the time goes -----------------------------------------------------------

unsigned long long Ticks(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
}

// The wall clock, as the program's marks take it.
unsigned long long WallClock() {
  using Clock = void(WINAPI*)(FILETIME*);
  static const auto precise = reinterpret_cast<Clock>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
  FILETIME now{};
  if (precise != nullptr) {
    precise(&now);
  } else {
    GetSystemTimeAsFileTime(&now);
  }
  return Ticks(now);
}

// One run's phases in milliseconds, in order: from the call that starts it
// to its creation, from creation to the first mark, from each mark to the
// next (named by the later one), from the last mark to the process's exit;
// last what this benchmark saw: the time until the window was visible or
// the process had ended.
// A program with a dialog class is closed once its window is visible.
std::vector<std::pair<std::string, double>> TracedRun(const std::string& exe,
                                                      const std::string& arguments,
                                                      const char* dialogClass) {
  const std::string folder = exe.substr(0, exe.find_last_of('\\') + 1);
  const std::string traceFile = folder + "startup-trace.txt";
  DeleteFileA(traceFile.c_str());
  const auto begin = Clock::now();
  const unsigned long long called = WallClock();
  PROCESS_INFORMATION info = Start(exe, arguments);
  double seen = 0;
  if (dialogClass != nullptr) {
    HWND window = nullptr;
    while ((window = FindWindowA(dialogClass, nullptr)) == nullptr ||
           IsWindowVisible(window) == 0) {
      Sleep(1);
    }
    seen = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  if (dialogClass == nullptr) {
    seen = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  }
  Settle();
  FILETIME creation{}, exit{}, kernel{}, user{};
  GetProcessTimes(info.hProcess, &creation, &exit, &kernel, &user);
  CloseHandle(info.hProcess);

  std::string line;
  std::getline(std::ifstream(traceFile), line);
  std::istringstream marks(line);
  std::vector<std::pair<std::string, double>> phases;
  phases.emplace_back("creating", (static_cast<double>(Ticks(creation)) - called) / 1e4);
  unsigned long long previous = Ticks(creation);
  std::string label = "process start";
  std::string next;
  unsigned long long time = 0;
  while (marks >> next >> time) {
    phases.emplace_back(label == "process start" ? label : next, (time - previous) / 1e4);
    label = next;
    previous = time;
  }
  phases.emplace_back("process exit", (Ticks(exit) - previous) / 1e4);
  phases.emplace_back("seen by the bench", seen);
  return phases;
}

int Trace(int rounds) {
  PrintBuildKind();
  std::printf("on: %s\n", WindowsKind());
  // A copy of the program where no service library lies beside it or in a
  // system folder: the library's search fails and raises its error.
  const std::string alone = BinDir() + "trace-alone\\";
  CreateDirectoryA(alone.c_str(), nullptr);
  CopyFileA((BinDir() + "Fenwarel.exe").c_str(), (alone + "Fenwarel.exe").c_str(), FALSE);
  struct Program {
    const char* name;
    std::string exe;
    const char* arguments;
    const char* dialogClass;  // for a dialog: its phases count until it is shown
  };
  const std::vector<Program> programs = {
      {"floor hidden", BinDir() + "floor_bench.exe", "hidden", nullptr},
      {"Fenwarel -i", BinDir() + "Fenwarel.exe", "-i", nullptr},
      {"-i, no library", alone + "Fenwarel.exe", "-i", nullptr},
      {"floor themed", BinDir() + "floor_bench.exe", "themed", "FenwarelBenchFloor"},
      {"Fenwarel dialog", BinDir() + "Fenwarel.exe", "", "ZFenwarel"},
  };
  // Per program, per phase (in the order first seen), the samples.
  std::vector<std::vector<std::pair<std::string, std::vector<double>>>> samples(programs.size());
  std::vector<std::vector<double>> totals(programs.size());
  for (int round = -1; round < rounds; ++round) {  // round -1 warms the caches
    for (std::size_t i = 0; i < programs.size(); ++i) {
      // Every other round backwards, so that each takes its turn after each.
      const std::size_t p = round % 2 == 0 ? i : programs.size() - 1 - i;
      const Program& program = programs[p];
      auto phases = TracedRun(program.exe, program.arguments, program.dialogClass);
      if (round < 0) {
        continue;
      }
      if (program.dialogClass != nullptr) {
        auto shown = std::find_if(phases.begin(), phases.end(),
                                  [](const auto& phase) { return phase.first == "shown"; });
        phases.erase(shown == phases.end() ? shown : shown + 1, phases.end() - 1);
      }
      double total = 0;
      for (const auto& [name, ms] : phases) {
        auto it = std::find_if(samples[p].begin(), samples[p].end(),
                               [&](const auto& entry) { return entry.first == name; });
        if (it == samples[p].end()) {
          samples[p].emplace_back(name, std::vector<double>{});
          it = samples[p].end() - 1;
        }
        it->second.push_back(ms);
        total += name == "seen by the bench" || name == "creating" ? 0 : ms;
      }
      totals[p].push_back(total);
    }
  }
  std::printf(
      "%d interleaved rounds; median milliseconds of each phase, from creation to exit"
      " (a dialog: until it is shown); a phase is named by the mark that ends it\n",
      rounds);
  for (std::size_t p = 0; p < programs.size(); ++p) {
    std::printf("%s:\n", programs[p].name);
    for (const auto& [name, values] : samples[p]) {
      std::printf("  %-18s %7.2f  (min %7.2f)\n", name.c_str(), Median(values), Minimum(values));
    }
    std::printf("  %-18s %7.2f  (min %7.2f)\n",
                programs[p].dialogClass ? "creation to shown" : "creation to exit",
                Median(totals[p]), Minimum(totals[p]));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "trace") {
    return Trace(argc > 2 ? std::max(1, std::atoi(argv[2])) : 31);
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 61;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  return Measure(rounds, runs);
}

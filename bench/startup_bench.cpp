// Start-up of Fenwarel.exe against its floors, measured in one run on the
// same machine: the time from process creation until the dialog is visible
// against a program that shows the same four standard controls with the same
// manifest, and the time of an "-i" run until the process has ended against
// that program creating its window hidden, posting one message and ending.
// Prints medians, minima and their ratios, and the size of Fenwarel.exe.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "build_kind.h"

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
  return elapsed;
}

double UntilExit(const std::string& exe, const std::string& arguments) {
  auto begin = Clock::now();
  PROCESS_INFORMATION info = Start(exe, arguments);
  WaitForSingleObject(info.hProcess, INFINITE);
  double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  CloseHandle(info.hProcess);
  return elapsed;
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double Minimum(const std::vector<double>& samples) {
  return *std::min_element(samples.begin(), samples.end());
}

void Report(const char* measure, const std::vector<double>& program,
            const std::vector<double>& floor) {
  std::printf(
      "%-16s Fenwarel %6.1f ms (min %6.1f), floor %6.1f ms (min %6.1f), ratio %.3f (min %.3f)\n",
      measure, Median(program), Minimum(program), Median(floor), Minimum(floor),
      Median(program) / Median(floor), Minimum(program) / Minimum(floor));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
  const std::string fenwarel = BinDir() + "Fenwarel.exe";
  const std::string floor = BinDir() + "floor_bench.exe";

  std::vector<double> dialog, themed, install, hidden;
  UntilVisible(floor, "themed", "FenwarelBenchFloor");  // warm the caches alike
  UntilVisible(fenwarel, "", "ZFenwarel");
  for (int round = 0; round < rounds; ++round) {  // interleaved, so drift hits both alike
    themed.push_back(UntilVisible(floor, "themed", "FenwarelBenchFloor"));
    dialog.push_back(UntilVisible(fenwarel, "", "ZFenwarel"));
    hidden.push_back(UntilExit(floor, "hidden"));
    install.push_back(UntilExit(fenwarel, "-i"));
  }

  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  GetFileAttributesExA(fenwarel.c_str(), GetFileExInfoStandard, &attributes);
  PrintBuildKind();
  std::printf("rounds: %d, interleaved (medians, minima)\n", rounds);
  Report("dialog visible:", dialog, themed);
  Report("-i run:", install, hidden);
  std::printf("Fenwarel.exe:    %lu bytes (%.1f KiB)\n", attributes.nFileSizeLow,
              attributes.nFileSizeLow / 1024.0);
  return 0;
}

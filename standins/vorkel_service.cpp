// Stand-in for the hotkey service, for tests and the demo only; never
// installed with the program. A process with a hidden window that appends
// every message 2025 and 2026 it receives, with wParam and lParam, to a log
// file (the first argument), before a sender's SendMessage returns.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kServiceClass = "VorkelStandIn";
std::string g_logPath = "vorkel-messages.log";

LRESULT CALLBACK ServiceProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 1001 || message == WM_USER + 1002) {
    if (FILE* log = std::fopen(g_logPath.c_str(), "a")) {
      std::fprintf(log, "%u %lu %ld\n", message, static_cast<unsigned long>(wParam),
                   static_cast<long>(lParam));
      std::fclose(log);
    }
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR arguments, int /*show*/) {
  if (arguments != nullptr && *arguments != '\0') {
    g_logPath = arguments;
  }
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &ServiceProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kServiceClass;
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, kServiceClass, "Hotkey service stand-in", WS_OVERLAPPEDWINDOW, 0,
                                0, 100, 100, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    return 1;
  }
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    DispatchMessageA(&message);
  }
  return 0;
}

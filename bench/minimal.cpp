// The yardsticks of the start-up benchmark: with "window", a program that
// shows one window and waits; without, one that ends at once.
#include <windows.h>

#include <cstring>

namespace {
LRESULT CALLBACK MinimalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR arguments, int /*show*/) {
  if (arguments == nullptr || std::strcmp(arguments, "window") != 0) {
    return 0;
  }
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &MinimalProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "FenwarelBenchMinimal";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "FenwarelBenchMinimal", "Minimal", WS_OVERLAPPEDWINDOW, 100, 100,
                                300, 300, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOW);
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    DispatchMessageA(&message);
  }
  return 0;
}

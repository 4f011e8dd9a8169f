// The floors of the start-up benchmark: the least that a program with
// Fenwarel's manifest (common controls 6, DPI aware) and its four standard
// controls costs. The window is of the same kind as the dialog's: the same
// frame and taskbar button, the program's icon.
//   floor_bench themed   shows a window with two multi-line check boxes and
//                        two push buttons in the message font, and waits
//   floor_bench hidden   creates the same window hidden, posts one message
//                        and ends, as an installer's run does
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <cstring>

#include "platform/startup_trace.h"

namespace {

LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateFloor(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &FloorProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "FenwarelBenchFloor";
  RegisterClassExA(&windowClass);
  HWND window = CreateWindowExA(
      WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, "FenwarelBenchFloor", "Floor",
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, 362, 206, 300,
      320, nullptr, nullptr, instance, nullptr);
  platform::TraceMark("window");
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  HFONT font = CreateFontIndirectA(&metrics.lfMessageFont);
  struct Control {
    const char* caption;
    DWORD style;
    int x, y, width, height;
  };
  const Control controls[] = {
      {"OK", BS_PUSHBUTTON, 104, 256, 81, 25},
      {"Cancel", BS_PUSHBUTTON, 200, 256, 81, 25},
      {"Display a Standby confirmation message if Fn+F3 is pushed.", BS_AUTOCHECKBOX | BS_MULTILINE,
       24, 40, 249, 41},
      {"Display a Hibernation confirmation message if Fn+F4 is pushed.",
       BS_AUTOCHECKBOX | BS_MULTILINE, 24, 96, 249, 41},
  };
  for (const Control& control : controls) {
    HWND button = CreateWindowExA(
        0, "BUTTON", control.caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | control.style, control.x,
        control.y, control.width, control.height, window, nullptr, instance, nullptr);
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  platform::TraceMark("controls");
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR arguments, int /*show*/) {
  platform::TraceMark("entry");
  INITCOMMONCONTROLSEX common{sizeof(common), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  platform::TraceMark("common-controls");
  HWND window = CreateFloor(instance);
  if (arguments != nullptr && std::strcmp(arguments, "themed") == 0) {
    for (auto [which, width, height] : {std::array{ICON_BIG, SM_CXICON, SM_CYICON},
                                        std::array{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
      HANDLE icon = LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(width),
                               GetSystemMetrics(height), LR_SHARED);
      SendMessageA(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }
    platform::TraceMark("icons");
    ShowWindow(window, SW_SHOWNORMAL);
    platform::TraceMark("shown");
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (IsDialogMessageA(window, &message) == 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    platform::TraceFinish("return");
    return 0;
  }
  PostMessageA(window, WM_APP, 0, 0);
  DestroyWindow(window);
  platform::TraceMark("closed");
  platform::TraceFinish("return");
  return 0;
}

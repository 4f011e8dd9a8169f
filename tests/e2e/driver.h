// Drives the real Fenwarel.exe under Windows (Wine) as a user and an
// installer would: starts processes, finds windows, clicks and types through
// window messages, and reads what the stand-in service received.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

// The tests measure in pixels what the program, aware of each monitor's
// resolution, lays out in pixels. Unaware of it, a test would see every
// window scaled to 96 dpi, as Windows (and Wine from version 10) shows an
// unaware program.
inline const bool kAwareOfDpi = [] {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  FARPROC set = GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext");
  if (set != nullptr) {
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    return reinterpret_cast<SetContext>(reinterpret_cast<void*>(set))(perMonitorV2) != FALSE;
  }
  return SetProcessDPIAware() != FALSE;
}();

// Where the program keeps its state, and what it tells the service.
constexpr const char* kSettingsKey = "SYSTEM\\CurrentControlSet\\Services\\Vorkel";  // HKLM
constexpr const char* kMarkerKey = "Software\\Zelmoor\\Hotkey";                      // HKLM
constexpr const char* kProbeKey = "Software\\Policies\\Zelmoor Tessaline";           // HKCU
constexpr const char* kStandInState = "Software\\Zelmoor\\OrviskStandIn";            // HKCU
constexpr int kOk = 101;
constexpr int kCancel = 102;
constexpr int kStandby = 103;
constexpr int kHibernate = 104;

inline std::string BinDir() {
  std::string path(MAX_PATH, '\0');
  path.resize(GetModuleFileNameA(nullptr, path.data(), MAX_PATH));
  return path.substr(0, path.find_last_of('\\') + 1);
}

// Polls `condition` until it holds or `limit` passes.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = 10s) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class Process {
 public:
  // A command line exactly as another program hands it to CreateProcess.
  struct Raw {
    std::string exe;
    std::string commandLine;
    std::string directory;  // the current directory; the program's folder when empty
  };

  // `"exe" arguments`, started in the program's folder.
  Process(const std::string& exe, const std::string& arguments)
      : Process(Raw{exe, "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments), ""}) {}

  explicit Process(Raw raw) {
    if (raw.directory.empty()) {
      raw.directory = raw.exe.substr(0, raw.exe.find_last_of('\\'));
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessA(raw.exe.c_str(), raw.commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       raw.directory.c_str(), &startup, &info) != 0) {
      Adopt(info);
    }
  }

  // A program in a folder whose name only UTF-16 can spell.
  Process(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    std::wstring directory = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       directory.c_str(), &startup, &info) != 0) {
      Adopt(info);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
      }
      CloseHandle(process_);
    }
  }

  [[nodiscard]] bool Started() const { return process_ != nullptr; }
  [[nodiscard]] DWORD Id() const { return id_; }
  // The exit code, or nullopt when it is still running after `limit`.
  std::optional<DWORD> Wait(DWORD limit = 10000) {
    if (WaitForSingleObject(process_, limit) != WAIT_OBJECT_0) {
      return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  void Adopt(const PROCESS_INFORMATION& info) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
    WaitForInputIdle(process_, 5000);
  }

  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

struct WindowSearch {
  DWORD process;
  const char* className;
  HWND found;
};

inline BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  std::string name(64, '\0');
  name.resize(GetClassNameA(window, name.data(), 64));
  if (owner == search->process && name == search->className) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The top-level window of a class that a given process owns, or 0.
inline HWND WindowOf(DWORD processId, const char* className) {
  WindowSearch search{processId, className, nullptr};
  EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline std::string TextOf(HWND window) {
  std::string text(512, '\0');
  text.resize(GetWindowTextA(window, text.data(), 512));
  return text;
}

inline HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

// Waits until control `id` of `dialog` has the focus and the dialog has
// handled the move: the focus is there before the controls hear of it, and a
// message the dialog answers comes after they have.
inline bool FocusReaches(HWND dialog, int id) {
  if (!WaitFor([&] { return FocusOf(dialog) == GetDlgItem(dialog, id); }, 3s)) {
    return false;
  }
  SendMessageA(dialog, WM_NULL, 0, 0);
  return true;
}

inline bool Checked(HWND dialog, int id) {
  return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// A click as the button control gets it from the mouse: press and release.
inline void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// A key typed on the focused control, as the keyboard delivers it.
inline void Type(HWND dialog, UINT key) {
  HWND focus = FocusOf(dialog);
  UINT scan = MapVirtualKeyA(key, 0);
  PostMessageA(focus, WM_KEYDOWN, key, 1 | (scan << 16U));
  PostMessageA(focus, WM_KEYUP, key, 1 | (scan << 16U) | (3U << 30U));
}

// Keys through the system's input, to the foreground window, with Shift held
// when asked: the keyboard state that Shift+Tab needs cannot be posted.
inline void Press(UINT key, bool shift = false) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD code, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = code;
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  if (shift) {
    add(VK_SHIFT, 0);
  }
  add(static_cast<WORD>(key), 0);
  add(static_cast<WORD>(key), KEYEVENTF_KEYUP);
  if (shift) {
    add(VK_SHIFT, KEYEVENTF_KEYUP);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// The mouse moved to `at` (screen pixels) with `buttons` (MOUSEEVENTF_LEFTDOWN,
// MOUSEEVENTF_LEFTUP or both), through the system's input as a user moves it:
// the window under it gets the click, whoever has the focus.
inline void Mouse(POINT at, DWORD buttons) {
  // Two presses near one spot within the double-click time make a double
  // click for the window there, whatever was clicked elsewhere in between;
  // a minimize box, for one, ignores it. A press meant as a click of its own
  // waits that out.
  using Clock = std::chrono::steady_clock;
  static std::vector<std::pair<POINT, Clock::time_point>> presses;
  if ((buttons & MOUSEEVENTF_LEFTDOWN) != 0) {
    const auto doubleClick = std::chrono::milliseconds(GetDoubleClickTime()) + 50ms;
    std::erase_if(presses,
                  [&](const auto& press) { return press.second + doubleClick < Clock::now(); });
    for (const auto& [point, time] : presses) {
      if (std::abs(at.x - point.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
          std::abs(at.y - point.y) <= GetSystemMetrics(SM_CYDOUBLECLK)) {
        std::this_thread::sleep_until(time + doubleClick);
      }
    }
    presses.emplace_back(at, Clock::now());
  }
  // Absolute input is in 65536ths of the screen, rounded so that it maps back
  // to the very pixel.
  auto scaled = [](LONG pixel, int extent) { return (pixel * 65536L + extent - 1) / extent; };
  std::vector<INPUT> inputs;
  auto add = [&](DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = scaled(at.x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = scaled(at.y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | flags;
    inputs.push_back(input);
  };
  add(0);
  for (DWORD button : {DWORD{MOUSEEVENTF_LEFTDOWN}, DWORD{MOUSEEVENTF_LEFTUP}}) {
    if ((buttons & button) != 0) {
      add(button);
    }
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

inline POINT CentreOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// Where the frame of `window` has its minimize box, as the window itself
// tells hits on its frame apart; {-1, -1} when it has none.
inline POINT MinimizeBoxOf(HWND window) {
  RECT frame{};
  GetWindowRect(window, &frame);
  POINT client{0, 0};
  ClientToScreen(window, &client);
  const LONG y = (frame.top + client.y) / 2;  // halfway down the caption bar
  LONG left = -1;
  LONG right = -1;
  for (LONG x = frame.right - 1; x > frame.left; --x) {
    if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTMINBUTTON) {
      right = right < 0 ? x : right;
      left = x;
    } else if (right >= 0) {
      break;
    }
  }
  return right < 0 ? POINT{-1, -1} : POINT{(left + right) / 2, y};
}

// --- Layout and DPI ---------------------------------------------------------------

inline int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// The dialog's client area and every control where their twips put them at
// `dpi`; the check boxes `checkBoxWidth` twips wide.
inline void ExpectLayoutAt(HWND dialog, int dpi, int checkBoxWidth) {
  auto pixels = [&](int twips) { return MulDiv(twips, dpi, 1440); };
  RECT client{};
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, pixels(4380)) << dpi << " dpi";
  EXPECT_EQ(client.bottom, pixels(4380)) << dpi << " dpi";
  const std::vector<std::tuple<int, int, int, int, int>> controls = {
      {101, 1560, 3840, 1215, 375},
      {102, 3000, 3840, 1215, 375},
      {103, 360, 600, checkBoxWidth, 615},
      {104, 360, 1440, checkBoxWidth, 615}};
  for (const auto& [id, left, top, width, height] : controls) {
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, pixels(left)) << id << " at " << dpi << " dpi";
    EXPECT_EQ(rect.top, pixels(top)) << id << " at " << dpi << " dpi";
    EXPECT_EQ(rect.right - rect.left, pixels(width)) << id << " at " << dpi << " dpi";
    EXPECT_EQ(rect.bottom - rect.top, pixels(height)) << id << " at " << dpi << " dpi";
  }
}

// What Windows does when the dialog's window reaches a monitor of another
// DPI: WM_DPICHANGED with the new DPI and the frame it suggests there. The
// rectangle lies in the dialog's process, where Windows' own would be.
inline void ChangeDpi(HWND dialog, int dpi, const RECT& suggested) {
  DWORD id = 0;
  GetWindowThreadProcessId(dialog, &id);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, id);
  ASSERT_NE(process, nullptr);
  void* rect =
      VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(rect, nullptr);
  WriteProcessMemory(process, rect, &suggested, sizeof(suggested), nullptr);
  SendMessageA(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(rect));
  VirtualFreeEx(process, rect, 0, MEM_RELEASE);
  CloseHandle(process);
}

// The frame that Windows suggests for a move from `from` to `to` dpi: the
// window's size scaled, at `left`, `top`.
inline RECT SuggestedFrame(HWND dialog, int from, int to, int left, int top) {
  RECT frame{};
  GetWindowRect(dialog, &frame);
  return RECT{left, top, left + MulDiv(frame.right - frame.left, to, from),
              top + MulDiv(frame.bottom - frame.top, to, from)};
}

// What the screen shows of `window` (or of its client area only) once it
// has painted, as the bytes of a BMP file.
inline std::string Screenshot(HWND window, bool clientOnly = false) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  std::this_thread::sleep_for(300ms);  // until the painted window reaches the screen
  RECT rect{};
  if (clientOnly) {
    GetClientRect(window, &rect);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  } else {
    GetWindowRect(window, &rect);
  }
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = rect.right - rect.left;
  header.biHeight = rect.bottom - rect.top;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  std::string bytes;
  if (bitmap != nullptr) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, header.biWidth, header.biHeight, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const DWORD size =
        ((static_cast<DWORD>(header.biWidth) * 3 + 3) & ~3U) * static_cast<DWORD>(header.biHeight);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + size;
    bytes.append(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
    bytes.append(static_cast<const char*>(bits), size);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return bytes;
}

// Leaves a screenshot beside the tests, to be looked at.
inline void SaveScreenshot(const std::string& bytes, const std::string& name) {
  std::ofstream(BinDir() + name, std::ios::binary) << bytes;
}

// --- Registry -------------------------------------------------------------------

inline void DeleteTreeOf(HKEY root, const char* path) { RegDeleteTreeA(root, path); }

inline std::optional<std::pair<DWORD, std::string>> Read(HKEY root, const char* path,
                                                         const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  std::string data(256, '\0');
  DWORD size = 256;
  LONG status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(size);
  return std::make_pair(type, data);
}

inline void WriteDword(HKEY root, const char* path, const char* name, DWORD value) {
  HKEY key = nullptr;
  RegCreateKeyA(root, path, &key);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  RegCloseKey(key);
}

inline void WriteText(HKEY root, const char* path, const char* name, const std::string& text) {
  HKEY key = nullptr;
  RegCreateKeyA(root, path, &key);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

inline std::optional<DWORD> ReadDword(HKEY root, const char* path, const char* name) {
  auto value = Read(root, path, name);
  if (!value || value->first != REG_DWORD) {
    return std::nullopt;
  }
  DWORD number = 0;
  std::memcpy(&number, value->second.data(), 4);
  return number;
}

// --- 64-bit Windows ----------------------------------------------------------------

// True for a 32-bit process on 64-bit Windows, through WoW64: the 32-bit
// program's usual home. There its HKLM\Software is the 32-bit view
// (Software\WOW6432Node of the 64-bit one), its System32 is SysWOW64 and its
// program folder "Program Files (x86)".
inline bool UnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) != 0 && wow64 != FALSE;
}

// The default value's text of HKLM\`path` in the registry view `view`
// (KEY_WOW64_32KEY or KEY_WOW64_64KEY): "" without one, nullopt without the key.
inline std::optional<std::string> DefaultTextInView(const char* path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::string text(256, '\0');
  DWORD size = 255;
  RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size);
  RegCloseKey(key);
  return std::string(text.c_str());
}

// Closes every window of a class, as left behind by an earlier run, and
// waits until they are gone.
inline void CloseAll(const char* className) {
  while (HWND window = FindWindowA(className, nullptr)) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (!WaitFor([&] { return IsWindow(window) == 0; }, 5s)) {
      return;
    }
  }
}

// --- The stand-in service ----------------------------------------------------------

using Message = std::tuple<UINT, WPARAM, LPARAM>;
inline const Message kSettingsChanged{2025, 257, 1};
inline const Message kInstallChanged{2026, 100, 0};

class StandInService {
 public:
  StandInService() : log_(BinDir() + "vorkel-e2e.log") {
    CloseAll("VorkelStandIn");
    DeleteFileA(log_.c_str());
    process_.emplace(BinDir() + "VorkelStandIn.exe", log_);
    WaitFor([&] { return Window() != nullptr; });
  }
  [[nodiscard]] HWND Window() const { return FindWindowA("VorkelStandIn", nullptr); }
  [[nodiscard]] std::vector<Message> Messages() const {
    std::vector<Message> messages;
    std::ifstream in(log_);
    unsigned long message = 0;
    unsigned long wParam = 0;
    long lParam = 0;
    while (in >> message >> wParam >> lParam) {
      messages.emplace_back(message, wParam, lParam);
    }
    return messages;
  }
  // Posted messages arrive a little later than the sender ends.
  std::vector<Message> MessagesAfterSettling() const {
    std::this_thread::sleep_for(300ms);
    return Messages();
  }

 private:
  std::string log_;
  std::optional<Process> process_;
};

}  // namespace e2e

// Drives the real Fenwarel.exe under Windows (Wine) as a user and an
// installer would: starts processes, finds windows, clicks and types through
// window messages, and reads what the stand-in service received.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

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

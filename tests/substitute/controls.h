// Test controls of the in-memory substitutes that native builds link in
// place of Windows: the registry, windows and messages, the dialog facility,
// modules and the hotkey service's library.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/form.h"
#include "platform/win32_api.h"

namespace platform::fake {

// Empties every root and forgets refusals and open handles.
void ResetRegistry();
enum class RegistryOperation { Open, Create, Delete, SetValue };
// From now on `operation` on the key `path` below `root` (any case, the key
// itself only) fails with ERROR_ACCESS_DENIED, as for a user without the
// right; with `valueName`, a SetValue refusal is of that value only.
void RefuseRegistry(RegistryOperation operation, HKEY root, std::string_view path,
                    std::optional<std::string_view> valueName = std::nullopt);
// Handles handed out by open or create and not yet closed.
std::size_t OpenKeyCount();

struct WindowCall {
  enum class Kind { Post, Send, Show, Foreground };
  Kind kind;
  HWND window;
  UINT message;  // for Show: the show command
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const WindowCall&) const = default;
};
// Forgets every window and every recorded call.
void ResetWindows();
// From now on a form's window cannot be created, as without a desktop.
void RefuseFormWindows();
// A live top-level window of the given class, as another program's would be.
HWND AddWindow(const std::string& className);
void RemoveWindow(HWND window);
// Every PostMessageA, SendMessageA, ShowWindow and SetForegroundWindow, in order.
const std::vector<WindowCall>& WindowCalls();

// Fenwarel.exe's; the system folder is C:\Windows\system32\, Windows' own C:\Windows\.
inline constexpr const char* kProgramFolder = "C:\\Program Files\\Fenwarel\\";

struct ServiceLibrary {
  bool installed = true;
  std::string path = std::string(kProgramFolder) + "Orvisk.dll";  // where it lies
  std::set<std::string> missingExports;
  HWND serviceWindow = nullptr;  // what GetVorkelHandle returns
  HWND registered = nullptr;     // what RegFenwarel recorded
  int registrations = 0;
};
ServiceLibrary& TheServiceLibrary();

// Unloads everything, forgets the language files, restores the service
// library and a UI language of 1033.
void ResetModules();
// A resource module with a string table, in the program's folder.
void AddStringModule(const std::string& fileName, std::map<UINT, std::string> strings);
// A file there that is no loadable module.
void AddBrokenModule(const std::string& fileName);
void SetUserDefaultUILanguage(LANGID language);
// A named mutex that another process holds and this one may not open, as an
// elevated instance's is to a limited one. Lasts until called with false.
void DenyMutex(const std::string& name, bool denied = true);
// Modules loaded and not yet freed, the service library among them.
std::size_t LoadedModuleCount();
struct LibraryLoad {  // every LoadLibraryExW, in order, as asked for
  std::string path;
  DWORD flags;
  bool operator==(const LibraryLoad&) const = default;
};
const std::vector<LibraryLoad>& LibraryLoads();

// A user's input, delivered as the real form delivers it.
// Mouse click: a check box toggles, then the click and the mouse-up events.
void ClickWithMouse(Form& form, int control);
// Space on the focused control: a check box toggles, a button is pressed; no mouse event.
void PressSpace(Form& form);
void PressKey(Form& form, int character);
void RequestClose(Form& form);

}  // namespace platform::fake

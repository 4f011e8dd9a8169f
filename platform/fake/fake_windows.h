// Test controls of the substitutes for windows, messages, modules and the
// hotkey service's library.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/form.h"
#include "platform/win32_api.h"

namespace platform::fake {

// --- Windows and messages ----------------------------------------------------

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
// A live top-level window of the given class, as another program's would be.
HWND AddWindow(const std::string& className);
void RemoveWindow(HWND window);
// Every PostMessageA, SendMessageA, ShowWindow and SetForegroundWindow, in order.
const std::vector<WindowCall>& WindowCalls();

// --- Modules ----------------------------------------------------------------

struct ServiceLibrary {
  bool installed = true;                 // Orvisk.dll can be found
  std::set<std::string> missingExports;  // exports it lacks
  HWND serviceWindow = nullptr;          // what GetVorkelHandle returns
  HWND registered = nullptr;             // what RegFenwarel recorded
  int registrations = 0;
};

// The hotkey service's library as the substitute's LoadLibraryA finds it.
ServiceLibrary& TheServiceLibrary();

// Unloads everything, forgets the language files, restores the service
// library and a UI language of 1033.
void ResetModules();
// A resource module with a string table, found by its bare file name.
void AddStringModule(const std::string& fileName, std::map<UINT, std::string> strings);
// A file of that name that is no loadable module.
void AddBrokenModule(const std::string& fileName);
void SetUserDefaultUILanguage(LANGID language);
// Modules loaded and not yet freed, the service library among them.
std::size_t LoadedModuleCount();
// Every file name handed to LoadLibraryExA, as given.
const std::vector<std::string>& LibraryLoads();

// --- The dialog facility ------------------------------------------------------

// A user's input, delivered as the real form delivers it.
// Mouse click: a check box toggles, then the click and the mouse-up events.
void ClickWithMouse(Form& form, int control);
// Space on the focused control: a check box toggles, a button is pressed; no mouse event.
void PressSpace(Form& form);
void PressKey(Form& form, int character);
void RequestClose(Form& form);

}  // namespace platform::fake

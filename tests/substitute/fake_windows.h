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
// From now on a form's window cannot be created, as without a desktop or
// with the desktop heap exhausted.
void RefuseFormWindows();
// A live top-level window of the given class, as another program's would be.
HWND AddWindow(const std::string& className);
void RemoveWindow(HWND window);
// Every PostMessageA, SendMessageA, ShowWindow and SetForegroundWindow, in order.
const std::vector<WindowCall>& WindowCalls();

// --- Modules ----------------------------------------------------------------

// Folders of the substitute's file system, as the module search sees them.
enum class Folder {
  Program,  // C:\Program Files\Fenwarel\, where Fenwarel.exe lies
  System,   // C:\Windows\system32\ (GetSystemDirectoryW)
  Windows,  // C:\Windows\ (GetSystemWindowsDirectoryW)
  Current,  // C:\Users\Public\Downloads\, the current directory
  Path,     // C:\Tools\, a folder on PATH
  // C:\Users\Public\Windows\ (GetWindowsDirectoryW): the private Windows
  // folder that a remote-desktop session host gives a program not marked
  // as aware of it; the user can write there.
  UserWindows,
  Vendor,  // C:\Program Files\Zelmoor\, another program's folder, on no search
};
// The folder's path, with a trailing backslash.
std::string FolderPath(Folder folder);

struct ServiceLibrary {
  bool installed = true;                 // Orvisk.dll can be found
  Folder folder = Folder::Program;       // where it lies
  std::set<std::string> missingExports;  // exports it lacks
  HWND serviceWindow = nullptr;          // what GetVorkelHandle returns
  HWND registered = nullptr;             // what RegFenwarel recorded
  int registrations = 0;
  // Libraries it imports (folded bare names), each with the folders where a
  // copy lies; a load that finds one of them nowhere on its search fails.
  std::map<std::string, std::set<Folder>> imports;
};

// The hotkey service's library as the substitute's LoadLibraryA finds it.
ServiceLibrary& TheServiceLibrary();

// Unloads everything, forgets the language files, restores the service
// library and a UI language of 1033.
void ResetModules();
// A resource module with a string table.
void AddStringModule(const std::string& fileName, std::map<UINT, std::string> strings,
                     Folder folder = Folder::Program);
// A file of that name that is no loadable module.
void AddBrokenModule(const std::string& fileName);
void SetUserDefaultUILanguage(LANGID language);
// Whether the system's loader has SetDefaultDllDirectories and the
// LOAD_LIBRARY_SEARCH_* flags: Windows 8 on, Windows 7 only with its 2011
// loader update. Without them those flags are ERROR_INVALID_PARAMETER.
void SetLoaderSearchFlags(bool supported);
// Where each import of the service library was taken from, in load order.
const std::vector<std::pair<std::string, Folder>>& ImportLoads();
// A named mutex that another process holds and this one may not open, as an
// elevated instance's is to a limited one: CreateMutexA fails with
// ERROR_ACCESS_DENIED. Lasts until called with false.
void DenyMutex(const std::string& name, bool denied = true);
// Modules loaded and not yet freed, the service library among them.
std::size_t LoadedModuleCount();
struct LibraryLoad {
  std::string path;  // as given; non-ASCII characters of a wide path become '?'
  DWORD flags;
  bool operator==(const LibraryLoad&) const = default;
};
// Every module load of a language file or the service library, in order.
const std::vector<LibraryLoad>& LibraryLoads();

// --- The dialog facility ------------------------------------------------------

// A user's input, delivered as the real form delivers it.
// Mouse click: a check box toggles, then the click and the mouse-up events.
void ClickWithMouse(Form& form, int control);
// Space on the focused control: a check box toggles, a button is pressed; no mouse event.
void PressSpace(Form& form);
void PressKey(Form& form, int character);
void RequestClose(Form& form);

}  // namespace platform::fake

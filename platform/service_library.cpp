#include "platform/service_library.h"

#include <array>
#include <string>

#include "platform/library_search.h"
#include "platform/program_folder.h"
#include "platform/startup_trace.h"

namespace platform {
namespace {

constexpr const char* kLibrary = "Orvisk.dll";

// The library is looked for where the hotkey service installs it: beside
// the program, then in the system folders. Never in the current directory
// (a planted copy would run inside a program that writes machine-wide
// settings) and never along PATH, whose folders users and other installers
// may write to.
std::array<std::wstring, 3> LibraryPaths() {
  std::array<std::wstring, 3> paths{ProgramFolder(), SystemFolder(), WindowsFolder()};
  for (std::wstring& path : paths) {
    if (!path.empty()) {
      path += Widened(kLibrary);
    }
  }
  return paths;
}

// The library from the first folder that holds it. A folder without the
// file is passed over at the cost of a look at the file system, not of a
// failed load, which is many times dearer. Its own imports come only from
// its folder, the program's and the system's; where the system cannot keep
// them there, the library is not loaded at all, as if it were missing. A
// copy loaded already from the same folder is only handed back: asking for
// it by its bare name first would make the loader search the disk for it on
// the first call, while none is loaded yet.
HMODULE LoadServiceLibrary() {
  if (!KeepLibrarySearchSafe()) {
    return nullptr;
  }
  for (const std::wstring& path : LibraryPaths()) {
    if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    if (HMODULE module = LoadLibraryExW(path.c_str(), nullptr, kOwnFoldersOnly)) {
      return module;
    }
  }
  return nullptr;
}

// Once loaded, the library stays for the life of the process, as an
// imported one would: it holds the dialog's registration, and is still used
// when its file has been moved away since.
HMODULE Library() {
  HMODULE module = LoadServiceLibrary();
  if (module == nullptr) {
    module = GetModuleHandleA(kLibrary);
  }
  TraceMark("searched");
  if (module == nullptr) {
    throw ServiceLibraryError("the hotkey service library cannot be loaded");
  }
  return module;
}

template <class Function>
Function Export(const char* name) {
  FARPROC address = GetProcAddress(Library(), name);
  if (address == nullptr) {
    throw ServiceLibraryError("the hotkey service library lacks an export");
  }
  return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

}  // namespace

HWND GetVorkelHandle() { return Export<HWND(WINAPI*)()>("GetVorkelHandle")(); }

void RegFenwarel(HWND dialog) { Export<LONG(WINAPI*)(HWND)>("RegFenwarel")(dialog); }

HWND GetFenwarel() { return Export<HWND(WINAPI*)()>("GetFenwarel")(); }

}  // namespace platform

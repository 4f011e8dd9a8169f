#include "platform/service_library.h"

#include <string>

namespace platform {
namespace {

constexpr const char* kLibrary = "Orvisk.dll";

// Once loaded, the library stays for the life of the process, as an
// imported one would: it holds the dialog's registration.
HMODULE Library() {
  HMODULE module = GetModuleHandleA(kLibrary);
  if (module == nullptr) {
    module = LoadLibraryA(kLibrary);
  }
  if (module == nullptr) {
    throw ServiceLibraryError("the hotkey service library cannot be loaded");
  }
  return module;
}

template <class Function>
Function Export(const char* name) {
  FARPROC address = GetProcAddress(Library(), name);
  if (address == nullptr) {
    throw ServiceLibraryError(std::string("the hotkey service library lacks ") + name);
  }
  return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

}  // namespace

HWND GetVorkelHandle() { return Export<HWND(WINAPI*)()>("GetVorkelHandle")(); }

void RegFenwarel(HWND dialog) { Export<LONG(WINAPI*)(HWND)>("RegFenwarel")(dialog); }

HWND GetFenwarel() { return Export<HWND(WINAPI*)()>("GetFenwarel")(); }

}  // namespace platform

// Stand-in for the hotkey service's library, for tests and the demo only;
// never installed with the program. It finds the stand-in service by its
// window class and keeps the registered dialog window in the registry, so
// that every process that loads it sees the same registration.
#include <windows.h>

namespace {

constexpr const char* kServiceClass = "VorkelStandIn";
constexpr const char* kStateKey = "Software\\Zelmoor\\OrviskStandIn";
constexpr const char* kDialogValue = "Fenwarel";

}  // namespace

#ifdef FENWAREL_PLANTED
// A copy planted where the program must never look (the current directory,
// a folder on PATH), or in one of the folders it searches, to see which it
// takes: it leaves a trace that it was loaded, and from where.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, kStateKey, &key) == ERROR_SUCCESS) {
      const DWORD loaded = 1;
      RegSetValueExA(key, "Planted", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&loaded),
                     sizeof(loaded));
      char path[MAX_PATH] = {};
      const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
      RegSetValueExA(key, "LoadedFrom", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), length + 1);
      RegCloseKey(key);
    }
  }
  return TRUE;
}
#endif

extern "C" {

#ifdef FENWAREL_DEPENDENT
// The dependent copy needs its own library before it can answer.
__declspec(dllimport) LONG OrvDepReady();
#endif

__declspec(dllexport) HWND WINAPI GetVorkelHandle() {
#ifdef FENWAREL_DEPENDENT
  if (OrvDepReady() == 0) {
    return nullptr;
  }
#endif
  return FindWindowA(kServiceClass, nullptr);
}

__declspec(dllexport) LONG WINAPI RegFenwarel(HWND dialog) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, kStateKey, &key) != ERROR_SUCCESS) {
    return 0;
  }
  // Window handles are 32-bit values, also across processes.
  auto value = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(dialog));
  RegSetValueExA(key, kDialogValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                 sizeof(value));
  RegCloseKey(key);
  return 1;
}

__declspec(dllexport) HWND WINAPI GetFenwarel() {
  DWORD value = 0;
  DWORD size = sizeof(value);
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_CURRENT_USER, kStateKey, &key) == ERROR_SUCCESS) {
    RegQueryValueExA(key, kDialogValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
  }
  return reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
}

}  // extern "C"

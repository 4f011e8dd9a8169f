// A library of the service library's own, for tests only: the dependent
// stand-in Orvisk.dll imports it. It leaves a trace of where it was loaded
// from, so a test sees whether a planted copy ever ran inside the program.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Zelmoor\\OrviskStandIn", &key) ==
        ERROR_SUCCESS) {
      char path[MAX_PATH] = {};
      GetModuleFileNameA(module, path, MAX_PATH - 1);
      RegSetValueExA(key, "DependencyFrom", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                     lstrlenA(path) + 1);
      RegCloseKey(key);
    }
  }
  return TRUE;
}

// Plain C calling convention: its name stays undecorated for the importer too.
extern "C" __declspec(dllexport) LONG OrvDepReady() { return 1; }

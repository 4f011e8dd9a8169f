// A display driver planted where a user can write, for tests only: named as
// a driver that Wine looks up by name, it writes the program file of every
// process it starts in to a log beside itself (its own path and ".log"),
// one line each, so a test sees which processes ran it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    char log[MAX_PATH + 4] = {};
    char line[MAX_PATH + 2] = {};
    const DWORD length = GetModuleFileNameA(module, log, MAX_PATH);
    const DWORD program = GetModuleFileNameA(nullptr, line, MAX_PATH);
    if (length > 0 && length < MAX_PATH && program < MAX_PATH) {
      lstrcatA(log, ".log");
      lstrcatA(line, "\n");
      HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
        CloseHandle(file);
      }
    }
  }
  // Accepted, as a driver that loads: a session that takes it keeps its name.
  return TRUE;
}

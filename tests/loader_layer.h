// Put ahead of the program's library loading code in a build made only for
// tests/library_search_test.cpp: its GetProcAddress and LoadLibraryExW pass
// through a layer there that can play a loader without the search flags.
// The calls themselves are Windows' own.
#pragma once

#include <windows.h>

FARPROC WINAPI LayerGetProcAddress(HMODULE module, LPCSTR name);
HMODULE WINAPI LayerLoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);

// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#define GetProcAddress LayerGetProcAddress
#define LoadLibraryExW LayerLoadLibraryExW
// NOLINTEND(cppcoreguidelines-macro-usage)

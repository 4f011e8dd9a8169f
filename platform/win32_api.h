// The operating-system calls the program makes, under their Win32 names.
//
// On Windows this is <windows.h> itself. Elsewhere it declares the same
// types, constants and ANSI functions, implemented by the in-memory
// substitute of tests/substitute, so the logic above compiles and runs
// unchanged on both.
#pragma once

#ifdef _WIN32

#include <windows.h>

#else

#include <cstdint>

using BYTE = unsigned char;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using LSTATUS = LONG;
using UINT = unsigned int;
using BOOL = int;
using LANGID = WORD;
using REGSAM = DWORD;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LPCSTR = const char*;
using LPSTR = char*;
using WCHAR = wchar_t;
using LPCWSTR = const wchar_t*;
using LPWSTR = wchar_t*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPBOOL = BOOL*;
using PVOID = void*;
using LPVOID = void*;
using HANDLE = void*;

struct FenwarelKey;
using HKEY = FenwarelKey*;
using PHKEY = HKEY*;
struct FenwarelWindow;
using HWND = FenwarelWindow*;
struct FenwarelModule;
using HINSTANCE = FenwarelModule*;
using HMODULE = HINSTANCE;
using FARPROC = std::intptr_t (*)();

#define WINAPI

// Predefined keys carry the same values as on Windows.
// NOLINTBEGIN(cppcoreguidelines-macro-usage,performance-no-int-to-ptr)
#define FENWAREL_PREDEFINED_KEY(value) (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(value)))
#define HKEY_CLASSES_ROOT FENWAREL_PREDEFINED_KEY(0x80000000U)
#define HKEY_CURRENT_USER FENWAREL_PREDEFINED_KEY(0x80000001U)
#define HKEY_LOCAL_MACHINE FENWAREL_PREDEFINED_KEY(0x80000002U)
#define HKEY_USERS FENWAREL_PREDEFINED_KEY(0x80000003U)
#define HKEY_PERFORMANCE_DATA FENWAREL_PREDEFINED_KEY(0x80000004U)
#define HKEY_CURRENT_CONFIG FENWAREL_PREDEFINED_KEY(0x80000005U)
#define HKEY_DYN_DATA FENWAREL_PREDEFINED_KEY(0x80000006U)
// NOLINTEND(cppcoreguidelines-macro-usage,performance-no-int-to-ptr)

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_SUPPORTED = 50;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MOD_NOT_FOUND = 126;
inline constexpr LONG ERROR_BAD_EXE_FORMAT = 193;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_ALREADY_EXISTS = 183;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_CHILD_MUST_BE_VOLATILE = 1021;
inline constexpr LONG ERROR_CANT_RESOLVE_FILENAME = 1921;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;
inline constexpr DWORD REG_OPTION_CREATE_LINK = 2;
inline constexpr DWORD REG_OPTION_OPEN_LINK = 8;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;

inline constexpr UINT CP_ACP = 0;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr int SW_RESTORE = 9;
inline constexpr DWORD MAX_PATH = 260;
inline constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
inline constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x00000008;
inline constexpr DWORD LOAD_LIBRARY_AS_IMAGE_RESOURCE = 0x00000020;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR = 0x00000100;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_APPLICATION_DIR = 0x00000200;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_USER_DIRS = 0x00000400;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
inline constexpr DWORD LOAD_LIBRARY_SEARCH_DEFAULT_DIRS = 0x00001000;

// Windows and messages.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL ShowWindow(HWND window, int command);
BOOL SetForegroundWindow(HWND window);

// Modules and their resources.
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);
HMODULE GetModuleHandleA(LPCSTR moduleName);
BOOL SetDefaultDllDirectories(DWORD directoryFlags);
BOOL SetDllDirectoryW(LPCWSTR pathName);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferSize);
LANGID GetUserDefaultUILanguage();
// The substitute's program lives in C:\Program Files\Fenwarel\Fenwarel.exe,
// Windows in C:\Windows.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size);
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
DWORD GetFileAttributesW(LPCWSTR fileName);

// Kernel objects.
HANDLE CreateMutexA(void* attributes, BOOL initialOwner, LPCSTR name);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();

// The system's ANSI code page and conversions to and from it.
UINT GetACP();
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                        int length, LPCSTR defaultChar, LPBOOL usedDefaultChar);

// Registry, ANSI forms, and the wide forms that see names as the registry
// stores them.
LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM access, void* security, PHKEY result, LPDWORD disposition);
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM access, void* security, PHKEY result, LPDWORD disposition);
LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorSize, PFILETIME lastWriteTime);
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
LSTATUS RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* dataSize);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD dataSize);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS RegCloseKey(HKEY key);

#endif

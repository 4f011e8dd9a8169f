// Substitutes for modules and named mutexes. A module loads when its file is
// in the program's folder or named by its full path: where the loader
// searches is the real loader's own, tested under Wine.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>

#include "substitute/controls.h"

namespace {

constexpr std::uintptr_t kKernel = 0x6000;
constexpr std::uintptr_t kService = 0x7000;

struct ModuleTable {
  platform::fake::ServiceLibrary service;
  // Folded full path to the file's strings; none for a file that is no module.
  std::map<std::string, std::optional<std::map<UINT, std::string>>> files;
  std::map<std::uintptr_t, std::string> loaded;  // handle to folded full path
  std::vector<platform::fake::LibraryLoad> loads;
  std::uintptr_t next = 0x8000;
  LANGID uiLanguage = 1033;
} modules;
// Named mutexes live as long as their handles, whatever a test resets.
struct MutexTable {
  std::map<std::uintptr_t, std::string> handles;  // to the mutex's name
  std::set<std::string> denied;
  std::uintptr_t next = 0x40000;
} mutexes;
DWORD lastError = 0;

// A path as the file system compares it: without regard to case, a bare
// name in the program's folder.
std::string Located(std::string path) {
  path.insert(0, path.find('\\') == std::string::npos ? platform::fake::kProgramFolder : "");
  std::ranges::transform(path, path.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return path;
}
std::string Narrowed(std::wstring_view text) { return {text.begin(), text.end()}; }
// Cut to the buffer like the real calls: size - 1 characters and a terminator.
UINT Copied(std::string_view text, wchar_t* buffer, std::size_t size) {
  const std::size_t count = std::min(text.size(), size - 1);
  std::copy_n(text.begin(), count, buffer);
  buffer[count] = L'\0';
  return static_cast<UINT>(count);
}
bool IsService(const std::string& path) {
  return modules.service.installed && path == Located(modules.service.path);
}
template <class T>
T Handle(std::uintptr_t id) {
  return reinterpret_cast<T>(id);  // NOLINT(performance-no-int-to-ptr)
}
template <class Function>
FARPROC Export(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}
HWND ServiceWindow() { return modules.service.serviceWindow; }
LONG Register(HWND dialog) {
  modules.service.registered = dialog;
  return ++modules.service.registrations;
}
HWND Registered() { return modules.service.registered; }

}  // namespace

namespace platform::fake {

ServiceLibrary& TheServiceLibrary() { return modules.service; }
void ResetModules() { modules = ModuleTable{}; }
void AddStringModule(const std::string& fileName, std::map<UINT, std::string> strings) {
  modules.files[Located(fileName)] = std::move(strings);
}
void AddBrokenModule(const std::string& fileName) { modules.files[Located(fileName)].reset(); }
void SetUserDefaultUILanguage(LANGID language) { modules.uiLanguage = language; }
void DenyMutex(const std::string& name, bool denied) {
  denied ? void(mutexes.denied.insert(name)) : void(mutexes.denied.erase(name));
}
std::size_t LoadedModuleCount() { return modules.loaded.size(); }
const std::vector<LibraryLoad>& LibraryLoads() { return modules.loads; }

}  // namespace platform::fake

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE /*file*/, DWORD flags) {
  modules.loads.push_back({Narrowed(fileName), flags});
  const std::string path = Located(modules.loads.back().path);
  auto file = modules.files.find(path);
  if (!IsService(path) && (file == modules.files.end() || !file->second)) {
    return nullptr;  // not there, or no module
  }
  const std::uintptr_t id = IsService(path) ? kService : modules.next += 0x10;
  modules.loaded[id] = path;
  return Handle<HMODULE>(id);
}
// Only the system's own and the service library are asked for by name.
HMODULE GetModuleHandleA(LPCSTR moduleName) {
  const std::string name = Located(std::string("\\") + moduleName);
  const bool service = modules.loaded.contains(kService) && name == Located("\\Orvisk.dll");
  return Handle<HMODULE>(service ? kService : name == "\\kernel32.dll" ? kKernel : 0);
}
FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  const auto id = reinterpret_cast<std::uintptr_t>(module);
  const std::string_view wanted(name);
  if (id == kKernel && wanted == "SetDefaultDllDirectories") {
    return Export(&SetDefaultDllDirectories);
  }
  if (id != kService || modules.service.missingExports.contains(name)) {
    return nullptr;
  }
  return wanted == "GetVorkelHandle" ? Export(&ServiceWindow)
         : wanted == "RegFenwarel"   ? Export(&Register)
         : wanted == "GetFenwarel"   ? Export(&Registered)
                                     : nullptr;
}
BOOL FreeLibrary(HMODULE module) {
  return modules.loaded.erase(reinterpret_cast<std::uintptr_t>(module)) == 1 ? 1 : 0;
}
// At most bufferSize - 1 bytes and a terminator, as the ANSI call copies;
// none from the service library, which has no strings.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferSize) {
  auto loaded = modules.loaded.find(reinterpret_cast<std::uintptr_t>(module));
  auto file = modules.files.find(loaded == modules.loaded.end() ? "" : loaded->second);
  if (file == modules.files.end() || !file->second.value().contains(id) || bufferSize <= 0) {
    return 0;
  }
  const std::string& text = file->second->at(id);
  const std::size_t count = std::min(text.size(), static_cast<std::size_t>(bufferSize - 1));
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}
LANGID GetUserDefaultUILanguage() { return modules.uiLanguage; }
DWORD GetModuleFileNameW(HMODULE /*module*/, LPWSTR fileName, DWORD size) {
  return Copied(std::string(platform::fake::kProgramFolder) + "Fenwarel.exe", fileName, size);
}
UINT GetSystemDirectoryW(LPWSTR to, UINT size) { return Copied("C:\\Windows\\system32", to, size); }
UINT GetSystemWindowsDirectoryW(LPWSTR to, UINT size) { return Copied("C:\\Windows", to, size); }
DWORD GetFileAttributesW(LPCWSTR fileName) {
  const std::string path = Located(Narrowed(fileName));
  return IsService(path) || modules.files.contains(path) ? FILE_ATTRIBUTE_NORMAL
                                                         : INVALID_FILE_ATTRIBUTES;
}
HANDLE CreateMutexA(void* /*attributes*/, BOOL /*initialOwner*/, LPCSTR name) {
  if (mutexes.denied.contains(name)) {
    lastError = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  const bool held = std::ranges::any_of(mutexes.handles, [&](auto& h) { return h.second == name; });
  lastError = held ? ERROR_ALREADY_EXISTS : 0;
  mutexes.handles[mutexes.next += 0x10] = name;
  return Handle<HANDLE>(mutexes.next);
}
BOOL CloseHandle(HANDLE object) {
  return mutexes.handles.erase(reinterpret_cast<std::uintptr_t>(object)) == 1 ? 1 : 0;
}
DWORD GetLastError() { return lastError; }

// Any folders are taken: the substitute has no search to keep safe.
BOOL SetDefaultDllDirectories(DWORD /*directoryFlags*/) { return 1; }
BOOL SetDllDirectoryW(LPCWSTR /*pathName*/) { return 1; }

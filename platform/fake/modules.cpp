// Substitutes for modules: the hotkey service's library with its three
// exports, resource modules with string tables, and named mutexes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake_windows.h"

namespace {

constexpr std::uintptr_t kServiceModule = 0x7000;

struct ModuleTable {
  platform::fake::ServiceLibrary service;
  // File name, folded to lower case, to its strings; nullopt for a broken file.
  std::map<std::string, std::optional<std::map<UINT, std::string>>> files;
  std::map<std::uintptr_t, std::string> loaded;  // handle to folded file name
  std::vector<std::string> loads;
  std::uintptr_t next = 0x8000;
  LANGID uiLanguage = 1033;
};

ModuleTable& Modules() {
  static ModuleTable table;
  return table;
}

// Named mutexes live as long as their holders, whatever a test resets.
struct MutexTable {
  std::map<std::string, int> holders;  // name to open handles
  std::map<std::uintptr_t, std::string> handles;
  std::uintptr_t next = 0x40000;
  DWORD lastError = 0;
};

MutexTable& Mutexes() {
  static MutexTable table;
  return table;
}

std::string Folded(std::string_view text) {
  std::string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return folded;
}

// What the platform's search makes of a path: the file name counts.
std::string BareName(std::string_view path) {
  std::size_t cut = path.find_last_of("\\/");
  return Folded(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

template <class T>
T* AsHandle(std::uintptr_t id) {
  return reinterpret_cast<T*>(id);  // NOLINT(performance-no-int-to-ptr)
}

// Exports travel as FARPROC, as GetProcAddress hands them out.
template <class Function>
FARPROC AsExport(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

HWND FakeGetVorkelHandle() { return Modules().service.serviceWindow; }
LONG FakeRegFenwarel(HWND dialog) {
  Modules().service.registered = dialog;
  ++Modules().service.registrations;
  return 1;
}
HWND FakeGetFenwarel() { return Modules().service.registered; }

}  // namespace

namespace platform::fake {

ServiceLibrary& TheServiceLibrary() { return Modules().service; }

void ResetModules() { Modules() = ModuleTable{}; }

void AddStringModule(const std::string& fileName, std::map<UINT, std::string> strings) {
  Modules().files[Folded(fileName)] = std::move(strings);
}

void AddBrokenModule(const std::string& fileName) {
  Modules().files[Folded(fileName)] = std::nullopt;
}

void SetUserDefaultUILanguage(LANGID language) { Modules().uiLanguage = language; }

std::size_t LoadedModuleCount() { return Modules().loaded.size(); }

const std::vector<std::string>& LibraryLoads() { return Modules().loads; }

}  // namespace platform::fake

HMODULE LoadLibraryA(LPCSTR fileName) {
  ModuleTable& table = Modules();
  if (BareName(fileName) == "orvisk.dll" && table.service.installed) {
    table.loaded[kServiceModule] = "orvisk.dll";
    return AsHandle<FenwarelModule>(kServiceModule);
  }
  return nullptr;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  for (const auto& [id, name] : Modules().loaded) {
    if (name == BareName(moduleName)) {
      return AsHandle<FenwarelModule>(id);
    }
  }
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  ModuleTable& table = Modules();
  if (reinterpret_cast<std::uintptr_t>(module) != kServiceModule ||
      table.service.missingExports.contains(name)) {
    return nullptr;
  }
  std::string export_name(name);
  if (export_name == "GetVorkelHandle") {
    return AsExport(&FakeGetVorkelHandle);
  }
  if (export_name == "RegFenwarel") {
    return AsExport(&FakeRegFenwarel);
  }
  if (export_name == "GetFenwarel") {
    return AsExport(&FakeGetFenwarel);
  }
  return nullptr;
}

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE /*file*/, DWORD /*flags*/) {
  ModuleTable& table = Modules();
  table.loads.emplace_back(fileName);
  auto file = table.files.find(BareName(fileName));
  if (file == table.files.end() || !file->second) {
    return nullptr;
  }
  std::uintptr_t id = table.next;
  table.next += 0x10;
  table.loaded[id] = file->first;
  return AsHandle<FenwarelModule>(id);
}

BOOL FreeLibrary(HMODULE module) {
  return Modules().loaded.erase(reinterpret_cast<std::uintptr_t>(module)) == 1 ? 1 : 0;
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferSize) {
  ModuleTable& table = Modules();
  auto loaded = table.loaded.find(reinterpret_cast<std::uintptr_t>(module));
  if (loaded == table.loaded.end() || buffer == nullptr || bufferSize <= 0) {
    return 0;
  }
  const auto& strings = *table.files.at(loaded->second);
  auto text = strings.find(id);
  if (text == strings.end() || text->second.empty()) {
    return 0;
  }
  // At most bufferSize - 1 bytes and a terminator, as the ANSI call copies.
  std::size_t count = std::min(text->second.size(), static_cast<std::size_t>(bufferSize - 1));
  std::memcpy(buffer, text->second.data(), count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

LANGID GetUserDefaultUILanguage() { return Modules().uiLanguage; }

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  const std::string path = "C:\\Program Files\\Fenwarel\\Fenwarel.exe";
  if (module != nullptr || fileName == nullptr || size == 0) {
    return 0;
  }
  // Cut to the buffer like the real call: size - 1 characters and a terminator.
  std::size_t count = std::min<std::size_t>(path.size(), size - 1);
  std::memcpy(fileName, path.data(), count);
  fileName[count] = '\0';
  return static_cast<DWORD>(count);
}

HANDLE CreateMutexA(void* /*attributes*/, BOOL /*initialOwner*/, LPCSTR name) {
  MutexTable& table = Mutexes();
  int& holders = table.holders[name == nullptr ? "" : name];
  table.lastError = holders > 0 ? ERROR_ALREADY_EXISTS : 0;
  ++holders;
  std::uintptr_t id = table.next;
  table.next += 0x10;
  table.handles[id] = name == nullptr ? "" : name;
  return AsHandle<void>(id);
}

BOOL CloseHandle(HANDLE object) {
  MutexTable& table = Mutexes();
  auto handle = table.handles.find(reinterpret_cast<std::uintptr_t>(object));
  if (handle == table.handles.end()) {
    return 0;
  }
  if (--table.holders[handle->second] == 0) {
    table.holders.erase(handle->second);
  }
  table.handles.erase(handle);
  return 1;
}

DWORD GetLastError() { return Mutexes().lastError; }

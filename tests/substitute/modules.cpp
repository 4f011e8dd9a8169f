// Substitutes for modules: the hotkey service's library with its three
// exports, resource modules with string tables, and named mutexes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "substitute/fake_windows.h"

namespace {

using platform::fake::Folder;
using platform::fake::FolderPath;

constexpr std::uintptr_t kServiceModule = 0x7000;
constexpr std::uintptr_t kKernelModule = 0x6000;

constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                               LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                               LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// A module file in the substitute's file system; nullopt strings for a broken file.
struct ModuleFile {
  Folder folder = Folder::Program;
  std::optional<std::map<UINT, std::string>> strings;
};

struct ModuleTable {
  platform::fake::ServiceLibrary service;
  std::map<std::string, ModuleFile> files;       // folded bare name to the file
  std::map<std::uintptr_t, std::string> loaded;  // handle to folded bare name
  std::vector<platform::fake::LibraryLoad> loads;
  std::vector<std::pair<std::string, Folder>> importLoads;
  std::uintptr_t next = 0x8000;
  LANGID uiLanguage = 1033;
  // The loader's process-wide search: whether the system has the search
  // flags, what SetDefaultDllDirectories set, whether SetDllDirectoryW was
  // called and the folder it named, if any.
  bool searchFlags = true;
  DWORD defaultDirectories = 0;
  bool dllDirectorySet = false;
  std::optional<Folder> dllDirectory;
};

ModuleTable& Modules() {
  static ModuleTable table;
  return table;
}

// Named mutexes live as long as their holders, whatever a test resets.
struct MutexTable {
  std::map<std::string, int> holders;  // name to open handles
  std::set<std::string> denied;        // held by a process this one may not open
  std::map<std::uintptr_t, std::string> handles;
  std::uintptr_t next = 0x40000;
};

MutexTable& Mutexes() {
  static MutexTable table;
  return table;
}

DWORD& LastError() {
  static DWORD error = 0;
  return error;
}

std::string Folded(std::string_view text) {
  std::string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return folded;
}

std::string BareName(std::string_view path) {
  std::size_t cut = path.find_last_of('\\');
  return Folded(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// A wide path as the substitute's narrow file system spells it.
std::string Narrowed(const wchar_t* text) {
  std::string narrow;
  for (; text != nullptr && *text != L'\0'; ++text) {
    narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
  }
  return narrow;
}

std::size_t WideCopy(const std::string& text, wchar_t* buffer, std::size_t size) {
  std::size_t count = std::min(text.size(), size - 1);
  std::copy_n(text.begin(), count, buffer);
  buffer[count] = L'\0';
  return count;
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

// The folders where the file `name` (folded) lies.
std::set<Folder> FoldersOf(const std::string& name) {
  const ModuleTable& table = Modules();
  if (name == "orvisk.dll") {
    return table.service.installed ? std::set{table.service.folder} : std::set<Folder>{};
  }
  auto file = table.files.find(name);
  return file == table.files.end() ? std::set<Folder>{} : std::set{file->second.folder};
}

std::optional<Folder> FolderAt(const std::string& path) {
  for (Folder folder : {Folder::Program, Folder::System, Folder::Windows, Folder::Current,
                        Folder::Path, Folder::UserWindows, Folder::Vendor}) {
    std::string named = FolderPath(folder);
    if (Folded(named) == Folded(path) ||
        Folded(named.substr(0, named.size() - 1)) == Folded(path)) {
      return folder;
    }
  }
  return std::nullopt;
}

// The folders that a load with `flags` searches, in order, for a library
// asked for by bare name or for the imports of one loaded from `own`.
std::vector<Folder> SearchPath(DWORD flags, std::optional<Folder> own) {
  const ModuleTable& table = Modules();
  if ((flags & kSearchFlags) == 0 && table.defaultDirectories != 0) {
    flags |= table.defaultDirectories |
             ((flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0 ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR : 0);
  }
  std::vector<Folder> path;
  if ((flags & kSearchFlags) != 0) {
    if ((flags & LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != 0) {
      flags |= LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
               LOAD_LIBRARY_SEARCH_SYSTEM32;
    }
    if ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) != 0 && own) {
      path.push_back(*own);
    }
    if ((flags & LOAD_LIBRARY_SEARCH_APPLICATION_DIR) != 0) {
      path.push_back(Folder::Program);
    }
    if ((flags & LOAD_LIBRARY_SEARCH_USER_DIRS) != 0 && table.dllDirectory) {
      path.push_back(*table.dllDirectory);
    }
    if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
      path.push_back(Folder::System);
    }
    return path;
  }
  // The standard search, in safe mode: a library loaded by full path with
  // LOAD_WITH_ALTERED_SEARCH_PATH has its own folder in the program's place.
  // SetDllDirectoryW puts its folder, or nothing, where the current one was.
  path.push_back((flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0 && own ? *own : Folder::Program);
  if (table.dllDirectory) {
    path.push_back(*table.dllDirectory);
  }
  path.insert(path.end(), {Folder::System, Folder::Windows});
  if (!table.dllDirectorySet) {
    path.push_back(Folder::Current);
  }
  path.push_back(Folder::Path);
  return path;
}

// Where the loader finds `name` along `path`.
std::optional<Folder> FirstOn(const std::vector<Folder>& path, const std::set<Folder>& lies) {
  for (Folder folder : path) {
    if (lies.contains(folder)) {
      return folder;
    }
  }
  return std::nullopt;
}

// "C:\..." or "\\server\share\..."; "C:x.dll" is relative to that drive's folder.
bool IsFullPath(const std::string& path) {
  return (path.size() > 2 && path[1] == ':' && path[2] == '\\') || path.starts_with("\\\\");
}

// True when the file at the full path `path` exists.
bool Exists(const std::string& path) {
  const std::set<Folder> lies = FoldersOf(BareName(path));
  return std::any_of(lies.begin(), lies.end(), [&](Folder folder) {
    return Folded(FolderPath(folder) + BareName(path)) == Folded(path);
  });
}

// Where a load of `path` with `flags` finds its file, and then its imports
// (the service library's); ERROR_INVALID_PARAMETER for what Windows refuses.
HMODULE Load(const std::string& path, DWORD flags) {
  ModuleTable& table = Modules();
  table.loads.push_back({path, flags});
  const bool dataOnly = (flags & (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) != 0;
  if (((flags & kSearchFlags) != 0 && !table.searchFlags) ||
      ((flags & kSearchFlags) != 0 && (flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0) ||
      ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) != 0 && !IsFullPath(path))) {
    LastError() = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  const std::string name = BareName(path);
  std::optional<Folder> found =
      IsFullPath(path)
          ? (Exists(path) ? FolderAt(path.substr(0, path.size() - name.size())) : std::nullopt)
          : FirstOn(SearchPath(flags, std::nullopt), FoldersOf(name));
  if (!found) {
    LastError() = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  if (name == "orvisk.dll") {
    if (!dataOnly) {
      const std::vector<Folder> search = SearchPath(flags, IsFullPath(path) ? found : std::nullopt);
      std::vector<std::pair<std::string, Folder>> imports;
      for (const auto& [import, lies] : table.service.imports) {
        std::optional<Folder> from = FirstOn(search, lies);
        if (!from) {
          LastError() = ERROR_MOD_NOT_FOUND;
          return nullptr;
        }
        imports.emplace_back(import, *from);
      }
      table.importLoads.insert(table.importLoads.end(), imports.begin(), imports.end());
    }
    table.loaded[kServiceModule] = name;
    return AsHandle<FenwarelModule>(kServiceModule);
  }
  if (!table.files.at(name).strings) {
    LastError() = ERROR_BAD_EXE_FORMAT;
    return nullptr;  // there, but no module
  }
  std::uintptr_t id = table.next;
  table.next += 0x10;
  table.loaded[id] = name;
  return AsHandle<FenwarelModule>(id);
}

// Without the trailing backslash; the size needed, terminator included, when the buffer is short.
UINT SystemPath(Folder folder, LPWSTR buffer, UINT size) {
  std::string path = FolderPath(folder);
  path.pop_back();
  if (buffer == nullptr || size <= path.size()) {
    return static_cast<UINT>(path.size() + 1);
  }
  return static_cast<UINT>(WideCopy(path, buffer, size));
}

}  // namespace

namespace platform::fake {

std::string FolderPath(Folder folder) {
  switch (folder) {
    case Folder::Program:
      return "C:\\Program Files\\Fenwarel\\";
    case Folder::System:
      return "C:\\Windows\\system32\\";
    case Folder::Windows:
      return "C:\\Windows\\";
    case Folder::Current:
      return "C:\\Users\\Public\\Downloads\\";
    case Folder::Path:
      return "C:\\Tools\\";
    case Folder::UserWindows:
      return "C:\\Users\\Public\\Windows\\";
    case Folder::Vendor:
      return "C:\\Program Files\\Zelmoor\\";
  }
  return {};
}

ServiceLibrary& TheServiceLibrary() { return Modules().service; }

void ResetModules() { Modules() = ModuleTable{}; }

void AddStringModule(const std::string& fileName, std::map<UINT, std::string> strings,
                     Folder folder) {
  Modules().files[Folded(fileName)] = ModuleFile{folder, std::move(strings)};
}

void AddBrokenModule(const std::string& fileName) {
  Modules().files[Folded(fileName)] = ModuleFile{Folder::Program, std::nullopt};
}

void DenyMutex(const std::string& name, bool denied) {
  if (denied) {
    Mutexes().denied.insert(name);
  } else {
    Mutexes().denied.erase(name);
  }
}

void SetUserDefaultUILanguage(LANGID language) { Modules().uiLanguage = language; }

void SetLoaderSearchFlags(bool supported) { Modules().searchFlags = supported; }

const std::vector<std::pair<std::string, Folder>>& ImportLoads() { return Modules().importLoads; }

std::size_t LoadedModuleCount() { return Modules().loaded.size(); }

const std::vector<LibraryLoad>& LibraryLoads() { return Modules().loads; }

}  // namespace platform::fake

HMODULE LoadLibraryA(LPCSTR fileName) { return Load(fileName == nullptr ? "" : fileName, 0); }

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE /*file*/, DWORD flags) {
  return Load(fileName == nullptr ? "" : fileName, flags);
}

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE /*file*/, DWORD flags) {
  return Load(Narrowed(fileName), flags);
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
  // A bare name is one in the current directory.
  std::string path = Narrowed(fileName);
  if (path.find('\\') == std::string::npos) {
    path = FolderPath(Folder::Current) + path;
  }
  return Exists(path) ? FILE_ATTRIBUTE_NORMAL : INVALID_FILE_ATTRIBUTES;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (BareName(moduleName) == "kernel32.dll") {
    return AsHandle<FenwarelModule>(kKernelModule);
  }
  for (const auto& [id, name] : Modules().loaded) {
    if (name == BareName(moduleName)) {
      return AsHandle<FenwarelModule>(id);
    }
  }
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  ModuleTable& table = Modules();
  if (reinterpret_cast<std::uintptr_t>(module) == kKernelModule) {
    const bool has = table.searchFlags && std::string_view(name) == "SetDefaultDllDirectories";
    return has ? AsExport(&SetDefaultDllDirectories) : nullptr;
  }
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

BOOL FreeLibrary(HMODULE module) {
  return Modules().loaded.erase(reinterpret_cast<std::uintptr_t>(module)) == 1 ? 1 : 0;
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferSize) {
  ModuleTable& table = Modules();
  auto loaded = table.loaded.find(reinterpret_cast<std::uintptr_t>(module));
  if (loaded == table.loaded.end() || buffer == nullptr || bufferSize <= 0) {
    return 0;
  }
  // The service library has no strings: none found, as in any module without them.
  const auto& strings = table.files.at(loaded->second).strings;
  if (!strings) {
    return 0;
  }
  auto text = strings->find(id);
  if (text == strings->end() || text->second.empty()) {
    return 0;
  }
  // At most bufferSize - 1 bytes and a terminator, as the ANSI call copies.
  std::size_t count = std::min(text->second.size(), static_cast<std::size_t>(bufferSize - 1));
  std::memcpy(buffer, text->second.data(), count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

LANGID GetUserDefaultUILanguage() { return Modules().uiLanguage; }

// Cut to the buffer like the real calls: size - 1 characters and a terminator.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  if (module != nullptr || fileName == nullptr || size == 0) {
    return 0;
  }
  return static_cast<DWORD>(WideCopy(FolderPath(Folder::Program) + "Fenwarel.exe", fileName, size));
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  return SystemPath(Folder::System, buffer, size);
}

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
  return SystemPath(Folder::UserWindows, buffer, size);
}

UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) {
  return SystemPath(Folder::Windows, buffer, size);
}

HANDLE CreateMutexA(void* /*attributes*/, BOOL /*initialOwner*/, LPCSTR name) {
  MutexTable& table = Mutexes();
  if (name != nullptr && table.denied.contains(name)) {
    LastError() = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  int& holders = table.holders[name == nullptr ? "" : name];
  LastError() = holders > 0 ? ERROR_ALREADY_EXISTS : 0;
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

DWORD GetLastError() { return LastError(); }

// Only the search flags that make sense for every load; a library's own
// folder does not.
BOOL SetDefaultDllDirectories(DWORD directoryFlags) {
  constexpr DWORD kAllowed = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                             LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
  if (directoryFlags == 0 || (directoryFlags & ~kAllowed) != 0) {
    LastError() = ERROR_INVALID_PARAMETER;
    return 0;
  }
  Modules().defaultDirectories = directoryFlags;
  return 1;
}

BOOL SetDllDirectoryW(LPCWSTR pathName) {
  ModuleTable& table = Modules();
  table.dllDirectorySet = pathName != nullptr;
  table.dllDirectory = pathName == nullptr ? std::nullopt : FolderAt(Narrowed(pathName));
  return 1;
}

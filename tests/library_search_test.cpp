// Where the real loader takes a library's imports from, for each way of
// loading it, under Wine. The library is the hotkey service's, loaded by its
// full path from another program's folder; it imports one library of its
// own, orvdep.dll, copies of which lie in the folders named. The program's
// own loading code is built here with loader_layer.h ahead of it.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/library_search.h"
#include "platform/service_library.h"

namespace {

// Whether the layer plays a loader without the search flags.
bool oldLoader = false;

}  // namespace

// Windows 7 before its 2011 loader update: no SetDefaultDllDirectories, and
// LoadLibraryEx refuses the LOAD_LIBRARY_SEARCH_* flags.
FARPROC WINAPI LayerGetProcAddress(HMODULE module, LPCSTR name) {
  return oldLoader && std::string_view(name) == "SetDefaultDllDirectories"
             ? nullptr
             : GetProcAddress(module, name);
}

HMODULE WINAPI LayerLoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) {
  constexpr DWORD kSearchFlags = 0xFF00;
  if (oldLoader && (flags & kSearchFlags) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryExW(fileName, file, flags);
}

namespace {

enum class Folder { Program, System, Windows, Current, Path, Vendor };

std::string SystemPath(UINT(WINAPI* call)(LPSTR, UINT)) {
  std::string folder(MAX_PATH, '\0');
  folder.resize(call(folder.data(), MAX_PATH));
  return folder + "\\";
}

std::string BinDir() {
  std::string path(MAX_PATH, '\0');
  path.resize(GetModuleFileNameA(nullptr, path.data(), MAX_PATH));
  return path.substr(0, path.find_last_of('\\') + 1);
}

// Wine holds on to a library whose imports were not found: each scene puts
// it into a folder of its own.
int vendorFolders = 0;

// The program's folder is this test's; the others are scratch folders of its own.
std::string FolderPath(Folder folder) {
  switch (folder) {
    case Folder::Program:
      return BinDir();
    case Folder::System:
      return SystemPath(GetSystemDirectoryA);
    case Folder::Windows:
      return SystemPath(GetSystemWindowsDirectoryA);
    case Folder::Current:
      return BinDir() + "search-current\\";
    case Folder::Path:
      return BinDir() + "search-path\\";
    case Folder::Vendor:
      return BinDir() + "search-vendor-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(vendorFolders) + "\\";
  }
  return {};
}

// Copies of the dependent stand-in and its import, taken away again; the
// current directory and PATH as a user may have set them.
class Scene {
 public:
  Scene(Folder library, const std::set<Folder>& imports)
      : library_(FolderPath(library == Folder::Vendor ? (++vendorFolders, library) : library)) {
    for (Folder folder : {Folder::Current, Folder::Path, Folder::Vendor}) {
      CreateDirectoryA(FolderPath(folder).c_str(), nullptr);
    }
    Place(BinDir() + "dependent\\Orvisk.dll", library_ + "Orvisk.dll");
    for (Folder folder : imports) {
      Place(BinDir() + "dependent\\orvdep.dll", FolderPath(folder) + "orvdep.dll");
    }
    path_.resize(GetEnvironmentVariableA("PATH", path_.data(), 32767));
    SetEnvironmentVariableA("PATH", (FolderPath(Folder::Path) + ";" + path_).c_str());
    current_.resize(GetCurrentDirectoryA(MAX_PATH, current_.data()));
    SetCurrentDirectoryA(FolderPath(Folder::Current).c_str());
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  ~Scene() {
    SetCurrentDirectoryA(current_.c_str());
    SetEnvironmentVariableA("PATH", path_.c_str());
    for (const std::string& copy : placed_) {
      DeleteFileA(copy.c_str());
    }
    RemoveDirectoryA(library_.c_str());  // only a scene's own folder is empty now
  }

  [[nodiscard]] std::string Library() const { return library_ + "Orvisk.dll"; }

  // The folder that the import came from; nullopt when the load failed.
  [[nodiscard]] static std::optional<Folder> ImportFolder() {
    std::string path(MAX_PATH, '\0');
    path.resize(GetModuleFileNameA(GetModuleHandleA("orvdep.dll"), path.data(), MAX_PATH));
    const std::string folder = path.substr(0, path.find_last_of('\\') + 1);
    // Through WoW64 the system folder's files may be named by SysWOW64.
    if (lstrcmpiA(folder.c_str(), SystemPath(GetSystemWow64DirectoryA).c_str()) == 0) {
      return Folder::System;
    }
    for (Folder candidate : {Folder::Program, Folder::System, Folder::Windows, Folder::Current,
                             Folder::Path, Folder::Vendor}) {
      if (lstrcmpiA(folder.c_str(), FolderPath(candidate).c_str()) == 0) {
        return candidate;
      }
    }
    ADD_FAILURE() << "loaded from " << path;
    return std::nullopt;
  }

 private:
  void Place(const std::string& from, const std::string& to) {
    ASSERT_NE(CopyFileA(from.c_str(), to.c_str(), FALSE), 0) << to;
    placed_.push_back(to);
  }

  std::string library_;
  std::vector<std::string> placed_;
  std::string path_ = std::string(32767, '\0');
  std::string current_ = std::string(MAX_PATH, '\0');
};

bool OnWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

struct Outcome {
  std::optional<Folder> import;
  DWORD error = 0;
  bool operator==(const Outcome&) const = default;
};

Outcome LoadWith(const Scene& scene, DWORD flags) {
  const std::string library = scene.Library();
  const std::wstring wide(library.begin(), library.end());
  HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, flags);
  if (module == nullptr) {
    return {std::nullopt, GetLastError()};
  }
  Outcome outcome{Scene::ImportFolder(), 0};
  FreeLibrary(module);
  return outcome;
}

const Outcome kNotFound{std::nullopt, ERROR_MOD_NOT_FOUND};

TEST(LibrarySearch, TheStandardSearchTakesImportsFromTheCurrentDirectoryAndPath) {
  {
    const Scene scene(Folder::Vendor, {Folder::Current, Folder::Path});
    EXPECT_EQ(LoadWith(scene, 0), Outcome{Folder::Current});
  }
  {
    const Scene scene(Folder::Vendor, {Folder::Path});
    EXPECT_EQ(LoadWith(scene, 0), Outcome{Folder::Path});
  }
  // The library's own folder is not searched.
  const Scene scene(Folder::Vendor, {Folder::Vendor});
  EXPECT_EQ(LoadWith(scene, 0), kNotFound);
}

TEST(LibrarySearch, AlteredSearchPutsTheLibrarysFolderFirstAndKeepsPath) {
  {
    const Scene scene(Folder::Vendor, {Folder::Vendor, Folder::Current});
    EXPECT_EQ(LoadWith(scene, LOAD_WITH_ALTERED_SEARCH_PATH), Outcome{Folder::Vendor});
  }
  const Scene scene(Folder::Vendor, {Folder::Path});
  EXPECT_EQ(LoadWith(scene, LOAD_WITH_ALTERED_SEARCH_PATH), Outcome{Folder::Path});
}

TEST(LibrarySearch, SearchFlagsTakeImportsOnlyFromTheFoldersTheyName) {
  {
    const Scene scene(Folder::Vendor, {Folder::Current, Folder::Path, Folder::Windows});
    EXPECT_EQ(LoadWith(scene, platform::kOwnFoldersOnly), kNotFound);
    EXPECT_EQ(LoadWith(scene, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS), kNotFound);
  }
  for (Folder folder : {Folder::Vendor, Folder::Program, Folder::System}) {
    const Scene scene(Folder::Vendor, {folder, Folder::Current});
    EXPECT_EQ(LoadWith(scene, platform::kOwnFoldersOnly), Outcome{folder});
  }
  const Scene scene(Folder::Vendor, {Folder::Vendor, Folder::Program});
  EXPECT_EQ(LoadWith(scene, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS), Outcome{Folder::Program});
  EXPECT_EQ(LoadWith(scene, LOAD_LIBRARY_SEARCH_SYSTEM32), kNotFound);
}

TEST(LibrarySearch, RefusedCombinationsAreInvalidParameters) {
  const Scene scene(Folder::Vendor, {Folder::Vendor});
  const Outcome invalid{std::nullopt, ERROR_INVALID_PARAMETER};
  EXPECT_EQ(LoadWith(scene, LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_SYSTEM32), invalid);
  EXPECT_EQ(LoadLibraryExW(L"Orvisk.dll", nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  for (DWORD flags : {DWORD{0}, DWORD{LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR}}) {
    EXPECT_EQ(SetDefaultDllDirectories(flags), 0) << flags;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << flags;
  }
}

TEST(LibrarySearch, AnEmptyDllDirectoryTakesTheCurrentDirectoryOut) {
  if (OnWine()) {
    GTEST_SKIP() << "Wine keeps the current directory after SetDllDirectoryW(L\"\")";
  }
  const Scene scene(Folder::Vendor, {Folder::Current, Folder::Path});
  SetDllDirectoryW(L"");
  EXPECT_EQ(LoadWith(scene, 0), Outcome{Folder::Path});
  SetDllDirectoryW(nullptr);
  EXPECT_EQ(LoadWith(scene, 0), Outcome{Folder::Current});
}

TEST(LibrarySearch, TheDllDirectoryIsTheUserDirectory) {
  const Scene scene(Folder::Vendor, {Folder::Path});
  const std::string folder = FolderPath(Folder::Path);
  SetDllDirectoryW(std::wstring(folder.begin(), folder.end()).c_str());
  EXPECT_EQ(LoadWith(scene, LOAD_LIBRARY_SEARCH_USER_DIRS), Outcome{Folder::Path});
  EXPECT_EQ(LoadWith(scene, LOAD_LIBRARY_SEARCH_SYSTEM32), kNotFound);
  SetDllDirectoryW(nullptr);
  EXPECT_EQ(LoadWith(scene, LOAD_LIBRARY_SEARCH_USER_DIRS), kNotFound);
}

// For the rest of the process: on Windows it runs alone.
TEST(LibrarySearchDefault, TheProgramsDefaultHoldsForLoadsWithoutSearchFlags) {
  {
    const Scene scene(Folder::Vendor, {Folder::Current, Folder::Path});
    ASSERT_TRUE(platform::KeepLibrarySearchSafe());
    EXPECT_EQ(LoadWith(scene, 0), kNotFound);
  }
  const Scene scene(Folder::Vendor, {Folder::Vendor, Folder::Program, Folder::Current});
  ASSERT_TRUE(platform::KeepLibrarySearchSafe());
  EXPECT_EQ(LoadWith(scene, 0), Outcome{Folder::Program});
  EXPECT_EQ(LoadWith(scene, LOAD_WITH_ALTERED_SEARCH_PATH), Outcome{Folder::Vendor});
}

// For the rest of the process: it runs alone. The service library lies
// beside this test, as beside the program; with the search flags it loads.
TEST(LibrarySearchOldLoader, WithoutTheLoaderUpdateTheServiceLibraryIsNotLoaded) {
  ASSERT_NE(GetFileAttributesA((BinDir() + "Orvisk.dll").c_str()), INVALID_FILE_ATTRIBUTES);
  oldLoader = true;
  EXPECT_FALSE(platform::KeepLibrarySearchSafe());
  EXPECT_THROW(platform::GetVorkelHandle(), platform::ServiceLibraryError);
  EXPECT_EQ(GetModuleHandleA("Orvisk.dll"), nullptr);
  oldLoader = false;
  EXPECT_NO_THROW(platform::GetVorkelHandle());
  EXPECT_NE(GetModuleHandleA("Orvisk.dll"), nullptr);
}

}  // namespace

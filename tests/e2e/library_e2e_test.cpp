// What runs inside the real Fenwarel.exe: a service library that needs a
// library of its own, with copies of that library planted where a user can
// write; and every module that each mode of the program holds when it ends.
#include "driver.h"

#include <tlhelp32.h>

#include <future>

namespace {

using e2e::BinDir;
using e2e::kHibernate;
using e2e::kInstallChanged;
using e2e::kMarkerKey;
using e2e::kOk;
using e2e::kSettingsChanged;
using e2e::kSettingsKey;
using e2e::kStandInState;
using e2e::Message;
using e2e::Process;
using e2e::WaitFor;

enum class Place { Beside, Current, Path };

// A copy of the program with the dependent service library beside it, and
// orvdep.dll, the library's own import, where a test puts it. The program is
// started from the "current" folder, with the "path" folder on PATH.
class LibraryE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    oldPath_.resize(GetEnvironmentVariableA("PATH", oldPath_.data(), 32767));
    SetEnvironmentVariableA("PATH", (path_ + ";" + oldPath_).c_str());
    service_.emplace();
    ASSERT_NE(service_->Window(), nullptr) << "the stand-in service did not start";
  }
  void TearDown() override {
    SetEnvironmentVariableA("PATH", oldPath_.c_str());
    service_.reset();
  }

  // No settings, no marker, no trace, and no import anywhere.
  void Reset() {
    e2e::CloseAll("ZFenwarel");
    e2e::DeleteTreeOf(HKEY_CURRENT_USER, kStandInState);
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kMarkerKey);
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kSettingsKey);
    for (const std::string& folder : {root_, app_, current_, path_}) {
      CreateDirectoryA(folder.c_str(), nullptr);
    }
    for (const std::string& file :
         {app_ + "orvdep.dll", current_ + "orvdep.dll", path_ + "orvdep.dll"}) {
      DeleteFileA(file.c_str());
    }
    ASSERT_NE(CopyFileA((BinDir() + "Fenwarel.exe").c_str(), Exe().c_str(), FALSE), 0);
    ASSERT_NE(CopyFileA((BinDir() + "dependent\\Orvisk.dll").c_str(), (app_ + "Orvisk.dll").c_str(),
                        FALSE),
              0);
  }

  void PlantDependency(std::initializer_list<Place> places) {
    for (Place place : places) {
      const std::string& folder = place == Place::Beside    ? app_
                                  : place == Place::Current ? current_
                                                            : path_;
      ASSERT_NE(CopyFileA((BinDir() + "dependent\\orvdep.dll").c_str(),
                          (folder + "orvdep.dll").c_str(), FALSE),
                0);
    }
  }

  [[nodiscard]] std::string Exe() const { return app_ + "Fenwarel.exe"; }
  // A command line as an installer or a shortcut hands it over, from the current folder.
  [[nodiscard]] Process::Raw Run(const std::string& arguments) const {
    return {Exe(), "\"" + Exe() + "\"" + (arguments.empty() ? "" : " " + arguments), current_};
  }
  static HWND VisibleDialogOf(DWORD process) {
    HWND dialog = nullptr;
    const bool visible = WaitFor([&] {
      dialog = e2e::WindowOf(process, "ZFenwarel");
      return dialog != nullptr && IsWindowVisible(dialog) != 0;
    });
    return visible ? dialog : nullptr;
  }
  // Where orvdep.dll was loaded from, as it recorded; "" when it never ran.
  static std::string DependencyFrom() {
    auto value = e2e::Read(HKEY_CURRENT_USER, kStandInState, "DependencyFrom");
    return value ? value->second.c_str() : "";
  }

  // Install, a normal start with a second start while it is open, and a
  // save; then the marker and the settings.
  void RunEveryMode() {
    Process install(Run("-i"));
    EXPECT_EQ(install.Wait(), 0U);
    Process first(Run(""));
    HWND dialog = VisibleDialogOf(first.Id());
    ASSERT_NE(dialog, nullptr);
    Process second(Run(""));
    EXPECT_EQ(second.Wait(), 0U);
    e2e::Click(dialog, kHibernate);
    e2e::Click(dialog, kOk);
    EXPECT_EQ(first.Wait(), 0U);
    EXPECT_EQ(e2e::ReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey"), 0x40U);
    auto marker = e2e::Read(HKEY_LOCAL_MACHINE, kMarkerKey, "");
    EXPECT_EQ(marker ? std::string(marker->second.c_str()) : "(none)", "1");
  }

  std::string root_ = BinDir() + "deps\\";
  std::string app_ = root_ + "app\\";
  std::string current_ = root_ + "current\\";
  std::string path_ = root_ + "path\\";
  std::string oldPath_ = std::string(32767, '\0');
  std::optional<e2e::StandInService> service_;
};

// The control: with its import beside it, the library loads, and the service
// hears of the install and the save. A planted copy elsewhere is not taken.
TEST_F(LibraryE2e, WithItsImportBesideItTheLibraryLoadsAndTheServiceIsTold) {
  PlantDependency({Place::Beside, Place::Current, Place::Path});
  RunEveryMode();
  EXPECT_EQ(lstrcmpiA(DependencyFrom().c_str(), (app_ + "orvdep.dll").c_str()), 0)
      << DependencyFrom();
  const std::vector<Message> messages = service_->MessagesAfterSettling();
  EXPECT_EQ(messages, (std::vector<Message>{kInstallChanged, kSettingsChanged}));
}

TEST_F(LibraryE2e, AnImportPlantedInTheCurrentFolderOrOnPathNeverRuns) {
  for (auto places :
       {std::initializer_list<Place>{Place::Current}, std::initializer_list<Place>{Place::Path},
        std::initializer_list<Place>{Place::Current, Place::Path}}) {
    Reset();
    PlantDependency(places);
    RunEveryMode();
    EXPECT_EQ(DependencyFrom(), "");
    // Without its library the service hears nothing, as without Orvisk.dll.
    EXPECT_TRUE(service_->MessagesAfterSettling().empty());
  }
}

// Not a case of the suite's own runs: tests/e2e/fresh_session.sh starts it
// beside the program, the first process of a fresh Wine session, and it
// ticks the hibernation box and presses OK where the dialog opens.
TEST(DISABLED_FreshSession, TheDialogThatOpensIsSaved) {
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] {
        dialog = FindWindowA("ZFenwarel", nullptr);
        return dialog != nullptr && IsWindowVisible(dialog) != 0;
      },
      std::chrono::seconds(30)))
      << "no dialog opened";
  e2e::Click(dialog, kHibernate);
  e2e::Click(dialog, kOk);
}

// --- Every module the program holds ---------------------------------------------

// A run of the program under this test as its debugger, which stops it where
// it exits (the system's own exit call, after WinMain has returned) and
// takes a Toolhelp snapshot of its modules there.
class ModulesAtExit {
 public:
  // The first breakpoint of a 32-bit process on 64-bit Windows.
  static constexpr DWORD kWow64Breakpoint = 0x4000001F;

  explicit ModulesAtExit(Process::Raw raw)
      : debugger_([this, raw]() mutable { Debug(raw); }), id_(started_.get_future().get()) {}
  ModulesAtExit(const ModulesAtExit&) = delete;
  ModulesAtExit& operator=(const ModulesAtExit&) = delete;
  ~ModulesAtExit() {
    if (debugger_.joinable()) {
      debugger_.join();
    }
  }

  [[nodiscard]] DWORD Id() const { return id_; }
  // The full paths of the modules held at the exit; empty when it was never reached.
  std::vector<std::string> Modules() {
    debugger_.join();
    return modules_;
  }

 private:
  static std::vector<std::string> Snapshot(DWORD process) {
    std::vector<std::string> modules;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, process);
    if (snapshot == INVALID_HANDLE_VALUE) {
      return modules;
    }
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32First(snapshot, &entry); more != FALSE;
         more = Module32Next(snapshot, &entry)) {
      modules.emplace_back(entry.szExePath);
    }
    CloseHandle(snapshot);
    return modules;
  }

  // A breakpoint on the system's exit call in the debuggee, once its ntdll
  // is listed: the same file as this process's, so at the same offset.
  bool Arm(HANDLE process, DWORD id) {
    HMODULE own = GetModuleHandleA("ntdll.dll");
    auto* exit = reinterpret_cast<BYTE*>(GetProcAddress(own, "RtlExitUserProcess"));
    if (exit == nullptr) {
      return false;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, id);
    if (snapshot == INVALID_HANDLE_VALUE) {
      return false;
    }
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32First(snapshot, &entry); more != FALSE && exitAt_ == nullptr;
         more = Module32Next(snapshot, &entry)) {
      if (lstrcmpiA(entry.szModule, "ntdll.dll") == 0) {
        exitAt_ = entry.modBaseAddr + (exit - reinterpret_cast<BYTE*>(own));
      }
    }
    CloseHandle(snapshot);
    DWORD protection = 0;
    const BYTE breakpoint = 0xCC;
    return exitAt_ != nullptr &&
           VirtualProtectEx(process, exitAt_, 1, PAGE_EXECUTE_READWRITE, &protection) != 0 &&
           WriteProcessMemory(process, exitAt_, &breakpoint, 1, nullptr) != 0 &&
           FlushInstructionCache(process, exitAt_, 1) != 0;
  }

  void Debug(Process::Raw raw) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessA(raw.exe.c_str(), raw.commandLine.data(), nullptr, nullptr, FALSE,
                       DEBUG_ONLY_THIS_PROCESS, nullptr, raw.directory.c_str(), &startup,
                       &info) == 0) {
      started_.set_value(0);
      return;
    }
    started_.set_value(info.dwProcessId);
    bool armed = false;
    for (bool running = true; running;) {
      DEBUG_EVENT event{};
      // The first dialog waits, idle, while the test runs a second start.
      if (WaitForDebugEvent(&event, 120000) == 0) {
        TerminateProcess(info.hProcess, 1);  // hung: no snapshot
        continue;
      }
      DWORD status = DBG_CONTINUE;
      switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
          CloseHandle(event.u.CreateProcessInfo.hFile);
          break;
        case LOAD_DLL_DEBUG_EVENT:
          CloseHandle(event.u.LoadDll.hFile);
          armed = armed || Arm(info.hProcess, info.dwProcessId);
          break;
        case EXCEPTION_DEBUG_EVENT:
          if (armed && event.u.Exception.ExceptionRecord.ExceptionAddress == exitAt_) {
            modules_ = Snapshot(info.dwProcessId);
            TerminateProcess(info.hProcess, 0);
          } else if (const DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
                     code == EXCEPTION_BREAKPOINT || code == kWow64Breakpoint) {
            armed = armed || Arm(info.hProcess, info.dwProcessId);
          } else {
            status = DBG_EXCEPTION_NOT_HANDLED;
          }
          break;
        case EXIT_PROCESS_DEBUG_EVENT:
          running = false;
          break;
        default:
          break;
      }
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }

  std::promise<DWORD> started_;
  std::vector<std::string> modules_;
  BYTE* exitAt_ = nullptr;
  std::thread debugger_;
  DWORD id_;
};

// The program's folder, the system folders and the side-by-side store.
bool FromAllowedFolder(const std::string& module, const std::string& programFolder) {
  auto folder = [](UINT(WINAPI * call)(LPSTR, UINT)) {
    std::string path(MAX_PATH, '\0');
    path.resize(call(path.data(), MAX_PATH));
    return path.empty() ? path : path + "\\";
  };
  const std::string at = module.substr(0, module.find_last_of('\\') + 1);
  for (const std::string& allowed :
       {programFolder, folder(GetSystemDirectoryA), folder(GetSystemWow64DirectoryA)}) {
    if (!allowed.empty() && lstrcmpiA(at.c_str(), allowed.c_str()) == 0) {
      return true;
    }
  }
  const std::string sxs = folder(GetSystemWindowsDirectoryA) + "WinSxS\\";
  return lstrcmpiA(at.substr(0, sxs.size()).c_str(), sxs.c_str()) == 0;
}

// The check itself lets nothing else pass.
TEST(ModuleFolders, OnlyTheProgramsFolderAndTheSystemsOwnPass) {
  std::string windows(MAX_PATH, '\0');
  windows.resize(GetSystemWindowsDirectoryA(windows.data(), MAX_PATH));
  std::string system(MAX_PATH, '\0');
  system.resize(GetSystemDirectoryA(system.data(), MAX_PATH));
  const std::string program = BinDir() + "deps\\app\\";
  for (const std::string& module : {program + "Orvisk.dll", system + "\\USER32.dll",
                                    windows + "\\winsxs\\x86_c\\comctl32.dll"}) {
    EXPECT_TRUE(FromAllowedFolder(module, program)) << module;
  }
  for (const std::string& module :
       {BinDir() + "deps\\current\\orvdep.dll", BinDir() + "deps\\path\\orvdep.dll",
        BinDir() + "deps\\app2\\orvdep.dll", program + "sub\\orvdep.dll", windows + "\\orvdep.dll",
        system + "\\sub\\orvdep.dll", windows + "\\WinSxS.dll"}) {
    EXPECT_FALSE(FromAllowedFolder(module, program)) << module;
  }
}

TEST_F(LibraryE2e, EveryModuleOfEveryModeComesFromTheProgramsOrTheSystemsFolders) {
  // First with the import planted only where the program must not look: it
  // must not be listed. Then beside the library too, where it must be.
  PlantDependency({Place::Current, Place::Path});
  std::vector<std::pair<std::string, std::vector<std::string>>> runs;
  {
    ModulesAtExit planted(Run("-i"));
    runs.emplace_back("-i, import planted", planted.Modules());
  }
  PlantDependency({Place::Beside});
  for (const char* mode : {"-i", "-u", "-x"}) {
    ModulesAtExit run(Run(mode));
    runs.emplace_back(mode, run.Modules());
  }
  {
    ModulesAtExit normal(Run(""));
    HWND dialog = VisibleDialogOf(normal.Id());
    ASSERT_NE(dialog, nullptr);
    ModulesAtExit second(Run(""));
    runs.emplace_back("second start", second.Modules());
    e2e::Click(dialog, kOk);
    runs.emplace_back("start and save", normal.Modules());
  }
  for (const auto& [mode, modules] : runs) {
    ASSERT_FALSE(modules.empty()) << mode << ": no snapshot at the exit";
    bool library = false;
    for (const std::string& module : modules) {
      if (std::getenv("FENWAREL_LIST_MODULES") != nullptr) {
        std::printf("%s: %s\n", mode.c_str(), module.c_str());
      }
      EXPECT_TRUE(FromAllowedFolder(module, app_)) << mode << ": " << module;
      library = library || lstrcmpiA(module.c_str(), (app_ + "orvdep.dll").c_str()) == 0;
    }
    // Each mode asks the service library for the service's window first.
    EXPECT_EQ(library, mode.find("planted") == std::string::npos)
        << mode << ": the service library's import listed: " << library;
  }
}

}  // namespace

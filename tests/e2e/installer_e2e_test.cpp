// The Windows Installer package, used as an administrator uses it: msiexec
// started with a raw command line, silent, with a log; then the installed
// files, the registration, the installed marker and the messages that the
// stand-in service received are checked. The service's library lies in the
// system folder, where the installed program finds it, as on a laptop whose
// hotkey service is installed.
#include "driver.h"

#include <msi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

namespace {

using e2e::BinDir;
using e2e::Message;
using e2e::Process;
using e2e::WaitFor;

using e2e::kCancel;
using e2e::kInstallChanged;
using e2e::kMarkerKey;
using e2e::kSettingsKey;
using e2e::kStandby;
using e2e::kStandInState;

constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The package family's code, as in installer/fenwarel.wxs.
constexpr const char* kUpgradeCode = "{8D1CC993-2081-4C78-A8E6-00865A00C312}";

std::string Package() {
  std::string path = BinDir() + "..\\Fenwarel-" FENWAREL_VERSION FENWAREL_PACKAGE_SUFFIX ".msi";
  std::string full(MAX_PATH, '\0');
  full.resize(GetFullPathNameA(path.c_str(), MAX_PATH, full.data(), nullptr));
  return full;
}
// The same package with a step that fails where FENWAREL_FAIL says.
std::string FailingPackage() {
  return BinDir() + "failing\\Fenwarel-" FENWAREL_VERSION FENWAREL_PACKAGE_SUFFIX ".msi";
}
std::string NextPackage() {
  return BinDir() + "upgrade\\Fenwarel-" FENWAREL_NEXT_VERSION FENWAREL_PACKAGE_SUFFIX ".msi";
}
// A trial package of this version, as release.sh makes of uncommitted changes.
std::string TrialPackage() {
  return BinDir() + "trial\\Fenwarel-" FENWAREL_VERSION "-dirty" FENWAREL_PACKAGE_SUFFIX ".msi";
}

std::string SystemFolder() {
  std::string folder(MAX_PATH, '\0');
  folder.resize(GetSystemDirectoryA(folder.data(), MAX_PATH));
  return folder;
}

std::string KnownFolder(int id) {
  std::string folder(MAX_PATH, '\0');
  if (SHGetFolderPathA(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, folder.data()) != S_OK) {
    return "";
  }
  folder.resize(std::strlen(folder.c_str()));
  return folder;
}

std::string InstallFolder() { return KnownFolder(CSIDL_PROGRAM_FILES) + "\\Zelmoor\\Hotkey\\"; }

// On 64-bit Windows the other width's program folder and registry view,
// which the package must leave alone: the 64-bit "Program Files" and view for
// the 32-bit program, "Program Files (x86)" and the 32-bit view for the
// 64-bit twin. A 32-bit Windows has neither.
bool HasOtherWidth() { return sizeof(void*) == 8 || e2e::UnderWow64(); }
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
std::string OtherProgramFiles() {
  if (sizeof(void*) == 8) {
    return KnownFolder(CSIDL_PROGRAM_FILESX86);
  }
  std::string folder(MAX_PATH, '\0');
  folder.resize(GetEnvironmentVariableA("ProgramW6432", folder.data(), MAX_PATH));
  return folder;
}

// msiexec as an administrator starts it: on 64-bit Windows the 64-bit one,
// which a 32-bit process reaches as Sysnative.
std::string MsiexecExe() {
  if (e2e::UnderWow64()) {
    std::string windows(MAX_PATH, '\0');
    windows.resize(GetSystemWindowsDirectoryA(windows.data(), MAX_PATH));
    return windows + "\\Sysnative\\msiexec.exe";
  }
  return SystemFolder() + "\\msiexec.exe";
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Windows puts a per-machine shortcut into the common Start menu; Wine into
// the installing user's.
std::string Shortcut() {
  for (int folder : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    std::string path = KnownFolder(folder) + "\\ZELMOOR Hotkey.lnk";
    if (Exists(path)) {
      return path;
    }
  }
  return "";
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return names;
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      names.emplace_back(found.cFileName);
    }
  } while (FindNextFileA(search, &found) != 0);
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Text(const std::optional<std::pair<DWORD, std::string>>& value) {
  return value ? std::string(value->second.c_str()) : "(none)";
}

// What Add/Remove Programs shows of a registered product.
std::string Arp(const std::string& product, const char* name) {
  return Text(e2e::Read(HKEY_LOCAL_MACHINE, (kUninstallKey + product).c_str(), name));
}

// The entries of Add/Remove Programs that show this product's name.
int ArpEntries() {
  HKEY uninstall = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &uninstall) != ERROR_SUCCESS) {
    return 0;
  }
  int entries = 0;
  std::string name(256, '\0');
  for (DWORD index = 0;; ++index) {
    auto size = static_cast<DWORD>(name.size());
    if (RegEnumKeyExA(uninstall, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    entries += Arp(name.substr(0, size), "DisplayName") == "ZELMOOR Hotkey" ? 1 : 0;
  }
  RegCloseKey(uninstall);
  return entries;
}

// The products of this package's family that Windows Installer knows.
std::vector<std::string> InstalledProducts() {
  std::vector<std::string> products;
  std::string product(39, '\0');
  for (DWORD index = 0;
       MsiEnumRelatedProductsA(kUpgradeCode, 0, index, product.data()) == ERROR_SUCCESS; ++index) {
    products.emplace_back(product.c_str());
  }
  return products;
}

std::vector<std::string> InstalledVersions() {
  std::vector<std::string> versions;
  for (const auto& product : InstalledProducts()) {
    versions.push_back(Arp(product, "DisplayVersion"));
  }
  return versions;
}

// Fenwarel.exe and one Fenwarel_XX.dll per language, and `extra` if named;
// nothing else.
bool OnlyTheProgramAndItsLanguages(const std::vector<std::string>& files,
                                   const std::string& extra = "") {
  const std::size_t expected = extra.empty() ? 20 : 21;
  return files.size() == expected &&
         std::all_of(files.begin(), files.end(), [&](const std::string& name) {
           return name == "Fenwarel.exe" || name == extra ||
                  (name.size() == 15 && name.starts_with("Fenwarel_") && name.ends_with(".dll"));
         });
}

std::string FileVersion(const std::string& file) {
  DWORD ignored = 0;
  std::vector<char> data(GetFileVersionInfoSizeA(file.c_str(), &ignored));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT size = 0;
  if (data.empty() ||
      GetFileVersionInfoA(file.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) == 0 ||
      VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &size) == 0) {
    return "";
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionLS));
}

// The texts of a window and of all its controls, as a message box shows them.
std::string AllTextOf(HWND window) {
  std::string text = e2e::TextOf(window);
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    text += "\n" + e2e::TextOf(child);
  }
  return text;
}

class InstallerE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CopyFileA((BinDir() + "Orvisk.dll").c_str(), (SystemFolder() + "\\Orvisk.dll").c_str(), FALSE);
  }
  static void TearDownTestSuite() { DeleteFileA((SystemFolder() + "\\Orvisk.dll").c_str()); }

  void SetUp() override {
    e2e::CloseAll("ZFenwarel");
    for (const auto& product : InstalledProducts()) {
      Msiexec("/x " + product + " /qn", "cleanup");
    }
    ASSERT_TRUE(InstalledProducts().empty()) << "an earlier installation cannot be removed";
    e2e::DeleteTreeOf(HKEY_CURRENT_USER, kStandInState);
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kMarkerKey);
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kSettingsKey);
    // A marker of the other width's program, which every run must leave as it is.
    if (HasOtherWidth()) {
      HKEY key = nullptr;
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, 0, KEY_WRITE | kOtherView,
                      nullptr, &key, nullptr);
      RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
      RegCloseKey(key);
    }
    service_.emplace();
    ASSERT_NE(service_->Window(), nullptr) << "the stand-in service did not start";
  }
  void TearDown() override {
    service_.reset();
    if (HasOtherWidth()) {
      EXPECT_EQ(e2e::DefaultTextInView(kMarkerKey, kOtherView), "1");
      EXPECT_FALSE(Exists(OtherProgramFiles() + "\\Zelmoor")) << OtherProgramFiles();
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, kOtherView, 0);
    }
  }

  // msiexec as an administrator runs it, silent and with a verbose log
  // beside the tests; its exit code, or nullopt when it hangs.
  static std::optional<DWORD> Msiexec(const std::string& arguments, const std::string& log) {
    Process msiexec(MsiexecExe(),
                    arguments + " /norestart /l*v \"" + BinDir() + "installer-" + log + ".log\"");
    return msiexec.Wait(120000);
  }
  // The log of that run, without the NULs of a UTF-16 one.
  static std::string LogOf(const std::string& log) {
    std::stringstream text;
    text << std::ifstream(BinDir() + "installer-" + log + ".log", std::ios::binary).rdbuf();
    std::string bytes = text.str();
    std::erase(bytes, '\0');
    return bytes;
  }
  static std::optional<std::string> Marker() {
    auto value = e2e::Read(HKEY_LOCAL_MACHINE, kMarkerKey, "");
    if (!value) {
      return std::nullopt;
    }
    return std::string(value->second.c_str());
  }
  std::optional<e2e::StandInService> service_;
};

TEST_F(InstallerE2e, SilentInstallAndUninstall) {
  ASSERT_EQ(Msiexec("/i \"" + Package() + "\" /qn", "install"), 0U);

  // The program of this build and its language files, none of the stand-ins;
  // on 64-bit Windows the x86 package's folder is "Program Files (x86)".
  EXPECT_TRUE(OnlyTheProgramAndItsLanguages(FilesIn(InstallFolder())));
  if (e2e::UnderWow64()) {
    EXPECT_NE(InstallFolder().find("\\Program Files (x86)\\Zelmoor\\Hotkey\\"), std::string::npos)
        << InstallFolder();
  }
  EXPECT_EQ(FileVersion(InstallFolder() + "Fenwarel.exe"), FENWAREL_VERSION ".0");

  // Both runs of -i reached the service: Wine has one session for all.
  EXPECT_EQ(Marker(), "1");
  EXPECT_EQ(service_->MessagesAfterSettling(),
            (std::vector<Message>{kInstallChanged, kInstallChanged}));

  // One entry in Add/Remove Programs, with the maker, the version, the icon.
  ASSERT_EQ(InstalledVersions(), std::vector<std::string>{FENWAREL_VERSION});
  const std::string product = InstalledProducts().front();
  EXPECT_EQ(Arp(product, "DisplayName"), "ZELMOOR Hotkey");
  EXPECT_EQ(Arp(product, "Publisher"), "Zelmoor");
  EXPECT_EQ(Arp(product, "InstallLocation"), InstallFolder());
  std::string icon(MAX_PATH, '\0');
  DWORD size = MAX_PATH;
  ASSERT_EQ(MsiGetProductInfoA(product.c_str(), INSTALLPROPERTY_PRODUCTICON, icon.data(), &size),
            static_cast<UINT>(ERROR_SUCCESS));
  icon.resize(size);
  EXPECT_TRUE(Exists(icon)) << icon;

  // The Start-menu shortcut opens the dialog from its folder, in the user's
  // language (German here) from the installed language files.
  const std::string shortcut = Shortcut();
  ASSERT_FALSE(shortcut.empty());
  SHELLEXECUTEINFOA open{};
  open.cbSize = sizeof(open);
  open.lpFile = shortcut.c_str();
  open.nShow = SW_SHOWNORMAL;
  ASSERT_NE(ShellExecuteExA(&open), 0);
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    dialog = FindWindowA("ZFenwarel", nullptr);
    return dialog != nullptr && IsWindowVisible(dialog) != 0;
  }));
  EXPECT_EQ(e2e::TextOf(GetDlgItem(dialog, kCancel)), "Abbrechen");
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return IsWindow(dialog) == 0; }));

  ASSERT_EQ(Msiexec("/x \"" + Package() + "\" /qn", "uninstall"), 0U);
  EXPECT_FALSE(Exists(InstallFolder()));
  EXPECT_FALSE(Exists(KnownFolder(CSIDL_PROGRAM_FILES) + "\\Zelmoor"));
  EXPECT_EQ(Shortcut(), "");
  EXPECT_EQ(Marker(), "");
  EXPECT_EQ(service_->MessagesAfterSettling(), std::vector<Message>(4, kInstallChanged));
  EXPECT_TRUE(InstalledProducts().empty());
  EXPECT_EQ(Arp(product, "DisplayName"), "(none)");
}

TEST_F(InstallerE2e, UninstallClosesTheOpenDialogWithoutSaving) {
  ASSERT_EQ(Msiexec("/i \"" + Package() + "\" /qn", "install-for-dialog"), 0U);
  Process program(InstallFolder() + "Fenwarel.exe", "");
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    dialog = e2e::WindowOf(program.Id(), "ZFenwarel");
    return dialog != nullptr && IsWindowVisible(dialog) != 0;
  }));
  e2e::Click(dialog, kStandby);

  ASSERT_EQ(Msiexec("/x \"" + Package() + "\" /qn", "uninstall-with-dialog"), 0U);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(e2e::ReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey"), 192U);
  // The dialog was gone before the files were removed: none is left behind.
  EXPECT_FALSE(Exists(InstallFolder()));
  EXPECT_EQ(Marker(), "");
  EXPECT_TRUE(InstalledProducts().empty());
}

TEST_F(InstallerE2e, UpgradeReplacesTheOlderVersionAndADowngradeIsRefused) {
  ASSERT_EQ(Msiexec("/i \"" + Package() + "\" /qn", "install-older"), 0U);
  ASSERT_EQ(Msiexec("/i \"" + NextPackage() + "\" /qn", "upgrade"), 0U);

  EXPECT_EQ(Marker(), "1");
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{FENWAREL_NEXT_VERSION});
  EXPECT_EQ(FileVersion(InstallFolder() + "Fenwarel.exe"), FENWAREL_NEXT_VERSION ".0");
  EXPECT_TRUE(OnlyTheProgramAndItsLanguages(FilesIn(InstallFolder())));

  // Silent, msiexec only fails; with its basic interface it says why.
  EXPECT_EQ(Msiexec("/i \"" + Package() + "\" /qn", "downgrade"),
            static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  Process shown(MsiexecExe(), "/i \"" + Package() + "\" /qb");
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = e2e::WindowOf(shown.Id(), "#32770")) != nullptr; }));
  EXPECT_NE(AllTextOf(box).find("A newer version of ZELMOOR Hotkey is already installed."),
            std::string::npos)
      << AllTextOf(box);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(shown.Wait(), static_cast<DWORD>(ERROR_INSTALL_FAILURE));

  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{FENWAREL_NEXT_VERSION});
  EXPECT_EQ(FileVersion(InstallFolder() + "Fenwarel.exe"), FENWAREL_NEXT_VERSION ".0");
  EXPECT_EQ(Marker(), "1");

  EXPECT_EQ(Msiexec("/x \"" + NextPackage() + "\" /qn", "uninstall-newer"), 0U);
  EXPECT_TRUE(InstalledProducts().empty());
}

// A trial package (-dirty) has a product code of its own: the release of its
// version replaces it, and it the release, whichever comes second. Exactly one
// entry and one copy of the files remain, and none after the uninstall.
TEST_F(InstallerE2e, ATrialPackageAndTheReleaseOfItsVersionReplaceEachOther) {
  for (const auto& [first, second, log] : {std::tuple{TrialPackage(), Package(), "release"},
                                           std::tuple{Package(), TrialPackage(), "trial"}}) {
    SCOPED_TRACE(first + ", then " + second);
    ASSERT_EQ(Msiexec("/i \"" + first + "\" /qn", std::string("before-") + log), 0U);
    const std::vector<std::string> replaced = InstalledProducts();
    ASSERT_EQ(replaced.size(), 1U);
    ASSERT_EQ(Msiexec("/i \"" + second + "\" /qn", std::string("replacing-by-") + log), 0U);

    const std::vector<std::string> installed = InstalledProducts();
    ASSERT_EQ(installed.size(), 1U);
    EXPECT_NE(installed, replaced);
    EXPECT_EQ(ArpEntries(), 1);
    EXPECT_EQ(Arp(installed.front(), "DisplayVersion"), FENWAREL_VERSION);
    EXPECT_TRUE(OnlyTheProgramAndItsLanguages(FilesIn(InstallFolder())));
    EXPECT_EQ(Marker(), "1");

    ASSERT_EQ(Msiexec("/x \"" + second + "\" /qn", std::string("uninstall-") + log), 0U);
    EXPECT_TRUE(InstalledProducts().empty());
    EXPECT_EQ(ArpEntries(), 0);
    EXPECT_FALSE(Exists(KnownFolder(CSIDL_PROGRAM_FILES) + "\\Zelmoor"));
    EXPECT_EQ(Marker(), "");
  }
}

bool OnWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// A failed installation leaves the machine as it was: the files and the
// installed marker, whatever it said before. Windows Installer ends with
// 1603; Wine 8 with 1627, and when it rolls an uninstall back it keeps the
// files and the marker but loses the product's registration.
TEST_F(InstallerE2e, AFailedInstallOrUninstallPutsTheMarkerBack) {
  auto failed = [](std::optional<DWORD> code) {
    return code == static_cast<DWORD>(ERROR_INSTALL_FAILURE) ||
           code == static_cast<DWORD>(ERROR_FUNCTION_FAILED);
  };
  for (const char* before : {"", "1"}) {
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kMarkerKey);
    if (*before != '\0') {
      e2e::WriteText(HKEY_LOCAL_MACHINE, kMarkerKey, "", before);
    }
    const std::string log = std::string("failed-install-") + (*before ? "marked" : "unmarked");
    EXPECT_TRUE(failed(Msiexec("/i \"" + FailingPackage() + "\" /qn FENWAREL_FAIL=install", log)));
    // The search read the marker in the program's own view, not the other
    // width's "1" (SetUp): the rollback's -u depends on it.
    EXPECT_EQ(LogOf(log).find("Property(S): MARKERBEFORE = 1") != std::string::npos,
              *before != '\0')
        << "the marker said '" << before << "' before";
    // Wine 8 runs a rollback's own file removal before the package's rollback
    // actions, so -u finds no program to start there; Windows runs the
    // rollback backwards, with the program still in place.
    if (!OnWine() || *before != '\0') {
      EXPECT_EQ(Marker().value_or(""), before) << "the marker said '" << before << "' before";
    }
    EXPECT_TRUE(InstalledProducts().empty());
    EXPECT_FALSE(Exists(InstallFolder() + "Fenwarel.exe"));
  }

  ASSERT_EQ(Msiexec("/i \"" + FailingPackage() + "\" /qn", "install-to-fail-removing"), 0U);
  ASSERT_EQ(Marker(), "1");
  EXPECT_TRUE(failed(
      Msiexec("/x \"" + FailingPackage() + "\" /qn FENWAREL_FAIL=uninstall", "failed-uninstall")));
  EXPECT_EQ(Marker(), "1");
  EXPECT_TRUE(OnlyTheProgramAndItsLanguages(FilesIn(InstallFolder()), "FailOnPurpose.exe"));
  // Gone for good, whatever registration is left.
  if (!InstalledProducts().empty()) {
    EXPECT_EQ(Msiexec("/x \"" + FailingPackage() + "\" /qn", "uninstall-after-failure"), 0U);
  }
  for (const std::string& file : FilesIn(InstallFolder())) {
    DeleteFileA((InstallFolder() + file).c_str());
  }
  RemoveDirectoryA(InstallFolder().c_str());
  RemoveDirectoryA((KnownFolder(CSIDL_PROGRAM_FILES) + "\\Zelmoor").c_str());
}

// What WinVerifyTrust says of a file's Authenticode signature: 0 when it is
// intact and issued by a trusted root.
LONG TrustOf(const std::string& path) {
  const std::wstring wide(path.begin(), path.end());
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = wide.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result;
}

// The test's certificate authority among the machine's trusted roots, for
// as long as this object lives.
class TrustedRoot {
 public:
  explicit TrustedRoot(std::string pemPath) {
    if (pemPath.starts_with('/')) {  // a path of the Linux host, through Wine's drive Z:
      std::replace(pemPath.begin(), pemPath.end(), '/', '\\');
      pemPath = "Z:" + pemPath;
    }
    std::stringstream pem;
    pem << std::ifstream(pemPath).rdbuf();
    std::vector<BYTE> der(16384);
    auto size = static_cast<DWORD>(der.size());
    if (CryptStringToBinaryA(pem.str().c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                             nullptr, nullptr) == 0) {
      return;
    }
    der.resize(size);
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (store_ != nullptr) {
      CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), size,
                                       CERT_STORE_ADD_REPLACE_EXISTING, &added_);
    }
  }
  TrustedRoot(const TrustedRoot&) = delete;
  TrustedRoot& operator=(const TrustedRoot&) = delete;
  ~TrustedRoot() { Remove(); }

  [[nodiscard]] bool Added() const { return added_ != nullptr; }
  void Remove() {
    if (added_ != nullptr) {
      CertDeleteCertificateFromStore(added_);  // frees the context too
      added_ = nullptr;
    }
    if (store_ != nullptr) {
      CertCloseStore(store_, 0);
      store_ = nullptr;
    }
  }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT added_ = nullptr;
};

// The package, the program and the language files it installs carry an
// Authenticode signature (SHA-256) that Windows accepts once it trusts the
// issuer, and refuses for a copy with one byte changed.
TEST_F(InstallerE2e, ThePackageAndWhatItInstallsAreSigned) {
  const char* ca = std::getenv("FENWAREL_TEST_CA");
  if (ca == nullptr) {
    GTEST_SKIP() << "no FENWAREL_TEST_CA: scripts/test.sh signs with a throwaway certificate";
  }
  ASSERT_EQ(Msiexec("/i \"" + Package() + "\" /qn", "install-signed"), 0U);
  const std::vector<std::string> signedFiles = {Package(), InstallFolder() + "Fenwarel.exe",
                                                InstallFolder() + "Fenwarel_DE.dll"};
  // Wine 8 does not ask whether the issuer is trusted (osslsigncode's check of
  // the chain stands in for that): only Windows refuses it before the root
  // is added.
  if (!OnWine()) {
    EXPECT_EQ(TrustOf(InstallFolder() + "Fenwarel.exe"), CERT_E_UNTRUSTEDROOT);
  }
  EXPECT_EQ(TrustOf(BinDir() + "Fenwarel.exe"), TRUST_E_NOSIGNATURE);  // the build's own, unsigned
  {
    TrustedRoot root(ca);
    ASSERT_TRUE(root.Added());
    for (const std::string& file : signedFiles) {
      EXPECT_EQ(TrustOf(file), 0) << file;
    }
    const std::string changed = BinDir() + "changed-Fenwarel.exe";
    ASSERT_NE(CopyFileA((InstallFolder() + "Fenwarel.exe").c_str(), changed.c_str(), FALSE), 0);
    {
      std::fstream file(changed, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(4096);
      file.put('\xA5');
    }
    EXPECT_EQ(TrustOf(changed), TRUST_E_BAD_DIGEST);
    DeleteFileA(changed.c_str());
  }
  EXPECT_EQ(Msiexec("/x \"" + Package() + "\" /qn", "uninstall-signed"), 0U);
}

}  // namespace

// The dialog's start, load and save against the substitutes: every mode of
// the command line, the limited-user probe, the flag word, and the failures
// that Wine cannot be made to show.
#include "app/settings_dialog.h"

#include "app/command_line.h"
#include "app_test_support.h"
#include "platform/library_search.h"

namespace {

using app::kMachineSettings;
using app::kUserSettings;
using app::StartMode;
using app::ZFenwarel;
using platform::fake::ClickWithMouse;
using platform::fake::LibraryLoad;
using platform::fake::PressKey;
using platform::fake::PressSpace;
using platform::fake::RefuseRegistry;
using platform::fake::RegistryOperation;
using platform::fake::TheServiceLibrary;
using platform::fake::WindowCall;
using testing_support::BytesOf;
using testing_support::KeyExists;
using testing_support::RawSet;
using testing_support::StoredValue;

using Kind = WindowCall::Kind;

TEST(CommandLine, OnlyTheExactSwitchesCountAfterTrimmingSpaces) {
  const std::vector<std::pair<const char*, StartMode>> cases = {
      {"", StartMode::Normal},          {"   ", StartMode::Normal},
      {"-u", StartMode::Uninstall},     {"-U", StartMode::Uninstall},
      {"  -u  ", StartMode::Uninstall}, {"-i", StartMode::Install},
      {" -I", StartMode::Install},      {"-i -u", StartMode::Ignore},
      {"\"-i\"", StartMode::Ignore},    {"\t-i", StartMode::Ignore},
      {"-i\t", StartMode::Ignore},      {"\t", StartMode::Ignore},
      {"-ix", StartMode::Ignore},       {"/i", StartMode::Ignore},
      {"anything", StartMode::Ignore},
  };
  for (const auto& [arguments, mode] : cases) {
    EXPECT_EQ(app::ModeOf(arguments), mode) << '[' << arguments << ']';
  }
}

TEST(CommandLine, TheArgumentsAreEverythingAfterTheProgramNameAsWindowsReadsIt) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {R"("C:\Program Files\Fenwarel.exe" -i)", " -i"},
      {"\"C:\\Program Files\\Fenwarel.exe\" \t-i", " \t-i"},  // the runtime would drop the tab
      {"\"C:\\x\\Fenwarel.exe\"-i", "-i"},
      {"C:\\x\\Fenwarel.exe -u", " -u"},
      {"C:\\x\\Fenwarel.exe\t-u", "\t-u"},
      {"Fenwarel", ""},
      {"\"C:\\no closing quote -i", ""},
      {"", ""},
  };
  for (const auto& [commandLine, arguments] : cases) {
    EXPECT_EQ(app::ArgumentsOf(commandLine), arguments) << '[' << commandLine << ']';
  }
  EXPECT_EQ(app::ModeOf(app::ArgumentsOf("\"Fenwarel.exe\" \t")), StartMode::Ignore);
  EXPECT_EQ(app::ModeOf(app::ArgumentsOf("\"Fenwarel.exe\"    ")), StartMode::Normal);
}

TEST(NumberConversion, IntegersAndDecimalTextsWithin32Bits) {
  using registry::TaggedValue;
  EXPECT_EQ(app::NumberOf(TaggedValue{std::int32_t{-7}}), -7);
  EXPECT_EQ(app::NumberOf(TaggedValue{std::int16_t{192}}), 192);
  EXPECT_EQ(app::NumberOf(TaggedValue{std::string(" +192 ")}), 192);
  EXPECT_EQ(app::NumberOf(TaggedValue{std::string("-2147483648")}), INT32_MIN);
  for (const char* text :
       {"", "  ", "abc", "12a", "1.5", "2147483648", "+-1", "+", "0x10", "\t5"}) {
    EXPECT_THROW(app::NumberOf(TaggedValue{std::string(text)}), registry::ConversionError) << text;
  }
  EXPECT_THROW(app::NumberOf(TaggedValue{registry::Bytes{1}}), registry::ConversionError);
}

class DialogTest : public testing_support::AppTest {};

// --- Normal start ------------------------------------------------------------

TEST_F(DialogTest, FirstStartCreatesTheDefaultAndShowsBothOptionsChecked) {
  ZFenwarel dialog;
  dialog.Load("");
  platform::Form& form = dialog.Window();
  EXPECT_TRUE(form.IsVisible());
  EXPECT_EQ(form.Caption(), "ZELMOOR Hotkey");
  EXPECT_EQ(dialog.LimitedUser, registry::kFalse);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(192)}));
  EXPECT_TRUE(form.IsChecked(ZFenwarel::chkStandbyMsg));
  EXPECT_TRUE(form.IsChecked(ZFenwarel::chkHiberMsg));
  EXPECT_EQ(form.FocusedControl(), ZFenwarel::OK);
  EXPECT_EQ(TheServiceLibrary().registered, form.Handle());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, app::kPolicyProbeKey));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserSettings.key));
}

TEST_F(DialogTest, StoredFlagsShowAsTheirBitsAndTextsAreLeftAlone) {
  struct Case {
    DWORD type;
    std::vector<BYTE> data;
    bool standby;
    bool hibernate;
  };
  const std::vector<Case> cases = {
      {REG_DWORD, Dword(0x40), true, false},
      {REG_DWORD, Dword(0x180), false, true},
      {REG_SZ, BytesOf(std::string("0\0", 2)), false, false},
      {REG_SZ, BytesOf(std::string(" 64 \0", 5)), true, false},
      {REG_SZ, BytesOf(std::string("many\0", 5)), false, false},
  };
  for (const Case& c : cases) {
    RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, c.type, c.data);
    ZFenwarel dialog;
    dialog.Load("");
    EXPECT_EQ(dialog.Window().IsChecked(ZFenwarel::chkStandbyMsg), c.standby);
    EXPECT_EQ(dialog.Window().IsChecked(ZFenwarel::chkHiberMsg), c.hibernate);
    EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{c.type, c.data}));
  }
}

TEST_F(DialogTest, ABinaryOrEmptyValueIsReplacedByTheDefault) {
  for (const StoredValue& before :
       {StoredValue{REG_BINARY, {0x40}}, StoredValue{REG_SZ, {}}, StoredValue{REG_NONE, {}}}) {
    RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, before.type, before.data);
    ZFenwarel dialog;
    dialog.Load("");
    EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(192)}));
  }
}

TEST_F(DialogTest, ALimitedUserKeepsHisOwnSettings) {
  RefuseRegistry(RegistryOperation::Create, HKEY_CURRENT_USER, app::kPolicyProbeKey);
  RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, REG_DWORD, Dword(0));
  ZFenwarel dialog;
  dialog.Load("");
  EXPECT_EQ(dialog.LimitedUser, registry::kTrue);
  EXPECT_TRUE(dialog.Window().IsChecked(ZFenwarel::chkStandbyMsg));  // the user's default
  ClickWithMouse(dialog.Window(), ZFenwarel::chkHiberMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kUserSettings), (StoredValue{REG_DWORD, Dword(0x40)}));
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0)}));
}

TEST_F(DialogTest, AProbeKeyThatWasThereStaysWithItsContents) {
  // With values only (a store would delete that key) and with a subkey.
  for (const std::string below : {"", "\\Sub"}) {
    platform::fake::ResetRegistry();
    const std::string key = std::string(app::kPolicyProbeKey) + below;
    RawSet(HKEY_CURRENT_USER, key, "Kept", REG_DWORD, Dword(1));
    ZFenwarel dialog;
    dialog.Load("");
    EXPECT_EQ(dialog.LimitedUser, registry::kFalse);
    EXPECT_TRUE(testing_support::RawGet(HKEY_CURRENT_USER, key, "Kept")) << below;
  }
}

TEST_F(DialogTest, WithoutTheServiceLibraryTheDialogStillOpensAndSaves) {
  TheServiceLibrary().installed = false;
  ZFenwarel dialog;
  dialog.Load("");
  ASSERT_TRUE(dialog.Window().IsVisible());
  ClickWithMouse(dialog.Window(), ZFenwarel::chkStandbyMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0x80)}));
  EXPECT_TRUE(platform::fake::WindowCalls().empty());
  EXPECT_FALSE(dialog.Window().IsOpen());
}

// By its full path in the program's folder, the system folder and Windows'
// own folder, never in the user's private Windows folder that a session
// host may name; its imports kept to its own, the program's and the system
// folder. What the loader then searches is tested under Wine.
TEST_F(DialogTest, TheServiceLibraryIsAskedForByFullPathInTheProgramsAndTheSystemsFolders) {
  for (const char* path :
       {"C:\\Program Files\\Fenwarel\\Orvisk.dll", "C:\\Windows\\system32\\Orvisk.dll",
        "C:\\Windows\\Orvisk.dll", "C:\\Users\\Public\\Windows\\Orvisk.dll"}) {
    platform::fake::ResetModules();
    TheServiceLibrary().path = path;
    ZFenwarel dialog;
    dialog.Load("");
    EXPECT_TRUE(dialog.Window().IsVisible());
    const bool allowed = !std::string(path).starts_with("C:\\Users");
    EXPECT_EQ(TheServiceLibrary().registrations, allowed ? 1 : 0) << path;
    std::vector<LibraryLoad> loads;
    std::ranges::copy_if(platform::fake::LibraryLoads(), std::back_inserter(loads),
                         [](const LibraryLoad& load) { return load.path.ends_with("Orvisk.dll"); });
    EXPECT_EQ(loads.empty(), !allowed) << path;
    for (const LibraryLoad& load : loads) {
      EXPECT_EQ(load, (LibraryLoad{path, platform::kOwnFoldersOnly}));
    }
  }
}

TEST_F(DialogTest, AMissingExportFailsOnlyItsOwnCall) {
  TheServiceLibrary().missingExports = {"RegFenwarel"};
  ZFenwarel dialog;
  dialog.Load("");
  EXPECT_TRUE(dialog.Window().IsVisible());
  EXPECT_EQ(TheServiceLibrary().registrations, 0);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(CallsTo(service_), (std::vector<WindowCall>{{Kind::Send, service_, 2025, 257, 1}}));
}

// --- Using the dialog -----------------------------------------------------------

TEST_F(DialogTest, OkWritesTheTwoBitsKeepsTheRestAndTellsTheService) {
  RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, REG_DWORD, Dword(0x1C3));
  ZFenwarel dialog;
  dialog.Load("");
  ClickWithMouse(dialog.Window(), ZFenwarel::chkHiberMsg);
  EXPECT_EQ(dialog.Window().FocusedControl(), ZFenwarel::OK);  // a mouse click hands focus to OK
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0x143)}));
  EXPECT_EQ(CallsTo(service_), (std::vector<WindowCall>{{Kind::Send, service_, 2025, 257, 1}}));
  EXPECT_FALSE(dialog.Window().IsOpen());
}

TEST_F(DialogTest, BothBoxesClearedKeepEveryOtherBit) {
  RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, REG_DWORD, Dword(0xFFFFFFFF));
  ZFenwarel dialog;
  dialog.Load("");
  ClickWithMouse(dialog.Window(), ZFenwarel::chkStandbyMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::chkHiberMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0xFFFFFF3F)}));
}

TEST_F(DialogTest, ATextValueIsReplacedByANumberOnSave) {
  RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, REG_SZ,
         BytesOf(std::string("0\0", 2)));
  ZFenwarel dialog;
  dialog.Load("");
  ClickWithMouse(dialog.Window(), ZFenwarel::chkStandbyMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0x40)}));
}

TEST_F(DialogTest, AValueThatIsNoNumberAtSaveCountsAsZero) {
  ZFenwarel dialog;
  dialog.Load("");
  // Someone else writes a text while the dialog is open.
  RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, REG_SZ,
         BytesOf(std::string("broken\0", 7)));
  ClickWithMouse(dialog.Window(), ZFenwarel::chkStandbyMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0x80)}));
  EXPECT_EQ(CallsTo(service_).size(), 1U);
  EXPECT_FALSE(dialog.Window().IsOpen());
}

TEST_F(DialogTest, AServiceLibraryGoneAtSaveStillSavesAndCloses) {
  ZFenwarel dialog;
  dialog.Load("");
  TheServiceLibrary().missingExports = {"GetVorkelHandle"};
  ClickWithMouse(dialog.Window(), ZFenwarel::chkStandbyMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0x80)}));
  EXPECT_TRUE(CallsTo(service_).empty());
  EXPECT_FALSE(dialog.Window().IsOpen());
}

// The loaded library stays in use when its file has been moved away since.
TEST_F(DialogTest, ALoadedLibraryWhoseFileWentStillTellsTheService) {
  ZFenwarel dialog;
  dialog.Load("");
  TheServiceLibrary().installed = false;
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(CallsTo(service_), (std::vector<WindowCall>{{Kind::Send, service_, 2025, 257, 1}}));
}

TEST_F(DialogTest, NoRunningServiceStillSavesAndSendsToNobody) {
  TheServiceLibrary().serviceWindow = nullptr;
  ZFenwarel dialog;
  dialog.Load("");
  ClickWithMouse(dialog.Window(), ZFenwarel::chkHiberMsg);
  ClickWithMouse(dialog.Window(), ZFenwarel::OK);
  EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0x40)}));
  EXPECT_EQ(CallsTo(nullptr), (std::vector<WindowCall>{{Kind::Send, nullptr, 2025, 257, 1}}));
}

TEST_F(DialogTest, CancelEscAndCloseRequestWriteNothing) {
  using Dismiss = void (*)(platform::Form&);
  const std::vector<Dismiss> ways = {
      [](platform::Form& form) { ClickWithMouse(form, ZFenwarel::Cancel); },
      [](platform::Form& form) { PressKey(form, 27); },
      [](platform::Form& form) { platform::fake::RequestClose(form); },
  };
  RawSet(HKEY_LOCAL_MACHINE, kMachineSettings.key, app::kStickyKey, REG_DWORD, Dword(0x1C3));
  for (Dismiss dismiss : ways) {
    ZFenwarel dialog;
    dialog.Load("");
    ClickWithMouse(dialog.Window(), ZFenwarel::chkStandbyMsg);
    PressKey(dialog.Window(), 'x');  // other keys are the controls'
    ASSERT_TRUE(dialog.Window().IsOpen());
    dismiss(dialog.Window());
    EXPECT_FALSE(dialog.Window().IsOpen());
    EXPECT_EQ(Sticky(kMachineSettings), (StoredValue{REG_DWORD, Dword(0x1C3)}));
    EXPECT_TRUE(CallsTo(service_).empty());
  }
}

TEST_F(DialogTest, KeyboardUseLeavesTheFocusOnTheCheckBox) {
  ZFenwarel dialog;
  dialog.Load("");
  dialog.Window().SetFocus(ZFenwarel::chkStandbyMsg);
  PressSpace(dialog.Window());
  EXPECT_FALSE(dialog.Window().IsChecked(ZFenwarel::chkStandbyMsg));
  EXPECT_EQ(dialog.Window().FocusedControl(), ZFenwarel::chkStandbyMsg);
}

// --- Install, uninstall, other arguments ---------------------------------------

TEST_F(DialogTest, InstallSetsAnEmptyMarkerAndNotifies) {
  ZFenwarel dialog;
  dialog.Load("-i");
  EXPECT_EQ(Marker(), (StoredValue{REG_SZ, BytesOf(std::string("1\0", 2))}));
  EXPECT_EQ(CallsTo(service_), (std::vector<WindowCall>{{Kind::Post, service_, 2026, 100, 0}}));
  EXPECT_FALSE(dialog.Window().IsOpen());
  EXPECT_FALSE(dialog.Window().IsVisible());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineSettings.key));
}

TEST_F(DialogTest, WithoutAWindowTheInstallersSwitchesStillWork) {
  platform::fake::RefuseFormWindows();
  ZFenwarel install;
  install.Load("-i");
  EXPECT_EQ(Marker(), (StoredValue{REG_SZ, BytesOf(std::string("1\0", 2))}));
  ZFenwarel uninstall;
  uninstall.Load("-u");
  EXPECT_EQ(Marker(), (StoredValue{REG_SZ, BytesOf(std::string("\0", 1))}));
  EXPECT_EQ(CallsTo(service_).size(), 2U);
  ZFenwarel normal;  // nothing to show: it ends at once
  normal.Load("");
  EXPECT_FALSE(normal.Window().IsOpen());
  EXPECT_EQ(normal.Run(), 0);
}

TEST_F(DialogTest, InstallLeavesAnyOtherMarkerAlone) {
  RawSet(HKEY_LOCAL_MACHINE, app::kInstalledMarkerKey, "", REG_SZ,
         BytesOf(std::string("yes\0", 4)));
  ZFenwarel dialog;
  dialog.Load(" -I ");
  EXPECT_EQ(Marker(), (StoredValue{REG_SZ, BytesOf(std::string("yes\0", 4))}));
  EXPECT_EQ(CallsTo(service_).size(), 1U);
}

TEST_F(DialogTest, UninstallEmptiesTheMarkerButCreatesNothing) {
  ZFenwarel first;
  first.Load("-u");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, app::kInstalledMarkerKey));
  EXPECT_EQ(CallsTo(service_), (std::vector<WindowCall>{{Kind::Post, service_, 2026, 100, 0}}));

  RawSet(HKEY_LOCAL_MACHINE, app::kInstalledMarkerKey, "", REG_SZ, BytesOf(std::string("1\0", 2)));
  ZFenwarel second;
  second.Load("-U");
  EXPECT_EQ(Marker(), (StoredValue{REG_SZ, BytesOf(std::string("\0", 1))}));
  EXPECT_FALSE(second.Window().IsOpen());
}

TEST_F(DialogTest, UninstallWithoutAServiceOrItsLibraryPostsNothing) {
  TheServiceLibrary().serviceWindow = nullptr;
  ZFenwarel dialog;
  dialog.Load("-u");
  TheServiceLibrary().installed = false;
  ZFenwarel another;
  another.Load("-i");
  EXPECT_EQ(Marker(), (StoredValue{REG_SZ, BytesOf(std::string("1\0", 2))}));
  EXPECT_TRUE(platform::fake::WindowCalls().empty());
}

TEST_F(DialogTest, OtherArgumentsTouchNothing) {
  for (const char* arguments : {"-i -u", "\"-i\"", "/u", "--install", "\t-i"}) {
    ZFenwarel dialog;
    dialog.Load(arguments);
    EXPECT_FALSE(dialog.Window().IsOpen()) << arguments;
  }
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, app::kInstalledMarkerKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineSettings.key));
  EXPECT_TRUE(platform::fake::WindowCalls().empty());
  EXPECT_EQ(TheServiceLibrary().registrations, 0);
}

// --- A second instance -----------------------------------------------------------

TEST_F(DialogTest, ASecondStartBringsTheFirstDialogForward) {
  ZFenwarel first;
  first.Load("");
  const int registrations = TheServiceLibrary().registrations;
  ZFenwarel second;
  second.Load("");
  HWND window = first.Window().Handle();
  EXPECT_EQ(CallsTo(window), (std::vector<WindowCall>{{Kind::Show, window, SW_RESTORE, 0, 0},
                                                      {Kind::Foreground, window, 0, 0, 0}}));
  EXPECT_FALSE(second.Window().IsOpen());
  EXPECT_EQ(TheServiceLibrary().registrations, registrations);
  EXPECT_TRUE(first.Window().IsVisible());
}

TEST_F(DialogTest, AStaleHandleIsNeitherRaisedNorClosed) {
  ZFenwarel first;
  first.Load("");
  HWND stranger = platform::fake::AddWindow("Notepad");
  TheServiceLibrary().registered = stranger;
  ZFenwarel second;
  second.Load("");
  ZFenwarel third;
  third.Load("-u");
  EXPECT_TRUE(CallsTo(stranger).empty());
  EXPECT_FALSE(second.Window().IsOpen());

  platform::fake::RemoveWindow(stranger);  // a handle that names no window any more
  ZFenwarel fourth;
  fourth.Load("");
  EXPECT_TRUE(CallsTo(stranger).empty());
}

TEST_F(DialogTest, UninstallClosesTheRunningDialog) {
  ZFenwarel first;
  first.Load("");
  ZFenwarel uninstall;
  uninstall.Load("-u");
  HWND window = first.Window().Handle();
  EXPECT_EQ(CallsTo(window), (std::vector<WindowCall>{{Kind::Post, window, WM_CLOSE, 0, 0}}));
}

TEST_F(DialogTest, AnInstanceWhoseMarkItMayNotOpenStillCountsAsRunning) {
  // The first instance runs elevated: its mutex exists, but opening it is refused.
  ZFenwarel first;
  first.Load("");
  const std::string name = "Local\\Zelmoor.Fenwarel.Settings";
  platform::fake::DenyMutex(name);
  ZFenwarel second;
  second.Load("");
  ZFenwarel uninstall;
  uninstall.Load("-u");
  platform::fake::DenyMutex(name, false);
  HWND window = first.Window().Handle();
  EXPECT_FALSE(second.Window().IsOpen());
  EXPECT_EQ(CallsTo(window), (std::vector<WindowCall>{{Kind::Show, window, SW_RESTORE, 0, 0},
                                                      {Kind::Foreground, window, 0, 0, 0},
                                                      {Kind::Post, window, WM_CLOSE, 0, 0}}));
}

TEST_F(DialogTest, ASecondStartWithoutTheLibraryStillEndsUnshown) {
  ZFenwarel first;
  first.Load("");
  platform::fake::ResetModules();  // as in a new process, where the library cannot be found
  TheServiceLibrary().installed = false;
  ZFenwarel second;
  second.Load("");
  EXPECT_FALSE(second.Window().IsOpen());
  EXPECT_TRUE(CallsTo(first.Window().Handle()).empty());
}

}  // namespace

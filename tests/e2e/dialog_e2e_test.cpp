// The real Fenwarel.exe beside the stand-in service and Orvisk.dll, used as
// a user and an installer would use it; then the registry and the messages
// the service received are checked.
#include "driver.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using e2e::BinDir;
using e2e::Message;
using e2e::Process;
using e2e::WaitFor;

using e2e::kCancel;
using e2e::kHibernate;
using e2e::kInstallChanged;
using e2e::kMarkerKey;
using e2e::kOk;
using e2e::kProbeKey;
using e2e::kSettingsChanged;
using e2e::kSettingsKey;
using e2e::kStandby;
using e2e::kStandInState;

class FenwarelE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e::CloseAll("ZFenwarel");
    for (const char* key : {kMarkerKey, kProbeKey, kStandInState}) {
      e2e::DeleteTreeOf(HKEY_CURRENT_USER, key);
    }
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kMarkerKey);
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kSettingsKey);
    service_.emplace();
    ASSERT_NE(service_->Window(), nullptr) << "the stand-in service did not start";
  }
  void TearDown() override { service_.reset(); }

  static std::string Exe() { return BinDir() + "Fenwarel.exe"; }

  // The dialog of a started program, once it is visible.
  static HWND DialogOf(const Process& program) {
    HWND dialog = nullptr;
    WaitFor([&] {
      dialog = e2e::WindowOf(program.Id(), "ZFenwarel");
      return dialog != nullptr && IsWindowVisible(dialog) != 0;
    });
    return dialog;
  }
  static std::optional<DWORD> Sticky() {
    return e2e::ReadDword(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey");
  }
  static std::optional<std::string> Marker() {
    auto value = e2e::Read(HKEY_LOCAL_MACHINE, kMarkerKey, "");
    if (!value) {
      return std::nullopt;
    }
    return std::string(value->second.c_str());
  }

  // A fixed frame with caption, system menu and minimize box, a taskbar
  // button, centred on the work area; the client area and the controls
  // where their twips put them at this display's resolution.
  static void ExpectFrameAndLayout(HWND dialog) {
    const auto style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              DWORD{WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX});
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0U);
    EXPECT_NE(exStyle & WS_EX_APPWINDOW, 0U);

    const int dpi = e2e::ScreenDpi();
    if (const char* expected = std::getenv("FENWAREL_TEST_DPI")) {
      EXPECT_EQ(dpi, std::atoi(expected));  // the run's own check that Wine took it
    }
    e2e::ExpectLayoutAt(dialog, dpi, 3735);

    RECT frame{};
    RECT work{};
    GetWindowRect(dialog, &frame);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 1);
  }

  std::optional<e2e::StandInService> service_;
};

TEST_F(FenwarelE2e, FirstStartShowsBothOptionsAndOkSavesAndNotifies) {
  Process program(Exe(), "");
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(e2e::TextOf(dialog), "ZELMOOR Hotkey");
  EXPECT_EQ(Sticky(), 192U);
  EXPECT_TRUE(e2e::Checked(dialog, kStandby));
  EXPECT_TRUE(e2e::Checked(dialog, kHibernate));
  EXPECT_EQ(e2e::FocusOf(dialog), GetDlgItem(dialog, kOk));
  ExpectFrameAndLayout(dialog);
  EXPECT_FALSE(e2e::Read(HKEY_CURRENT_USER, kProbeKey, nullptr).has_value());
  EXPECT_EQ(e2e::ReadDword(HKEY_CURRENT_USER, kStandInState, "Fenwarel"),
            static_cast<DWORD>(reinterpret_cast<UINT_PTR>(dialog)));

  e2e::Click(dialog, kStandby);
  EXPECT_FALSE(e2e::Checked(dialog, kStandby));
  // A mouse click on a check box hands the focus to OK.
  EXPECT_EQ(e2e::FocusOf(dialog), GetDlgItem(dialog, kOk));
  e2e::Click(dialog, kOk);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Sticky(), 128U);
  EXPECT_EQ(service_->Messages(), std::vector<Message>{kSettingsChanged});
}

// The window reaches monitors of 144, 120 and again its first dpi: at the place
// Windows suggests, every control where its twips put them at the new DPI,
// nothing of what the user did lost, back at the first dpi the very picture it
// started with, and the dialog still saves. Also run in Japanese.
TEST_F(FenwarelE2e, ADpiChangeLaysTheDialogOutAgainAndKeepsWhatTheUserDid) {
  const LANGID language = GetUserDefaultUILanguage();
  if (const char* expected = std::getenv("FENWAREL_TEST_LANGUAGE")) {
    ASSERT_EQ(language, std::atoi(expected));  // the run's own check that Wine took it
  }
  const int checkBoxWidth = language == 1041 ? 3975 : 3735;
  Process program(Exe(), "");
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  e2e::Click(dialog, kStandby);
  e2e::Type(dialog, VK_TAB);
  ASSERT_TRUE(WaitFor([&] { return e2e::FocusOf(dialog) == GetDlgItem(dialog, kCancel); }, 3s));
  auto captions = [&] {
    std::vector<std::string> texts{e2e::TextOf(dialog)};
    for (int id : {kOk, kCancel, kStandby, kHibernate}) {
      texts.push_back(e2e::TextOf(GetDlgItem(dialog, id)));
    }
    return texts;
  };
  const std::vector<std::string> shown = captions();
  // The client area, all the program paints: after a change of DPI, Wine 10's
  // 64-bit build paints the frame in the caption's colour.
  const std::string before = e2e::Screenshot(dialog, true);
  ASSERT_FALSE(before.empty());

  const int start = e2e::ScreenDpi();
  int dpi = start;
  for (int next : {144, 120, start}) {
    RECT frame{};
    GetWindowRect(dialog, &frame);
    const RECT suggested = e2e::SuggestedFrame(dialog, dpi, next, frame.left - 40, frame.top - 30);
    e2e::ChangeDpi(dialog, next, suggested);
    dpi = next;
    GetWindowRect(dialog, &frame);
    EXPECT_EQ(frame.left, suggested.left);
    EXPECT_EQ(frame.top, suggested.top);
    e2e::ExpectLayoutAt(dialog, dpi, checkBoxWidth);
    EXPECT_EQ(e2e::FocusOf(dialog), GetDlgItem(dialog, kCancel)) << dpi << " dpi";
    EXPECT_FALSE(e2e::Checked(dialog, kStandby));
    EXPECT_TRUE(e2e::Checked(dialog, kHibernate));
    EXPECT_EQ(captions(), shown);
    e2e::SaveScreenshot(e2e::Screenshot(dialog), "dpi-change-" + std::to_string(language) + "-" +
                                                     std::to_string(dpi) + ".bmp");
  }
  EXPECT_TRUE(e2e::Screenshot(dialog, true) == before)
      << "the dialog looks different back at " << start << " dpi";

  // A message without a DPI or a frame changes nothing.
  SendMessageA(dialog, WM_DPICHANGED, 0, 0);
  e2e::ExpectLayoutAt(dialog, start, checkBoxWidth);

  e2e::Click(dialog, kOk);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Sticky(), 128U);
}

TEST_F(FenwarelE2e, OkKeepsTheServicesOwnBits) {
  e2e::WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey", 0x1C3);
  Process program(Exe(), "");
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  e2e::Click(dialog, kHibernate);
  e2e::Click(dialog, kOk);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Sticky(), 0x143U);
}

TEST_F(FenwarelE2e, ATextValueShowsUncheckedAndOkStoresANumber) {
  e2e::WriteText(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey", "0");
  Process program(Exe(), "");
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(e2e::Checked(dialog, kStandby));
  EXPECT_FALSE(e2e::Checked(dialog, kHibernate));
  EXPECT_EQ(e2e::Read(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey")->first, DWORD{REG_SZ});
  e2e::Click(dialog, kOk);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Sticky(), 0U);
}

TEST_F(FenwarelE2e, CancelEscAndCloseLeaveTheRegistryAlone) {
  e2e::WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey", 0x1C3);
  const std::vector<void (*)(HWND)> dismissals = {
      [](HWND dialog) { e2e::Click(dialog, kCancel); },
      [](HWND dialog) { e2e::Type(dialog, VK_ESCAPE); },
      [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); },
  };
  for (auto dismiss : dismissals) {
    Process program(Exe(), "");
    HWND dialog = DialogOf(program);
    ASSERT_NE(dialog, nullptr);
    e2e::Click(dialog, kStandby);
    e2e::Click(dialog, kHibernate);
    dismiss(dialog);
    EXPECT_EQ(program.Wait(), 0U);
    EXPECT_EQ(Sticky(), 0x1C3U);
  }
  EXPECT_TRUE(service_->Messages().empty());
}

TEST_F(FenwarelE2e, TabMovesThroughTheControlsAndSpaceToggles) {
  Process program(Exe(), "");
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  const std::vector<int> order = {kCancel, kStandby, kHibernate, kOk};
  for (int id : order) {
    e2e::Type(dialog, VK_TAB);
    EXPECT_TRUE(WaitFor([&] { return e2e::FocusOf(dialog) == GetDlgItem(dialog, id); }, 3s))
        << "focus did not reach control " << id;
  }
  e2e::Type(dialog, VK_TAB);
  e2e::Type(dialog, VK_TAB);
  ASSERT_TRUE(WaitFor([&] { return e2e::FocusOf(dialog) == GetDlgItem(dialog, kStandby); }, 3s));
  e2e::Type(dialog, VK_SPACE);
  EXPECT_TRUE(WaitFor([&] { return !e2e::Checked(dialog, kStandby); }, 3s));
  // Keyboard use keeps the focus where it is.
  EXPECT_EQ(e2e::FocusOf(dialog), GetDlgItem(dialog, kStandby));
  // Shift+Tab goes back, through the keyboard as a user types it.
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog; }));
  e2e::Press(VK_TAB, true);
  EXPECT_TRUE(WaitFor([&] { return e2e::FocusOf(dialog) == GetDlgItem(dialog, kCancel); }, 3s));
  // A mouse click on a check box hands the focus to OK, wherever it was.
  e2e::Click(dialog, kHibernate);
  EXPECT_TRUE(WaitFor([&] { return e2e::FocusOf(dialog) == GetDlgItem(dialog, kOk); }, 3s));
  EXPECT_FALSE(e2e::Checked(dialog, kHibernate));
  e2e::Type(dialog, VK_ESCAPE);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Sticky(), 192U);
}

TEST_F(FenwarelE2e, InstallSetsTheMarkerAndNotifiesWithoutAWindow) {
  for (const char* arguments : {"-i", " -I "}) {
    Process program(Exe(), arguments);
    EXPECT_EQ(program.Wait(), 0U);
    EXPECT_EQ(e2e::WindowOf(program.Id(), "ZFenwarel"), nullptr);
  }
  EXPECT_EQ(Marker(), "1");
  EXPECT_EQ(service_->MessagesAfterSettling(),
            (std::vector<Message>{kInstallChanged, kInstallChanged}));
  EXPECT_FALSE(Sticky().has_value());

  e2e::WriteText(HKEY_LOCAL_MACHINE, kMarkerKey, "", "2");
  Process again(Exe(), "-i");
  EXPECT_EQ(again.Wait(), 0U);
  EXPECT_EQ(Marker(), "2");
}

TEST_F(FenwarelE2e, UninstallEmptiesTheMarkerAndCreatesNoKey) {
  Process missing(Exe(), "-u");
  EXPECT_EQ(missing.Wait(), 0U);
  EXPECT_FALSE(e2e::Read(HKEY_LOCAL_MACHINE, kMarkerKey, "").has_value());
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyA(HKEY_LOCAL_MACHINE, kMarkerKey, &key), ERROR_SUCCESS);

  e2e::WriteText(HKEY_LOCAL_MACHINE, kMarkerKey, "", "1");
  Process program(Exe(), "-U");
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Marker(), "");
  EXPECT_EQ(service_->MessagesAfterSettling(),
            (std::vector<Message>{kInstallChanged, kInstallChanged}));
}

TEST_F(FenwarelE2e, UninstallClosesAnOpenDialogWithoutSaving) {
  Process first(Exe(), "");
  HWND dialog = DialogOf(first);
  ASSERT_NE(dialog, nullptr);
  e2e::Click(dialog, kStandby);
  Process uninstall(Exe(), "-u");
  EXPECT_EQ(uninstall.Wait(), 0U);
  // Gone by the time -u ends: the files an uninstall removes next are free.
  EXPECT_EQ(first.Wait(0), 0U);
  EXPECT_EQ(Sticky(), 192U);
  EXPECT_EQ(service_->MessagesAfterSettling(), std::vector<Message>{kInstallChanged});
}

// On 64-bit Windows HKLM\Software has a 32-bit view beside the 64-bit one.
// The 32-bit program, like the 32-bit hotkey service, keeps its marker in
// the 32-bit view, which 64-bit programs and regedit see under
// Software\WOW6432Node; the 64-bit twin keeps it in the 64-bit view. Neither
// touches the other width's marker. A 32-bit Windows has one view.
TEST_F(FenwarelE2e, TheMarkerLivesInTheRegistryViewOfTheProgramsWidth) {
  const bool twin = sizeof(void*) == 8;
  if (!twin && !e2e::UnderWow64()) {
    GTEST_SKIP() << "a 32-bit Windows has a single registry view";
  }
  const REGSAM own = twin ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const REGSAM other = twin ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, 0, KEY_WRITE | other,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
  RegCloseKey(key);

  Process install(Exe(), "-i");
  EXPECT_EQ(install.Wait(), 0U);
  EXPECT_EQ(e2e::DefaultTextInView(kMarkerKey, own), "1");
  if (!twin) {
    EXPECT_EQ(e2e::DefaultTextInView("Software\\WOW6432Node\\Zelmoor\\Hotkey", KEY_WOW64_64KEY),
              "1");
  }
  Process uninstall(Exe(), "-u");
  EXPECT_EQ(uninstall.Wait(), 0U);
  EXPECT_EQ(e2e::DefaultTextInView(kMarkerKey, own), "");
  EXPECT_EQ(e2e::DefaultTextInView(kMarkerKey, other), "1");
  for (REGSAM view : {own, other}) {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, view, 0);
  }
}

TEST_F(FenwarelE2e, OtherArgumentsDoNothingAtAll) {
  for (const char* arguments : {"-i -u", "\"-i\"", "/i", "hello"}) {
    Process program(Exe(), arguments);
    EXPECT_EQ(program.Wait(), 0U) << arguments;
  }
  EXPECT_FALSE(Marker().has_value());
  EXPECT_FALSE(Sticky().has_value());
  EXPECT_TRUE(service_->MessagesAfterSettling().empty());
}

TEST_F(FenwarelE2e, RawCommandLinesCountOnlyWithSpacesAroundTheSwitch) {
  const std::string exe = Exe();
  // Started from another current directory, as an installer may start it.
  auto run = [&](const std::string& commandLine) {
    Process program(Process::Raw{exe, commandLine, "C:\\"});
    EXPECT_EQ(program.Wait(), 0U) << commandLine;
    EXPECT_EQ(e2e::WindowOf(program.Id(), "ZFenwarel"), nullptr) << commandLine;
  };
  // A tab is no space: each of these is some other argument and does nothing.
  for (const std::string& commandLine :
       {"\"" + exe + "\" \t-i", "\"" + exe + "\" -i\t", "\"" + exe + "\" -\ti",
        "\"" + exe + "\" \t", exe + "\t-i", "\"" + exe + "\" \"-i\""}) {
    run(commandLine);
  }
  EXPECT_FALSE(Marker().has_value());
  EXPECT_FALSE(Sticky().has_value());
  EXPECT_TRUE(service_->MessagesAfterSettling().empty());

  for (const std::string& commandLine : {exe + " -i", "\"" + exe + "\"   -I   "}) {
    run(commandLine);
  }
  EXPECT_EQ(Marker(), "1");
  EXPECT_EQ(service_->MessagesAfterSettling(),
            (std::vector<Message>{kInstallChanged, kInstallChanged}));

  // Spaces alone are no argument: the dialog opens.
  Process program(Process::Raw{exe, "\"" + exe + "\"    ", "C:\\"});
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.Wait(), 0U);
}

TEST_F(FenwarelE2e, EnterPressesTheFocusedButtonAndNothingElse) {
  auto styleOf = [](HWND dialog, int id) {
    return static_cast<DWORD>(GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE)) & BS_TYPEMASK;
  };
  auto open = [&](Process& program) {
    HWND dialog = DialogOf(program);
    EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog; }));
    return dialog;
  };
  {  // Enter on OK, where the focus starts: saved
    Process program(Exe(), "");
    HWND dialog = open(program);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(styleOf(dialog, kOk), DWORD{BS_DEFPUSHBUTTON});  // shows that Enter presses it
    e2e::Click(dialog, kStandby);
    e2e::Press(VK_RETURN);
    EXPECT_EQ(program.Wait(), 0U);
    EXPECT_EQ(Sticky(), 128U);
  }
  {  // Enter on Cancel: discarded
    Process program(Exe(), "");
    HWND dialog = open(program);
    ASSERT_NE(dialog, nullptr);
    e2e::Click(dialog, kHibernate);
    e2e::Press(VK_TAB);
    ASSERT_TRUE(e2e::FocusReaches(dialog, kCancel));
    EXPECT_EQ(styleOf(dialog, kCancel), DWORD{BS_DEFPUSHBUTTON});
    EXPECT_EQ(styleOf(dialog, kOk), DWORD{BS_PUSHBUTTON});
    e2e::Press(VK_RETURN);
    EXPECT_EQ(program.Wait(), 0U);
    EXPECT_EQ(Sticky(), 128U);
  }
  {  // Enter on a check box: no button is the default, nothing happens
    Process program(Exe(), "");
    HWND dialog = open(program);
    ASSERT_NE(dialog, nullptr);
    e2e::Press(VK_TAB);
    e2e::Press(VK_TAB);
    ASSERT_TRUE(e2e::FocusReaches(dialog, kStandby));
    EXPECT_EQ(styleOf(dialog, kOk), DWORD{BS_PUSHBUTTON});
    e2e::Press(VK_RETURN);
    EXPECT_FALSE(program.Wait(500).has_value());
    EXPECT_FALSE(e2e::Checked(dialog, kStandby));
    e2e::Press(VK_ESCAPE);
    EXPECT_EQ(program.Wait(), 0U);
  }
  EXPECT_EQ(Sticky(), 128U);
  EXPECT_EQ(service_->Messages(), std::vector<Message>{kSettingsChanged});
}

// The push button that has the focus looks like the default one and
// DM_GETDEFID names it; whichever way the focus leaves it, the look goes too.
// Each step starts where the one before ended.
TEST_F(FenwarelE2e, TheDefaultLookGoesWithTheFocus) {
  Process program(Exe(), "");
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog; }));
  auto mouse = [&](int id, DWORD buttons) {
    return [=] { e2e::Mouse(e2e::CentreOf(GetDlgItem(dialog, id)), buttons); };
  };
  const std::vector<std::tuple<const char*, std::function<void()>, int>> steps = {
      {"Tab from OK", [] { e2e::Press(VK_TAB); }, kCancel},
      {"Tab from Cancel", [] { e2e::Press(VK_TAB); }, kStandby},
      {"Shift+Tab to Cancel", [] { e2e::Press(VK_TAB, true); }, kCancel},
      {"Shift+Tab from Cancel", [] { e2e::Press(VK_TAB, true); }, kOk},
      {"Shift+Tab from OK", [] { e2e::Press(VK_TAB, true); }, kHibernate},
      {"Tab to OK", [] { e2e::Press(VK_TAB); }, kOk},
      {"Tab to Cancel", [] { e2e::Press(VK_TAB); }, kCancel},
      {"mouse pressed on a check box, from Cancel", mouse(kStandby, MOUSEEVENTF_LEFTDOWN),
       kStandby},
      {"mouse released there: OK takes the focus", mouse(kStandby, MOUSEEVENTF_LEFTUP), kOk},
      {"mouse pressed on a check box, from OK", mouse(kHibernate, MOUSEEVENTF_LEFTDOWN),
       kHibernate},
      {"mouse released there", mouse(kHibernate, MOUSEEVENTF_LEFTUP), kOk},
  };
  auto expectDefaultIs = [&](int focused, const char* step) {
    for (int button : {kOk, kCancel}) {
      const auto style =
          static_cast<DWORD>(GetWindowLongA(GetDlgItem(dialog, button), GWL_STYLE)) & BS_TYPEMASK;
      EXPECT_EQ(style, static_cast<DWORD>(button == focused ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON))
          << "button " << button << " after " << step;
    }
    const bool pushButton = focused == kOk || focused == kCancel;
    EXPECT_EQ(SendMessageA(dialog, DM_GETDEFID, 0, 0),
              pushButton ? MAKELRESULT(focused, DC_HASDEFID) : 0)
        << "after " << step;
  };
  expectDefaultIs(kOk, "the start");
  for (const auto& [step, act, focused] : steps) {
    act();
    ASSERT_TRUE(e2e::FocusReaches(dialog, focused)) << step;
    expectDefaultIs(focused, step);
  }
  e2e::Press(VK_ESCAPE);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Sticky(), 192U);
}

// A window of another program, which the user switches to; on a thread of
// its own, so that it answers while the test waits.
class OtherWindow {
 public:
  OtherWindow() : thread_([this] { Run(); }) {
    WaitFor([&] { return window_.load() != nullptr; });
  }
  OtherWindow(const OtherWindow&) = delete;
  OtherWindow& operator=(const OtherWindow&) = delete;
  ~OtherWindow() {
    PostThreadMessageA(threadId_.load(), WM_QUIT, 0, 0);
    thread_.join();
  }
  [[nodiscard]] HWND Handle() const { return window_.load(); }

 private:
  void Run() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "FenwarelE2eOther";
    RegisterClassA(&windowClass);
    // In the top left corner, away from the dialog in the middle.
    HWND window =
        CreateWindowExA(0, "FenwarelE2eOther", "Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        0, 0, 200, 120, nullptr, nullptr, windowClass.hInstance, nullptr);
    threadId_ = GetCurrentThreadId();
    window_ = window;
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      DispatchMessageA(&message);
    }
    DestroyWindow(window);
  }

  std::atomic<HWND> window_{nullptr};
  std::atomic<DWORD> threadId_{0};
  std::thread thread_;
};

// Back in the dialog, the focus is where the user left it: on a check box
// that is not the first control, so that a dialog that just starts over at
// OK, or leaves the focus on itself, is seen.
TEST_F(FenwarelE2e, TheFocusComesBackWhereItWas) {
  OtherWindow other;  // before the dialog, which then opens in front of it
  ASSERT_NE(other.Handle(), nullptr);
  Process program(Exe(), "");
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog; }));
  HWND hibernate = GetDlgItem(dialog, kHibernate);
  for (int tab = 0; tab < 3; ++tab) {
    e2e::Press(VK_TAB);
  }
  ASSERT_TRUE(WaitFor([&] { return e2e::FocusOf(dialog) == hibernate; }, 3s));

  const std::function<void()> toOther = [&] {
    e2e::Mouse(e2e::CentreOf(other.Handle()), MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == other.Handle(); }));
  };
  const std::function<void()> minimize = [&] {
    e2e::Mouse(e2e::MinimizeBoxOf(dialog), MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(WaitFor([&] { return IsIconic(dialog) != 0; }));
  };
  const std::function<void()> clickDialog = [&] {
    POINT empty{8, 8};  // client area above the check boxes
    ClientToScreen(dialog, &empty);
    e2e::Mouse(empty, MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
  };
  const std::function<void()> restore = [&] {  // "Restore" of the window's menu
    PostMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
  };
  const std::function<void()> secondStart = [&] {
    Process second(Exe(), "");
    EXPECT_EQ(second.Wait(), 0U);
  };
  const std::vector<std::tuple<const char*, std::function<void()>, std::function<void()>>> ways = {
      {"another window, then a click on the dialog", toOther, clickDialog},
      {"minimized, then restored", minimize, restore},
      {"another window, then a second start", toOther, secondStart},
      {"minimized, then a second start", minimize, secondStart},
  };
  for (const auto& [way, leave, back] : ways) {
    SCOPED_TRACE(way);
    leave();
    back();
    EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog && IsIconic(dialog) == 0; }));
    EXPECT_TRUE(WaitFor([&] { return e2e::FocusOf(dialog) == hibernate; }, 3s))
        << "the focus is on control " << GetDlgCtrlID(e2e::FocusOf(dialog))
        << " (0: the dialog itself or none), not on " << kHibernate;
  }
  e2e::Press(VK_ESCAPE);
  EXPECT_EQ(program.Wait(), 0U);
}

TEST_F(FenwarelE2e, AnInstanceWhoseMarkCannotBeOpenedStillCountsAsRunning) {
  // An elevated first instance's mutex, as a limited second one meets it:
  // there, but refused to it.
  SECURITY_DESCRIPTOR refused{};
  InitializeSecurityDescriptor(&refused, SECURITY_DESCRIPTOR_REVISION);
  ACL empty{};
  InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
  SetSecurityDescriptorDacl(&refused, TRUE, &empty, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &refused, FALSE};
  HANDLE mutex = CreateMutexA(&attributes, FALSE, "Local\\Zelmoor.Fenwarel.Settings");
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "Local\\Zelmoor.Fenwarel.Settings"), nullptr);
  ASSERT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});

  Process second(Exe(), "");
  EXPECT_EQ(second.Wait(), 0U);
  EXPECT_EQ(e2e::WindowOf(second.Id(), "ZFenwarel"), nullptr);
  EXPECT_FALSE(Sticky().has_value());  // no normal start
  CloseHandle(mutex);
}

TEST_F(FenwarelE2e, ASecondStartRestoresTheMinimizedFirstDialog) {
  Process first(Exe(), "");
  HWND dialog = DialogOf(first);
  ASSERT_NE(dialog, nullptr);
  ShowWindow(dialog, SW_MINIMIZE);
  ASSERT_TRUE(WaitFor([&] { return IsIconic(dialog) != 0; }));

  Process second(Exe(), "");
  EXPECT_EQ(second.Wait(), 0U);
  EXPECT_EQ(e2e::WindowOf(second.Id(), "ZFenwarel"), nullptr);
  EXPECT_TRUE(WaitFor([&] { return IsIconic(dialog) == 0; }));
  EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog; }));
  EXPECT_TRUE(IsWindowVisible(dialog));
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.Wait(), 0U);
}

TEST_F(FenwarelE2e, AStaleRegistrationNamesNoWindowToCloseOrRaise) {
  Process first(Exe(), "");
  HWND dialog = DialogOf(first);
  ASSERT_NE(dialog, nullptr);
  // The service library now remembers another program's window.
  HWND stranger = service_->Window();
  e2e::WriteDword(HKEY_CURRENT_USER, kStandInState, "Fenwarel",
                  static_cast<DWORD>(reinterpret_cast<UINT_PTR>(stranger)));
  Process second(Exe(), "");
  EXPECT_EQ(second.Wait(), 0U);
  Process uninstall(Exe(), "-u");
  EXPECT_EQ(uninstall.Wait(), 0U);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(IsWindow(stranger));
  EXPECT_FALSE(IsWindowVisible(stranger));
  EXPECT_TRUE(IsWindow(dialog));
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.Wait(), 0U);
}

// The service library is taken from the first of the program's folder, the
// system folder and the shared Windows folder that has it.
TEST_F(FenwarelE2e, TheServiceLibraryComesFromTheFirstFolderThatHasIt) {
  auto folderOf = [](UINT(WINAPI * call)(LPSTR, UINT)) {
    std::string folder(MAX_PATH, '\0');
    folder.resize(call(folder.data(), MAX_PATH));
    return folder + "\\";
  };
  const std::string programFolder = BinDir() + "order\\";
  const std::vector<std::string> copies = {programFolder + "Orvisk.dll",
                                           folderOf(GetSystemDirectoryA) + "Orvisk.dll",
                                           folderOf(GetSystemWindowsDirectoryA) + "Orvisk.dll"};
  CreateDirectoryA(programFolder.c_str(), nullptr);
  const std::string exe = programFolder + "Fenwarel.exe";
  ASSERT_NE(CopyFileA(Exe().c_str(), exe.c_str(), FALSE), 0);
  for (const std::string& copy : copies) {
    ASSERT_NE(CopyFileA((BinDir() + "planted\\Orvisk.dll").c_str(), copy.c_str(), FALSE), 0)
        << copy;
  }
  // Through WoW64 the 32-bit system folder is SysWOW64: GetSystemDirectory
  // names System32, and the file system takes a 32-bit program to SysWOW64,
  // where the 32-bit service installs its library.
  const bool wow64 = e2e::UnderWow64();
  const std::string wow64Copy = wow64 ? folderOf(GetSystemWow64DirectoryA) + "Orvisk.dll" : "";
  if (wow64) {
    EXPECT_NE(GetFileAttributesA(wow64Copy.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  // Which copy a run of -i loaded; each one is taken away after its turn.
  auto loadedFrom = [&] {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kStandInState, "LoadedFrom");
    Process program(exe, "-i");
    EXPECT_EQ(program.Wait(), 0U);
    const auto loaded = e2e::Read(HKEY_CURRENT_USER, kStandInState, "LoadedFrom");
    return std::string(loaded ? loaded->second.c_str() : "(none)");
  };
  for (const std::string& copy : copies) {
    const std::string loaded = loadedFrom();
    // The system folder's copy may be named by either of its two paths.
    EXPECT_TRUE(lstrcmpiA(loaded.c_str(), copy.c_str()) == 0 ||
                (copy == copies[1] && lstrcmpiA(loaded.c_str(), wow64Copy.c_str()) == 0))
        << loaded << " instead of " << copy;
    DeleteFileA(copy.c_str());
  }
  // The 64-bit System32, reached from a 32-bit program as Sysnative, is no
  // folder of the 32-bit program's: a copy there stays unloaded.
  if (wow64) {
    const std::string native = folderOf(GetSystemWindowsDirectoryA) + "Sysnative\\Orvisk.dll";
    ASSERT_NE(CopyFileA((BinDir() + "planted\\Orvisk.dll").c_str(), native.c_str(), FALSE), 0);
    EXPECT_EQ(loadedFrom(), "(none)");
    DeleteFileA(native.c_str());
  }
}

TEST_F(FenwarelE2e, WithoutTheServiceLibraryTheDialogStillWorks) {
  // A copy of the program in a folder of its own, without Orvisk.dll, started
  // where a planted Orvisk.dll lies, which is also on PATH: it must not load.
  std::string folder = BinDir() + "alone";
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string exe = folder + "\\Fenwarel.exe";
  ASSERT_NE(CopyFileA(Exe().c_str(), exe.c_str(), FALSE), 0);
  const std::string planted = BinDir() + "planted";
  ASSERT_NE(GetFileAttributesA((planted + "\\Orvisk.dll").c_str()), INVALID_FILE_ATTRIBUTES);
  std::string path(32767, '\0');
  path.resize(GetEnvironmentVariableA("PATH", path.data(), 32767));
  SetEnvironmentVariableA("PATH", (planted + ";" + path).c_str());

  Process install(Process::Raw{exe, "\"" + exe + "\" -i", planted});
  EXPECT_EQ(install.Wait(), 0U);
  EXPECT_EQ(Marker(), "1");

  Process program(Process::Raw{exe, "\"" + exe + "\"", planted});
  SetEnvironmentVariableA("PATH", path.c_str());
  HWND dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  e2e::Click(dialog, kHibernate);
  e2e::Click(dialog, kOk);
  EXPECT_EQ(program.Wait(), 0U);
  EXPECT_EQ(Sticky(), 0x40U);
  EXPECT_TRUE(service_->MessagesAfterSettling().empty());
  EXPECT_FALSE(e2e::ReadDword(HKEY_CURRENT_USER, kStandInState, "Planted").has_value());
}

}  // namespace

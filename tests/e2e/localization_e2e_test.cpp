// The localized dialog under Wine, in the user-interface language that the
// test runs with (LANG, set per run by CTest): the real window's texts,
// check-box widths in pixels and fonts. Near misses run the real program
// from a folder of its own with a test-only language file.
#include "app/settings_dialog.h"
#include "driver.h"

#include <cstdlib>

namespace {

using app::ZFenwarel;

int Dpi() {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int Pixels(int twips) { return MulDiv(twips, Dpi(), 1440); }

int WidthOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect.right - rect.left;
}

// A window's text in Unicode, also for another process's controls.
std::wstring TextOf(HWND window) {
  std::wstring text(512, L'\0');
  auto length =
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::vector<std::wstring> Captions(HWND dialog) {
  return {TextOf(dialog), TextOf(GetDlgItem(dialog, ZFenwarel::chkStandbyMsg)),
          TextOf(GetDlgItem(dialog, ZFenwarel::chkHiberMsg)),
          TextOf(GetDlgItem(dialog, ZFenwarel::OK)), TextOf(GetDlgItem(dialog, ZFenwarel::Cancel))};
}

LOGFONTA FontOf(HWND control) {
  LOGFONTA font{};
  auto handle = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  GetObjectA(handle, sizeof(font), &font);
  return font;
}

const std::vector<std::wstring> kEnglish{
    L"ZELMOOR Hotkey", L"Display a Standby confirmation message if Fn+F3 is pushed.",
    L"Display a Hibernation confirmation message if Fn+F4 is pushed.", L"OK", L"Cancel"};

TEST(LocalizedDialog, FollowsTheUserInterfaceLanguage) {
  const LANGID language = GetUserDefaultUILanguage();
  // The run's own check that Wine took the language it was given.
  if (const char* expected = std::getenv("FENWAREL_TEST_LANGUAGE")) {
    ASSERT_EQ(language, std::atoi(expected));
  }
  ZFenwarel dialog;
  dialog.Load("");
  HWND window = dialog.Window().Handle();
  ASSERT_TRUE(IsWindowVisible(window));
  HWND standby = GetDlgItem(window, ZFenwarel::chkStandbyMsg);
  HWND hibernate = GetDlgItem(window, ZFenwarel::chkHiberMsg);
  const LOGFONTA designed = FontOf(GetDlgItem(window, ZFenwarel::OK));

  switch (language) {
    case 1031:  // German
      EXPECT_EQ(
          Captions(window),
          (std::vector<std::wstring>{
              L"ZELMOOR Hotkey", L"Vor dem Standbymodus (Fn+F3) eine Bestätigung anzeigen.",
              L"Vor dem Ruhezustand (Fn+F4) eine Bestätigung anzeigen.", L"OK", L"Abbrechen"}));
      EXPECT_EQ(WidthOf(standby), Pixels(3735));
      EXPECT_NE(std::string(designed.lfFaceName), "MS UI Gothic");
      break;
    case 1041:  // Japanese: wider boxes, the file's font on every control
      EXPECT_EQ(GetACP(), 932U);
      EXPECT_EQ(
          Captions(window),
          (std::vector<std::wstring>{
              L"ZELMOOR ホットキー", L"Fn+F3 を押したときにスタンバイの確認メッセージを表示する",
              L"Fn+F4 を押したときに休止状態の確認メッセージを表示する", L"OK", L"キャンセル"}));
      EXPECT_EQ(WidthOf(standby), Pixels(3975));
      EXPECT_EQ(WidthOf(hibernate), Pixels(3975));
      for (int id :
           {ZFenwarel::OK, ZFenwarel::Cancel, ZFenwarel::chkStandbyMsg, ZFenwarel::chkHiberMsg}) {
        LOGFONTA font = FontOf(GetDlgItem(window, id));
        EXPECT_STREQ(font.lfFaceName, "MS UI Gothic") << id;
        EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET) << id;
        EXPECT_EQ(font.lfHeight, -MulDiv(9, Dpi(), 72)) << id;
      }
      break;
    default:  // Portuguese (Brazil), Chinese (Taiwan), English: no file of their own
      EXPECT_EQ(Captions(window), kEnglish) << "language " << language;
      EXPECT_EQ(WidthOf(standby), Pixels(3735));
      EXPECT_EQ(WidthOf(hibernate), Pixels(3735));
      break;
  }
}

// The window reaches monitors of 144, 120 and again the start's dpi: every
// control's font is made again there with the same face, character set and
// size (the Japanese 9 points stay 9 points), the language's widths too.
TEST(LocalizedDialog, KeepsItsFontsAndWidthsAcrossDpiChanges) {
  const bool japanese = GetUserDefaultUILanguage() == 1041;
  ZFenwarel dialog;
  dialog.Load("");
  HWND window = dialog.Window().Handle();
  const std::vector<int> controls{ZFenwarel::OK, ZFenwarel::Cancel, ZFenwarel::chkStandbyMsg,
                                  ZFenwarel::chkHiberMsg};
  std::vector<LOGFONTA> designed;
  for (int id : controls) {
    designed.push_back(FontOf(GetDlgItem(window, id)));
  }
  const int start = Dpi();
  int dpi = start;
  for (int next : {144, 120, start}) {
    e2e::ChangeDpi(window, next, e2e::SuggestedFrame(window, dpi, next, 20, 10));
    dpi = next;
    e2e::ExpectLayoutAt(window, dpi, japanese ? 3975 : 3735);
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const LOGFONTA font = FontOf(GetDlgItem(window, controls[i]));
      EXPECT_STREQ(font.lfFaceName, designed[i].lfFaceName) << controls[i];
      EXPECT_EQ(font.lfCharSet, designed[i].lfCharSet) << controls[i];
      if (japanese) {
        EXPECT_EQ(font.lfHeight, -MulDiv(9, dpi, 72)) << controls[i] << " at " << dpi << " dpi";
      } else {
        // The system's size at this DPI: the same points, rounded to a pixel.
        EXPECT_NEAR(font.lfHeight, MulDiv(designed[i].lfHeight, dpi, start), dpi == start ? 0 : 1)
            << controls[i] << " at " << dpi << " dpi";
      }
    }
  }
}

// --- Near misses, with the German user interface ----------------------------------------

class NearMiss : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetUserDefaultUILanguage() != 1031) {
      GTEST_SKIP() << "runs with the German user interface";
    }
    e2e::CloseAll("ZFenwarel");
  }

  // The program, alone in a folder with `file` as its German language file.
  static std::string Install(const std::string& name, const std::string& file) {
    std::string folder = e2e::BinDir() + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    CopyFileA((e2e::BinDir() + "Fenwarel.exe").c_str(), (folder + "\\Fenwarel.exe").c_str(), FALSE);
    CopyFileA(file.c_str(), (folder + "\\Fenwarel_DE.dll").c_str(), FALSE);
    return folder + "\\Fenwarel.exe";
  }

  struct Seen {
    std::vector<std::wstring> captions;
    int width = 0;  // of chkHiberMsg, in pixels
  };

  // Starts the program alone in a folder with `file` as its German language
  // file, reads its dialog, then closes it.
  static Seen Inspect(const std::string& folder, const std::string& file) {
    e2e::Process program(Install(folder, file), "");
    HWND dialog = nullptr;
    if (!e2e::WaitFor([&] {
          dialog = e2e::WindowOf(program.Id(), "ZFenwarel");
          return dialog != nullptr && IsWindowVisible(dialog);
        })) {
      ADD_FAILURE() << "no dialog appeared";
      return {};
    }
    Seen seen{Captions(dialog), WidthOf(GetDlgItem(dialog, ZFenwarel::chkHiberMsg))};
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.Wait(), 0U);
    return seen;
  }

  const std::vector<std::wstring> kTest{L"Prüfung Titel", L"Prüfung Standby",
                                        L"Prüfung Ruhezustand", L"Prüfung OK",
                                        L"Prüfung Abbrechen"};
};

TEST_F(NearMiss, LowerCaseJpIsNoJapaneseButStillACode) {
  Seen seen = Inspect("lang_lower", e2e::BinDir() + "test_lang_lowercase_jp.dll");
  EXPECT_EQ(seen.captions, kTest);
  EXPECT_EQ(seen.width, Pixels(3735));
}

TEST_F(NearMiss, AnyFileWhoseCodeIsJPGetsTheJapaneseLayout) {
  Seen seen = Inspect("lang_jp_code", e2e::BinDir() + "test_lang_japanese_code.dll");
  EXPECT_EQ(seen.captions, kTest);
  EXPECT_EQ(seen.width, Pixels(3975));
}

TEST_F(NearMiss, AFileWithoutACodeChangesNothing) {
  EXPECT_EQ(Inspect("lang_no_code", e2e::BinDir() + "test_lang_no_code.dll").captions, kEnglish);
}

TEST_F(NearMiss, AMissingTextLeavesItsCaptionEmpty) {
  EXPECT_EQ(Inspect("lang_no_1003", e2e::BinDir() + "test_lang_no_1003.dll").captions,
            (std::vector<std::wstring>{L"Prüfung Titel", L"Prüfung Standby", L"", L"Prüfung OK",
                                       L"Prüfung Abbrechen"}));
}

TEST_F(NearMiss, ALanguageFileInTheCurrentDirectoryOrTheSystemFolderIsNotTheProgramsOwn) {
  // The program alone in a folder, started where German files lie, with a
  // German file in the system folder too.
  std::string folder = e2e::BinDir() + "lang_elsewhere";
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string exe = folder + "\\Fenwarel.exe";
  CopyFileA((e2e::BinDir() + "Fenwarel.exe").c_str(), exe.c_str(), FALSE);
  std::string system(MAX_PATH, '\0');
  system.resize(GetSystemDirectoryA(system.data(), MAX_PATH));
  struct Copy {
    std::string path;
    ~Copy() { DeleteFileA(path.c_str()); }
  } systemCopy{system + "\\Fenwarel_DE.dll"};
  ASSERT_NE(CopyFileA((e2e::BinDir() + "Fenwarel_DE.dll").c_str(), systemCopy.path.c_str(), FALSE),
            0);
  e2e::Process program(e2e::Process::Raw{exe, "\"" + exe + "\"", e2e::BinDir()});
  HWND dialog = nullptr;
  ASSERT_TRUE(e2e::WaitFor([&] {
    dialog = e2e::WindowOf(program.Id(), "ZFenwarel");
    return dialog != nullptr && IsWindowVisible(dialog);
  }));
  EXPECT_EQ(Captions(dialog), kEnglish);
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.Wait(), 0U);
}

// Installed in a folder whose name the German code page cannot spell, the
// program still finds its language file and the service library beside it.
TEST_F(NearMiss, FoldersThatTheCodePageCannotSpellWork) {
  const std::string narrow = e2e::BinDir();  // ASCII here
  const std::wstring bin(narrow.begin(), narrow.end());
  for (const std::wstring name : {L"Иван", L"日本語"}) {
    const std::wstring folder = bin + name + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* file : {L"Fenwarel.exe", L"Fenwarel_DE.dll", L"Orvisk.dll"}) {
      ASSERT_NE(CopyFileW((bin + file).c_str(), (folder + file).c_str(), FALSE), 0)
          << GetLastError();
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, e2e::kStandInState);
    e2e::Process program(folder + L"Fenwarel.exe", L"");
    HWND dialog = nullptr;
    ASSERT_TRUE(e2e::WaitFor([&] {
      dialog = e2e::WindowOf(program.Id(), "ZFenwarel");
      return dialog != nullptr && IsWindowVisible(dialog);
    }));
    EXPECT_EQ(Captions(dialog)[4], L"Abbrechen");
    EXPECT_EQ(e2e::ReadDword(HKEY_CURRENT_USER, e2e::kStandInState, "Fenwarel"),
              static_cast<DWORD>(reinterpret_cast<UINT_PTR>(dialog)))
        << "the dialog was not registered with the service library beside it";
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.Wait(), 0U);
  }
}

TEST_F(NearMiss, AFileThatIsNoModuleLeavesTheDialogEnglish) {
  std::string text = e2e::BinDir() + "not_a_module.txt";
  if (FILE* file = std::fopen(text.c_str(), "w")) {
    std::fputs("MZ but nothing more\n", file);
    std::fclose(file);
  }
  EXPECT_EQ(Inspect("lang_broken", text).captions, kEnglish);
}

}  // namespace

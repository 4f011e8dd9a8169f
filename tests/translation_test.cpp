// Language file selection, string loading and the localized dialog, against
// the substitute string store.
#include "localization/translation.h"

#include "app/settings_dialog.h"
#include "app_test_support.h"

namespace {

using app::ZFenwarel;
using localization::LanguageFileFor;
using localization::LoadLanguageString;
using platform::fake::AddStringModule;
using platform::fake::LibraryLoads;
using platform::fake::LoadedModuleCount;

const std::map<UINT, std::string> kGerman = {{1, "DE"},
                                             {1001, "Hotkey-Einstellungen"},
                                             {1002, "Standby bestaetigen"},
                                             {1003, "Ruhezustand bestaetigen"},
                                             {1004, "OK"},
                                             {1005, "Abbrechen"}};

class TranslationTest : public testing_support::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    localization::UserLanguage = 0;
    localization::LanguageFile.clear();
    localization::LanguageCode.clear();
  }
  static void UseFile(const std::string& file) { localization::LanguageFile = file; }
};

TEST_F(TranslationTest, EveryTableLanguageHasItsFileAndOnlyExactIdsMatch) {
  const std::map<std::int16_t, const char*> table = {
      {1029, "Fenwarel_CZ.dll"}, {1030, "Fenwarel_DK.dll"}, {1031, "Fenwarel_DE.dll"},
      {1032, "Fenwarel_GR.dll"}, {1035, "Fenwarel_FI.dll"}, {1036, "Fenwarel_FR.dll"},
      {1038, "Fenwarel_HU.dll"}, {1040, "Fenwarel_IT.dll"}, {1041, "Fenwarel_JP.dll"},
      {1042, "Fenwarel_KR.dll"}, {1043, "Fenwarel_NL.dll"}, {1044, "Fenwarel_NO.dll"},
      {1045, "Fenwarel_PL.dll"}, {1049, "Fenwarel_RU.dll"}, {1053, "Fenwarel_SE.dll"},
      {1055, "Fenwarel_TR.dll"}, {2052, "Fenwarel_CN.dll"}, {2070, "Fenwarel_PT.dll"},
      {3082, "Fenwarel_ES.dll"}};
  for (const auto& [language, file] : table) {
    EXPECT_STREQ(LanguageFileFor(language), file) << language;
  }
  // Other variants of listed languages, English, nothing, and garbage.
  for (std::int16_t language : {1028, 1046, 1034, 3084, 3079, 2055, 1033, 0, 7, -1}) {
    EXPECT_STREQ(LanguageFileFor(language), "Dummy.dll") << language;
  }
}

TEST_F(TranslationTest, TheCodeComesFromStringOneOfTheChosenFile) {
  AddStringModule("Fenwarel_DE.dll", kGerman);
  localization::UserLanguage = 1031;
  localization::SelectLanguageFile();
  EXPECT_EQ(localization::LanguageFile, "Fenwarel_DE.dll");
  EXPECT_EQ(localization::LanguageCode, "DE");

  std::map<UINT, std::string> withoutCode = kGerman;
  withoutCode.erase(1);
  AddStringModule("Fenwarel_DE.dll", withoutCode);
  localization::SelectLanguageFile();
  EXPECT_EQ(localization::LanguageCode, "");

  localization::UserLanguage = 1033;  // no Dummy.dll is shipped
  localization::SelectLanguageFile();
  EXPECT_EQ(localization::LanguageFile, "Dummy.dll");
  EXPECT_EQ(localization::LanguageCode, "");
  EXPECT_EQ(LoadedModuleCount(), 0U);
}

TEST_F(TranslationTest, StringsAreCutAt254BytesAndLoseTheirNuls) {
  AddStringModule(
      "Fenwarel_FR.dll",
      {{1, "FR"}, {1001, std::string(300, 'x')}, {1002, std::string("a\0b\0c", 5)}, {1003, ""}});
  UseFile("Fenwarel_FR.dll");
  EXPECT_EQ(LoadLanguageString(1001), std::string(254, 'x'));
  EXPECT_EQ(LoadLanguageString(1002), "abc");
  EXPECT_EQ(LoadLanguageString(1003), "");
  EXPECT_EQ(LoadLanguageString(1004), "");  // absent
  EXPECT_EQ(LoadLanguageString(-1), "");
  EXPECT_EQ(LoadedModuleCount(), 0U);
}

TEST_F(TranslationTest, EachCallOpensAndReleasesTheFileFromTheProgramsFolderAsData) {
  AddStringModule("Fenwarel_DE.dll", kGerman);
  UseFile("Fenwarel_DE.dll");
  EXPECT_EQ(LoadLanguageString(1005), "Abbrechen");
  EXPECT_EQ(LoadLanguageString(1005), "Abbrechen");
  const platform::fake::LibraryLoad asData{
      "C:\\Program Files\\Fenwarel\\Fenwarel_DE.dll",
      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE};
  EXPECT_EQ(LibraryLoads(), (std::vector<platform::fake::LibraryLoad>(2, asData)));
  EXPECT_EQ(LoadedModuleCount(), 0U);
}

TEST_F(TranslationTest, AFileThatIsNoModuleGivesNothing) {
  platform::fake::AddBrokenModule("Fenwarel_DE.dll");
  UseFile("Fenwarel_DE.dll");
  EXPECT_EQ(LoadLanguageString(1), "");
  UseFile("");
  EXPECT_EQ(LoadLanguageString(1), "");
}

// --- The localized dialog ---------------------------------------------------------

class LocalizedDialog : public TranslationTest {
 protected:
  // The dialog of a normal start in the given UI language.
  std::unique_ptr<ZFenwarel> Open(LANGID language) {
    platform::fake::SetUserDefaultUILanguage(language);
    auto dialog = std::make_unique<ZFenwarel>();
    dialog->Load("");
    return dialog;
  }
  static std::vector<std::string> Captions(platform::Form& form) {
    return {form.Caption(), form.ControlCaption(ZFenwarel::chkStandbyMsg),
            form.ControlCaption(ZFenwarel::chkHiberMsg), form.ControlCaption(ZFenwarel::OK),
            form.ControlCaption(ZFenwarel::Cancel)};
  }
  static bool Designed(platform::Form& form, const platform::Font& font) {
    bool designed = form.ControlWidth(ZFenwarel::chkStandbyMsg) == 3735 &&
                    form.ControlWidth(ZFenwarel::chkHiberMsg) == 3735;
    for (int id :
         {ZFenwarel::OK, ZFenwarel::Cancel, ZFenwarel::chkStandbyMsg, ZFenwarel::chkHiberMsg}) {
      designed = designed && form.ControlFont(id) == font;
    }
    return designed;
  }
  static std::map<UINT, std::string> Texts(const std::string& code) {
    return {{1, code},    {12, "MS UI Gothic"}, {1001, "T1"}, {1002, "T2"},
            {1003, "T3"}, {1004, "T4"},         {1005, "T5"}};
  }
  const std::vector<std::string> kTexts{"T1", "T2", "T3", "T4", "T5"};
  const std::vector<std::string> kEnglish{
      "ZELMOOR Hotkey", "Display a Standby confirmation message if Fn+F3 is pushed.",
      "Display a Hibernation confirmation message if Fn+F4 is pushed.", "OK", "Cancel"};
};

TEST_F(LocalizedDialog, WithoutALanguageFileTheDialogStaysEnglish) {
  platform::Font designed;
  {
    auto english = Open(1033);
    designed = english->Window().ControlFont(ZFenwarel::OK);
    EXPECT_EQ(Captions(english->Window()), kEnglish);
  }
  auto brazilian = Open(1046);
  EXPECT_EQ(Captions(brazilian->Window()), kEnglish);
  EXPECT_TRUE(Designed(brazilian->Window(), designed));
}

TEST_F(LocalizedDialog, GermanReplacesTheTextsButNotTheLayout) {
  platform::Font designed = Open(1033)->Window().ControlFont(ZFenwarel::OK);
  AddStringModule("Fenwarel_DE.dll", kGerman);
  auto dialog = Open(1031);
  EXPECT_EQ(Captions(dialog->Window()),
            (std::vector<std::string>{"Hotkey-Einstellungen", "Standby bestaetigen",
                                      "Ruhezustand bestaetigen", "OK", "Abbrechen"}));
  EXPECT_TRUE(Designed(dialog->Window(), designed));
  EXPECT_TRUE(dialog->Window().IsVisible());
  EXPECT_EQ(LoadedModuleCount(), 1U);  // Orvisk.dll alone
}

TEST_F(LocalizedDialog, JapaneseWidensTheBoxesAndSetsTheFontOfEveryControl) {
  AddStringModule("Fenwarel_JP.dll", Texts("JP"));
  auto dialog = Open(1041);
  platform::Form& form = dialog->Window();
  EXPECT_EQ(form.ControlWidth(ZFenwarel::chkStandbyMsg), 3975);
  EXPECT_EQ(form.ControlWidth(ZFenwarel::chkHiberMsg), 3975);
  for (int id :
       {ZFenwarel::OK, ZFenwarel::Cancel, ZFenwarel::chkStandbyMsg, ZFenwarel::chkHiberMsg}) {
    EXPECT_EQ(form.ControlFont(id), (platform::Font{"MS UI Gothic", 1, 9})) << id;
  }
  EXPECT_EQ(Captions(form), kTexts);
}

TEST_F(LocalizedDialog, OnlyTheExactCodeJPMeansJapanese) {
  platform::Font designed = Open(1033)->Window().ControlFont(ZFenwarel::OK);
  for (const char* code : {"jp", "JP ", " JP", "JPN"}) {
    AddStringModule("Fenwarel_JP.dll", Texts(code));
    auto dialog = Open(1041);
    EXPECT_TRUE(Designed(dialog->Window(), designed)) << code;
    EXPECT_EQ(Captions(dialog->Window()), kTexts) << code;  // a code is a code
  }
  AddStringModule("Fenwarel_DE.dll", Texts("JP"));  // any file can say it
  auto german = Open(1031);
  EXPECT_EQ(german->Window().ControlWidth(ZFenwarel::chkHiberMsg), 3975);
}

TEST_F(LocalizedDialog, AMissingTextEmptiesItsCaptionAloneAndNoCodeReplacesNothing) {
  std::map<UINT, std::string> without1003 = Texts("DE");
  without1003.erase(1003);
  AddStringModule("Fenwarel_DE.dll", without1003);
  {
    auto dialog = Open(1031);
    EXPECT_EQ(Captions(dialog->Window()), (std::vector<std::string>{"T1", "T2", "", "T4", "T5"}));
  }
  std::map<UINT, std::string> withoutCode = Texts("DE");
  withoutCode.erase(1);
  AddStringModule("Fenwarel_DE.dll", withoutCode);
  auto dialog = Open(1031);
  EXPECT_EQ(Captions(dialog->Window()), kEnglish);
}

TEST_F(LocalizedDialog, OnlyANormalStartIsLocalized) {
  AddStringModule("Fenwarel_DE.dll", kGerman);
  platform::fake::SetUserDefaultUILanguage(1031);
  for (const char* arguments : {"-i", "-u", "other"}) {
    ZFenwarel dialog;
    dialog.Load(arguments);
  }
  auto languageLoads = [] {
    return std::count_if(LibraryLoads().begin(), LibraryLoads().end(),
                         [](const auto& load) { return load.path.ends_with("_DE.dll"); });
  };
  auto first = Open(1031);
  const auto loads = languageLoads();
  auto second = Open(1031);  // brings the first forward, nothing more
  EXPECT_EQ(languageLoads(), loads);
  EXPECT_EQ(loads, 7);  // code, the Japanese test, five captions: all in the first normal start
}

}  // namespace

// The dialog as assistive technology sees it: the real Fenwarel.exe read
// through Active Accessibility from another process, as a screen reader
// reads it, in the user-interface language of the run (LANG and LC_ALL, set
// per run by CTest).
#include <oleacc.h>

#include <cstdlib>
#include <memory>

#include "driver.h"

namespace {

using e2e::kCancel;
using e2e::kHibernate;
using e2e::kOk;
using e2e::kSettingsKey;
using e2e::kStandby;

// Wine's oleacc (8.0) has no objects of its own for the standard controls:
// the object of any window's client area answers get_accRole with
// ROLE_SYSTEM_CLIENT and get_accState without STATE_SYSTEM_CHECKED, and the
// object of a window (OBJID_WINDOW) answers get_accName, get_accRole and
// get_accState with E_NOTIMPL. Windows answers all of them; only on Wine are
// these answers let through.
bool OnWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

struct Seen {
  HRESULT nameResult = E_FAIL;
  std::wstring name;
  LONG role = 0;
  LONG state = 0;
};

// What the accessible object `object` of `window` tells of itself.
Seen Read(HWND window, LONG object) {
  auto release = [](IAccessible* accessible) { accessible->Release(); };
  IAccessible* raw = nullptr;
  // __uuidof, not IID_IAccessible: the 64-bit import library of oleacc
  // declares that name as an export of the DLL, and without dllimport the
  // link takes its jump stub for the GUID.
  HRESULT found = AccessibleObjectFromWindow(window, static_cast<DWORD>(object),
                                             __uuidof(IAccessible), reinterpret_cast<void**>(&raw));
  std::unique_ptr<IAccessible, decltype(release)> accessible(raw, release);
  Seen seen;
  if (FAILED(found) || !accessible) {
    ADD_FAILURE() << "no accessible object " << object << " of window " << window;
    return seen;
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  seen.nameResult = accessible->get_accName(self, &name);
  if (name != nullptr) {
    seen.name.assign(name, SysStringLen(name));
    SysFreeString(name);
  }
  VARIANT value{};
  if (SUCCEEDED(accessible->get_accRole(self, &value)) && value.vt == VT_I4) {
    seen.role = value.lVal;
  }
  VariantClear(&value);
  if (SUCCEEDED(accessible->get_accState(self, &value)) && value.vt == VT_I4) {
    seen.state = value.lVal;
  }
  VariantClear(&value);
  return seen;
}

class Accessibility : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    e2e::CloseAll("ZFenwarel");
    e2e::DeleteTreeOf(HKEY_LOCAL_MACHINE, kSettingsKey);
    e2e::WriteDword(HKEY_LOCAL_MACHINE, kSettingsKey, "StickyKey", 0x40);  // standby only
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(Accessibility, ScreenReadersHearTheCaptionsRolesAndCheckStates) {
  const LANGID language = GetUserDefaultUILanguage();
  if (const char* expected = std::getenv("FENWAREL_TEST_LANGUAGE")) {
    ASSERT_EQ(language, std::atoi(expected));  // the run's own check that Wine took it
  }
  const bool german = language == 1031;
  const std::wstring caption = L"ZELMOOR Hotkey";
  const std::vector<std::tuple<int, std::wstring, LONG>> controls{
      {kOk, L"OK", ROLE_SYSTEM_PUSHBUTTON},
      {kCancel, german ? L"Abbrechen" : L"Cancel", ROLE_SYSTEM_PUSHBUTTON},
      {kStandby,
       german ? L"Vor dem Standbymodus (Fn+F3) eine Bestätigung anzeigen."
              : L"Display a Standby confirmation message if Fn+F3 is pushed.",
       ROLE_SYSTEM_CHECKBUTTON},
      {kHibernate,
       german ? L"Vor dem Ruhezustand (Fn+F4) eine Bestätigung anzeigen."
              : L"Display a Hibernation confirmation message if Fn+F4 is pushed.",
       ROLE_SYSTEM_CHECKBUTTON}};

  e2e::Process program(e2e::BinDir() + "Fenwarel.exe", "");
  HWND dialog = nullptr;
  ASSERT_TRUE(e2e::WaitFor([&] {
    dialog = e2e::WindowOf(program.Id(), "ZFenwarel");
    return dialog != nullptr && IsWindowVisible(dialog) != 0;
  }));

  const Seen window = Read(dialog, OBJID_WINDOW);
  if (!OnWine() || window.nameResult != E_NOTIMPL) {
    EXPECT_EQ(window.name, caption);
    EXPECT_EQ(window.role, ROLE_SYSTEM_WINDOW);
  }
  EXPECT_EQ(Read(dialog, OBJID_CLIENT).name, caption);

  // Once as loaded, once with both boxes toggled: the state follows the box.
  for (int round = 0; round < 2; ++round) {
    for (const auto& [id, name, role] : controls) {
      HWND control = GetDlgItem(dialog, id);
      const Seen seen = Read(control, OBJID_CLIENT);
      EXPECT_EQ(seen.name, name) << id;
      EXPECT_NE(seen.state & STATE_SYSTEM_FOCUSABLE, 0) << id;
      EXPECT_EQ(seen.state & (STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE), 0) << id;
      if (OnWine() && seen.role == ROLE_SYSTEM_CLIENT) {
        // What Windows' own object takes the role and state from: a BUTTON
        // control of the standard type.
        std::string kind(16, '\0');
        kind.resize(static_cast<std::size_t>(GetClassNameA(control, kind.data(), 16)));
        EXPECT_EQ(lstrcmpiA(kind.c_str(), "Button"), 0) << id;
        const auto type = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)) & BS_TYPEMASK;
        if (role == ROLE_SYSTEM_CHECKBUTTON) {
          EXPECT_EQ(type, DWORD{BS_AUTOCHECKBOX}) << id;
        } else {
          EXPECT_TRUE(type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) << id;
        }
        continue;
      }
      EXPECT_EQ(seen.role, role) << id;
      if (role == ROLE_SYSTEM_CHECKBUTTON) {
        EXPECT_EQ((seen.state & STATE_SYSTEM_CHECKED) != 0, e2e::Checked(dialog, id)) << id;
      }
    }
    e2e::Click(dialog, kStandby);
    e2e::Click(dialog, kHibernate);
  }
  e2e::Click(dialog, kCancel);
  EXPECT_EQ(program.Wait(), 0U);
}

}  // namespace

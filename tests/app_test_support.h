// Native tests of the dialog: the substitutes of the registry, windows,
// modules and the dialog facility, reset for every test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/settings.h"
#include "scratch_key.h"
#include "substitute/controls.h"

namespace testing_support {

using platform::fake::WindowCall;

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::fake::ResetRegistry();
    platform::fake::ResetWindows();
    platform::fake::ResetModules();
    service_ = platform::fake::AddWindow("VorkelService");
    platform::fake::TheServiceLibrary().serviceWindow = service_;
  }

  static std::optional<StoredValue> Sticky(const app::SettingsLocation& where) {
    HKEY root = std::string(where.root) == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    return RawGet(root, where.key, app::kStickyKey);
  }
  static std::optional<StoredValue> Marker() {
    return RawGet(HKEY_LOCAL_MACHINE, app::kInstalledMarkerKey, "");
  }
  static std::vector<BYTE> Dword(std::uint32_t value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8U),
            static_cast<BYTE>(value >> 16U), static_cast<BYTE>(value >> 24U)};
  }
  // The calls of one kind that reached one window.
  static std::vector<WindowCall> CallsTo(HWND window) {
    std::vector<WindowCall> calls;
    std::copy_if(platform::fake::WindowCalls().begin(), platform::fake::WindowCalls().end(),
                 std::back_inserter(calls),
                 [&](const WindowCall& c) { return c.window == window; });
    return calls;
  }

  HWND service_ = nullptr;
};

}  // namespace testing_support

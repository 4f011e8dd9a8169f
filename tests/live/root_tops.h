// What an operation that escaped its names would change first.
#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "scratch_key.h"

namespace live {

// Each root's own values and the names of its keys: what an operation that
// escaped its names would change first, cheap to read each time (the
// classes root, a view of two keys below the others, is left to them).
inline std::map<std::string, std::vector<std::string>> Tops() {
  std::map<std::string, std::vector<std::string>> tops;
  for (const auto& [root, rootName] :
       std::vector<std::pair<HKEY, std::string>>{{HKEY_CLASSES_ROOT, "HKCR"},
                                                 {HKEY_CURRENT_USER, "HKCU"},
                                                 {HKEY_LOCAL_MACHINE, "HKLM"},
                                                 {HKEY_USERS, "HKU"},
                                                 {HKEY_CURRENT_CONFIG, "HKCC"}}) {
    std::vector<std::string>& names = tops[rootName];
    std::array<wchar_t, 512> name{};
    for (DWORD index = 0;; ++index) {
      auto length = static_cast<DWORD>(name.size());
      if (RegEnumKeyExW(root, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.push_back(testing_support::Utf8({name.data(), length}));
    }
    for (DWORD index = 0;; ++index) {
      auto length = static_cast<DWORD>(name.size());
      if (RegEnumValueW(root, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.push_back("value " + testing_support::Utf8({name.data(), length}));
    }
  }
  return tops;
}

}  // namespace live

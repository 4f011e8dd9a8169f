// A key of its own for each test, below a root that the test may write to,
// removed again with everything in it. Natively the whole store starts empty.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32_api.h"
#ifndef _WIN32
#include "platform/fake/fake_registry.h"
#endif

namespace testing_support {

inline void DeleteSubtree(HKEY parent, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyA(parent, path.c_str(), &key) != ERROR_SUCCESS) {
    return;
  }
  std::vector<char> name(1024);
  std::string previous;
  while (RegEnumKeyA(key, 0, name.data(), static_cast<DWORD>(name.size())) == ERROR_SUCCESS) {
    std::string child(name.data());
    if (child == previous) {
      break;  // it could not be deleted, nor perhaps even opened
    }
    DeleteSubtree(key, child);
    previous = child;
  }
  RegDeleteKeyA(key, "");
  RegCloseKey(key);
}

struct StoredValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const StoredValue&) const = default;
};

inline std::vector<BYTE> BytesOf(std::string_view text) { return {text.begin(), text.end()}; }

// Stores exactly `data`. The byte after it is not zero, since the store
// would otherwise take a text without terminator to end one byte later.
inline void RawSet(HKEY root, const std::string& path, const std::string& name, DWORD type,
                   const std::vector<BYTE>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(root, path.c_str(), &key), ERROR_SUCCESS) << path;
  std::vector<BYTE> buffer(data);
  buffer.push_back(0xFF);
  ASSERT_EQ(
      RegSetValueExA(key, name.c_str(), 0, type, buffer.data(), static_cast<DWORD>(data.size())),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

inline std::optional<StoredValue> RawGet(HKEY root, const std::string& path,
                                         const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  StoredValue value;
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.data.resize(size + 1);
    RegQueryValueExA(key, name.c_str(), nullptr, nullptr, value.data.data(), &size);
    value.data.resize(size);
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::optional(value) : std::nullopt;
}

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// Each test gets HKCU\Software\FenwarelTest\<test> and the same path under
// HKLM, empty at the start and gone at the end.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    platform::fake::ResetRegistry();
#endif
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string("Software\\FenwarelTest\\") + info->test_suite_name() + "." + info->name();
    Clean();
  }
  void TearDown() override { Clean(); }

  [[nodiscard]] const std::string& Path() const { return path_; }
  [[nodiscard]] std::string Path(const std::string& below) const { return path_ + "\\" + below; }

 private:
  void Clean() const {
    DeleteSubtree(HKEY_CURRENT_USER, path_);
    DeleteSubtree(HKEY_LOCAL_MACHINE, path_);
  }
  std::string path_;
};

}  // namespace testing_support

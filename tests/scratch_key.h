// A key of its own for each test, below a root that the test may write to,
// removed again with everything in it. Natively the whole store starts empty.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_key.h"
#include "platform/win32_api.h"
#ifndef _WIN32
#include "substitute/controls.h"
#endif

namespace testing_support {

// A name of the tests, written in UTF-8, as the registry holds it.
inline std::wstring Wide(std::string_view utf8) {
  std::wstring wide;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : 2;
    unsigned code = extra == 0 ? lead : lead & (extra == 1 ? 0x1FU : 0x0FU);
    for (int k = 1; k <= extra; ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3FU);
    }
    wide += static_cast<wchar_t>(code);
    i += 1 + extra;
  }
  return wide;
}

inline std::string Utf8(std::wstring_view wide) {
  std::string utf8;
  for (wchar_t c : wide) {
    const auto code = static_cast<unsigned>(c) & 0xFFFFU;
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

// Deletes `path` below `parent` with everything in it, never through a
// link: each key is opened as itself, and a link is deleted as itself.
// Below `path`, each name is the key listed under it, in no other view.
inline void DeleteSubtree(HKEY parent, const std::string& path, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, Wide(path).c_str(), REG_OPTION_OPEN_LINK, MAXIMUM_ALLOWED | view,
                    &key) != ERROR_SUCCESS) {
    return;
  }
  std::vector<wchar_t> name(1024);
  std::wstring previous;
  for (;;) {
    auto size = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, 0, name.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    std::wstring child(name.data(), size);
    if (child == previous || child.find(L'\0') != std::wstring::npos) {
      break;  // it could not be deleted, nor perhaps even opened or named
    }
    DeleteSubtree(key, Utf8(child), KEY_WOW64_64KEY);
    previous = child;
  }
  platform::DeleteOpenKey(key);
  RegCloseKey(key);
}

#ifdef _WIN32
// The full path of HKEY_CURRENT_USER, as a link names its target.
inline std::wstring CurrentUserKeyPath() {
  struct Counted {
    USHORT length;
    USHORT capacity;
    PWSTR text;
  };
  using Format = LONG(WINAPI*)(Counted*);
  auto* format = reinterpret_cast<Format>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlFormatCurrentUserKeyPath")));
  Counted path{};
  if (format == nullptr || format(&path) != 0) {
    return {};
  }
  return {path.text, path.length / sizeof(WCHAR)};  // a few bytes left to the process's end
}

// Makes `path` below HKCU a symbolic link to `target`, a path below HKCU.
inline void MakeLink(const std::string& path, const std::string& target) {
  HKEY link = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, nullptr,
                            REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, &link, nullptr),
            ERROR_SUCCESS)
      << path;
  std::vector<BYTE> data;
  for (wchar_t c : CurrentUserKeyPath() + L"\\" + Wide(target)) {
    data.push_back(static_cast<BYTE>(c & 0xFF));
    data.push_back(static_cast<BYTE>((c >> 8) & 0xFF));
  }
  EXPECT_EQ(RegSetValueExA(link, "SymbolicLinkValue", 0, REG_LINK, data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(link);
}
#else
// The substitute keeps no links: what they do is tested on the real calls only.
inline void MakeLink(const std::string& path, const std::string& /*target*/) {
  FAIL() << "no links in the substitute: " << path;
}
#endif

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

// What the registry object relies on from the store, checked on both
// backends: natively this holds the substitute to the behaviour that Wine
// shows for the real calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scratch_key.h"

namespace {

using testing_support::BytesOf;
using testing_support::KeyExists;
using testing_support::RawGet;
using testing_support::RawSet;

class RegistryCalls : public testing_support::ScratchTest {
 protected:
  HKEY Create(const std::string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key), ERROR_SUCCESS) << path;
    return key;
  }
};

TEST_F(RegistryCalls, OpenAndCreateResolvePathsCaseInsensitively) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, Path("a\\b").c_str(), &key), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("a")));  // opening creates nothing

  RegCloseKey(Create(Path("a\\b")));  // the missing parent is created too
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("A\\B")));
  // Backslashes in a row are one, a trailing one names no further key.
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("a\\\\\\b\\")));
  RegCloseKey(Create(Path("a\\\\c")));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("a\\c")));

  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, ("\\" + Path("a")).c_str(), &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, ("\\" + Path("a")).c_str(), &key), ERROR_BAD_PATHNAME);
}

TEST_F(RegistryCalls, OpenWithEmptyPathHandsBackTheParent) {
  HKEY parent = Create(Path());
  HKEY same = nullptr;
  EXPECT_EQ(RegOpenKeyA(parent, "", &same), ERROR_SUCCESS);
  EXPECT_EQ(same, parent);
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "", &same), ERROR_SUCCESS);
  EXPECT_EQ(same, HKEY_CURRENT_USER);
  RegCloseKey(parent);
}

TEST_F(RegistryCalls, TextWithoutTerminatorGainsOneWhenAZeroFollowsInMemory) {
  HKEY key = Create(Path());
  const char padded[] = "abc";  // a zero byte follows the three given
  ASSERT_EQ(RegSetValueExA(key, "Padded", 0, REG_SZ, reinterpret_cast<const BYTE*>(padded), 3),
            ERROR_SUCCESS);
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, Path(), "Padded")->data, BytesOf(std::string("abc", 4)));
  const char unpadded[] = "abcd";
  ASSERT_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(unpadded), 3),
            ERROR_SUCCESS);
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, Path(), "Bare")->data, BytesOf("abc"));
  RegCloseKey(key);
}

TEST_F(RegistryCalls, QueryReportsTypeAndSizeAndRefusesShortBuffers) {
  RawSet(HKEY_CURRENT_USER, Path(), "Text", REG_SZ, BytesOf(std::string("abc", 4)));
  RawSet(HKEY_CURRENT_USER, Path(), "Bare", REG_SZ, BytesOf("abc"));
  HKEY key = Create(Path());

  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "TEXT", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 4U);
  ASSERT_EQ(RegQueryValueExA(key, "bare", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3U);

  std::string buffer(8, 'x');
  size = 2;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()),
                             &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 4U);
  size = 8;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 4U);
  EXPECT_STREQ(buffer.c_str(), "abc");

  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryCalls, DefaultValueGoesThroughTheKeyDefaultCalls) {
  HKEY key = Create(Path());
  LONG size = 0;
  std::string buffer(16, 'x');
  // No default value yet: the empty text, one byte for its terminator.
  ASSERT_EQ(RegQueryValueA(key, "", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 1);
  size = 16;
  ASSERT_EQ(RegQueryValueA(key, "", buffer.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(buffer[0], '\0');

  // The size handed over is ignored: the text and one terminator are stored.
  ASSERT_EQ(RegSetValueA(key, "", REG_SZ, "abc", 2), ERROR_SUCCESS);
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, Path(), ""),
            (testing_support::StoredValue{REG_SZ, BytesOf(std::string("abc", 4))}));
  ASSERT_EQ(RegQueryValueA(key, "", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4);
  size = 2;
  EXPECT_EQ(RegQueryValueA(key, "", buffer.data(), &size), ERROR_MORE_DATA);
  EXPECT_NE(RegSetValueA(key, "", REG_DWORD, "abc", 4), ERROR_SUCCESS);

  ASSERT_EQ(RegDeleteValueA(key, ""), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, ""), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryCalls, DefaultValueOfAnotherTypeComesBackAsItsBytes) {
  RawSet(HKEY_CURRENT_USER, Path(), "", REG_DWORD, {0xC0, 0, 0, 0});
  HKEY key = Create(Path());
  LONG size = 0;
  ASSERT_EQ(RegQueryValueA(key, "", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4);
  std::string buffer(4, 'x');
  ASSERT_EQ(RegQueryValueA(key, "", buffer.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(buffer, std::string("\xC0\0\0\0", 4));
  RegCloseKey(key);
}

TEST_F(RegistryCalls, DeleteKeyRemovesTheKeyItselfOnlyWithoutSubkeys) {
  RegCloseKey(Create(Path("parent\\child")));
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, Path("parent").c_str(), &parent), ERROR_SUCCESS);
  EXPECT_NE(RegDeleteKeyA(parent, ""), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("parent\\child")));

  ASSERT_EQ(RegDeleteKeyA(parent, "CHILD"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(parent, ""), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("parent")));

  // The handle outlives its key, but every call on it fails.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(parent, "x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(parent, "x", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyA(parent, "again", &child), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
}

TEST_F(RegistryCalls, SubkeysEnumerateSortedAndRefuseShortBuffers) {
  for (const char* name : {"beta", "Alpha", "gamma"}) {
    RegCloseKey(Create(Path(name)));
  }
  HKEY key = Create(Path());
  std::array<char, 16> name{};
  std::vector<std::string> names;
  DWORD index = 0;
  while (RegEnumKeyA(key, index, name.data(), name.size()) == ERROR_SUCCESS) {
    names.emplace_back(name.data());
    ++index;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_EQ(RegEnumKeyA(key, 3, name.data(), name.size()), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyA(key, 0, name.data(), 5), ERROR_MORE_DATA);  // "Alpha" needs 6
  RegCloseKey(key);
}

TEST_F(RegistryCalls, ValuesEnumerateWithNameLengthTypeAndSize) {
  RawSet(HKEY_CURRENT_USER, Path(), "Number", REG_DWORD, {1, 2, 3, 4});
  RawSet(HKEY_CURRENT_USER, Path(), "", REG_SZ, BytesOf(std::string("abc", 4)));
  HKEY key = Create(Path());
  std::map<std::string, std::pair<DWORD, DWORD>> seen;
  for (DWORD index = 0;; ++index) {
    std::array<char, 257> name{};
    DWORD capacity = 256;
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueA(key, index, name.data(), &capacity, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      EXPECT_EQ(index, 2U);
      break;
    }
    EXPECT_EQ(capacity, std::strlen(name.data()));
    seen[name.data()] = {type, size};
  }
  EXPECT_EQ(seen["Number"], std::make_pair(DWORD{REG_DWORD}, DWORD{4}));
  EXPECT_EQ(seen[""], std::make_pair(DWORD{REG_SZ}, DWORD{4}));

  std::array<char, 8> shortName{};
  DWORD capacity = 6;  // "Number" needs 7
  DWORD found = 0;
  for (DWORD index = 0; index < 2; ++index) {
    capacity = 6;
    if (RegEnumValueA(key, index, shortName.data(), &capacity, nullptr, nullptr, nullptr,
                      nullptr) == ERROR_MORE_DATA) {
      ++found;
    }
  }
  EXPECT_EQ(found, 1U);
  RegCloseKey(key);
}

TEST_F(RegistryCalls, CallsWithoutAKeyFail) {
  DWORD size = 0;
  LONG longSize = 0;
  EXPECT_EQ(RegQueryValueExA(nullptr, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_NE(RegQueryValueA(nullptr, "", nullptr, &longSize), ERROR_SUCCESS);
  EXPECT_NE(RegSetValueExA(nullptr, "x", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  EXPECT_NE(RegSetValueA(nullptr, "", REG_SZ, "a", 2), ERROR_SUCCESS);
  EXPECT_NE(RegDeleteValueA(nullptr, "x"), ERROR_SUCCESS);
  EXPECT_NE(RegDeleteKeyA(nullptr, ""), ERROR_SUCCESS);
}

}  // namespace

// What the registry object relies on from the store, checked on both
// backends: natively this holds the substitute to the behaviour that Wine
// shows for the real calls.
#include <gtest/gtest.h>

#include <cstdlib>
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
  std::array<wchar_t, 16> name{};
  std::vector<std::wstring> names;
  auto list = [&](DWORD index, DWORD size) {
    return RegEnumKeyExW(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
  };
  for (DWORD index = 0; list(index, name.size()) == ERROR_SUCCESS; ++index) {
    names.emplace_back(name.data());
  }
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));
  EXPECT_EQ(list(3, name.size()), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(list(0, 5), ERROR_MORE_DATA);  // "Alpha" needs 6
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

// Links, and the code page's best fit and letter case beyond Latin-1, are
// the real calls' alone: the substitute keeps none of them.
#ifdef _WIN32

// A symbolic link stands for its target on every path, as the last name
// too, unless opened with REG_OPTION_OPEN_LINK; its parent lists it under
// its own name. It holds its SymbolicLinkValue alone.
TEST_F(RegistryCalls, LinksAreFollowedOnEveryPathButOpenedAsThemselvesOnRequest) {
  RawSet(HKEY_CURRENT_USER, Path("T\\sub"), "v", REG_DWORD, {1, 0, 0, 0});
  testing_support::MakeLink(Path("L"), Path("T"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("l\\SUB")));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, Path("L\\made").c_str(), &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("T\\made")));

  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path("L").c_str(), REG_OPTION_OPEN_LINK,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  DWORD type = REG_NONE;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_LINK);
  EXPECT_EQ(size, (testing_support::CurrentUserKeyPath().size() + 1 + Path("T").size()) * 2);
  std::array<char, 16> name{};
  EXPECT_EQ(RegEnumKeyA(key, 0, name.data(), name.size()), ERROR_NO_MORE_ITEMS);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);
  // Created as such it has an existing name, however opened.
  HKEY again = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path("L").c_str(), 0, nullptr,
                            REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, &again, nullptr),
            ERROR_ALREADY_EXISTS);
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path("L").c_str(), 0, nullptr, REG_OPTION_OPEN_LINK,
                            KEY_READ, nullptr, &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegQueryValueExA(again, "SymbolicLinkValue", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  RegCloseKey(again);
  RegCloseKey(key);

  HKEY parent = Create(Path());
  std::vector<std::string> names;
  for (DWORD index = 0; RegEnumKeyA(parent, index, name.data(), name.size()) == ERROR_SUCCESS;
       ++index) {
    names.emplace_back(name.data());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"L", "T"}));
  RegCloseKey(parent);
}

// Deleting a link by its name deletes what it points to, if that has no
// subkeys, and leaves the link; its own handle deletes the link itself. A
// link to its parent resolves at any depth, a link to itself never.
TEST_F(RegistryCalls, DeletingThroughALinkTakesItsTargetAndLoopsEnd) {
  RawSet(HKEY_CURRENT_USER, Path("T"), "v", REG_DWORD, {1, 0, 0, 0});
  RawSet(HKEY_CURRENT_USER, Path("U\\sub"), "v", REG_DWORD, {1, 0, 0, 0});
  testing_support::MakeLink(Path("L"), Path("T"));
  testing_support::MakeLink(Path("M"), Path("U"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, Path("M").c_str()), ERROR_ACCESS_DENIED);
  HKEY parent = Create(Path());
  EXPECT_EQ(RegDeleteKeyA(parent, "L"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("T")));
  HKEY link = nullptr;
  EXPECT_EQ(RegOpenKeyA(parent, "L", &link), ERROR_FILE_NOT_FOUND);  // dangling now
  EXPECT_EQ(RegDeleteKeyA(parent, "L"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExA(parent, "L", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(link, ""), ERROR_SUCCESS);
  RegCloseKey(link);
  EXPECT_EQ(RegOpenKeyExA(parent, "L", REG_OPTION_OPEN_LINK, KEY_READ, &link),
            ERROR_FILE_NOT_FOUND);

  testing_support::MakeLink(Path("cyc\\L"), Path("cyc"));
  testing_support::MakeLink(Path("self"), Path("self"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("cyc\\L\\L\\L\\L")));
  EXPECT_EQ(RegOpenKeyA(parent, "self", &link), ERROR_INVALID_PARAMETER);
  RegCloseKey(parent);
}

// Names are held in UTF-16; the ANSI calls spell them in the code page,
// whose best fit spells some alike: U+0101 (a with macron) as "a", U+0180
// (b with stroke) as "b". A letter's case beyond ASCII does not count.
TEST_F(RegistryCalls, TheAnsiCallsSpellNamesThroughTheCodePage) {
  // The run that asks for a code page gets it: else it would only repeat another.
  if (const char* asked = std::getenv("FENWAREL_TEST_CODE_PAGE"); asked != nullptr) {
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(asked)));
  }
  if (GetACP() != 1252) {
    GTEST_SKIP() << "code page " << GetACP();
  }
  HKEY parent = Create(Path());
  for (const wchar_t* child : {L"a", L"\u0101", L"\u65E5"}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(parent, child, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD marker = child[0];
    RegSetValueExA(key, "m", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&marker), 4);
    RegCloseKey(key);
  }
  std::array<char, 16> name{};
  std::string names;
  for (DWORD index = 0; RegEnumKeyA(parent, index, name.data(), name.size()) == ERROR_SUCCESS;
       ++index) {
    names += std::string(name.data()) + " ";
  }
  EXPECT_EQ(names, "a a ? ");
  EXPECT_EQ(RawGet(parent, "a", "m")->data, (std::vector<BYTE>{'a', 0, 0, 0}));
  EXPECT_FALSE(KeyExists(parent, "?"));
  DWORD disposition = 0;
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(parent, L"\u0100", 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);

  for (const wchar_t* value : {L"b", L"\u0180"}) {
    const DWORD data = value[0];
    RegSetValueExW(parent, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4);
  }
  std::string valueNames;
  for (DWORD index = 0;; ++index) {
    DWORD capacity = name.size();
    if (RegEnumValueA(parent, index, name.data(), &capacity, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    valueNames += std::string(name.data()) + " ";
  }
  EXPECT_EQ(valueNames, "b b ");
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, Path(), "b")->data, (std::vector<BYTE>{'b', 0, 0, 0}));
  std::array<char, 4> spelt{};
  BOOL usedDefault = 0;
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, L"\u0101\u65E5", 2, spelt.data(), 4, nullptr, &usedDefault),
      2);
  EXPECT_EQ(std::string(spelt.data(), 2), "a?");
  EXPECT_TRUE(usedDefault);
  RegCloseKey(parent);
}

#endif  // _WIN32

}  // namespace

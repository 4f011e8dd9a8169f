// Copying and deleting whole key trees, on both backends.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <utility>

#include "registry/registry.h"
#include "scratch_key.h"
#include "tree_invariants.h"

namespace {

using registry::kFalse;
using registry::kTrue;
using registry::Registry;
using testing_support::BytesOf;
using testing_support::DeleteSubtree;
using testing_support::KeyExists;
using testing_support::RawGet;
using testing_support::RawSet;
using testing_support::StoredValue;

class RegistryTree : public testing_support::ScratchTest {
 protected:
  void Put(const std::string& below, const std::string& name, DWORD type,
           const std::vector<BYTE>& data, HKEY root = HKEY_CURRENT_USER) const {
    RawSet(root, Path(below), name, type, data);
  }
  std::optional<StoredValue> Get(const std::string& below, const std::string& name,
                                 HKEY root = HKEY_CURRENT_USER) const {
    return RawGet(root, Path(below), name);
  }
  // A source tree with every kind of value and two levels of subkeys.
  void BuildSource() const {
    Put("src", "Text", REG_SZ, BytesOf(std::string("abc", 4)));
    Put("src", "Bare", REG_SZ, BytesOf("xyz"));
    Put("src", "Empty", REG_SZ, {});
    Put("src", "Binary", REG_BINARY, {0, 1, 2, 0xFF});
    Put("src", "NoBytes", REG_BINARY, {});
    Put("src", "Number", REG_DWORD, {0xC0, 0, 0, 0});
    Put("src", "BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0xC0});
    Put("src", "Long", REG_DWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    Put("src", "LargeBinary", REG_BINARY, std::vector<BYTE>(5000, 0x5A));
    Put("src", "LargeText", REG_SZ, BytesOf(std::string(5000, 'L') + '\0'));
    Put("src", "Expand", REG_EXPAND_SZ, BytesOf(std::string("%PATH%", 7)));
    Put("src", "Multi", REG_MULTI_SZ, BytesOf(std::string("a\0b\0", 5)));
    Put("src", "", REG_SZ, BytesOf(std::string("default", 8)));
    Put("src\\one", "Level", REG_DWORD, {1, 0, 0, 0});
    Put("src\\one\\two", "Level", REG_DWORD, {2, 0, 0, 0});
    Put("src\\one\\two", "", REG_DWORD, {0xC0, 0, 0, 0});
    Put("src\\other", "Level", REG_DWORD, {3, 0, 0, 0});
    Put("src\\other", "", REG_EXPAND_SZ, BytesOf(std::string("%TEMP%", 7)));
  }
};

TEST_F(RegistryTree, CopyKeepsNamesTypesAndDataOfTheFourTypes) {
  BuildSource();
  Registry reg;
  // Skipped and cut values are copied as the copy defines them, but not exactly: kFalse.
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "hkcu", Path("dst")), kFalse);
  const std::vector<std::pair<std::string, StoredValue>> expected = {
      {"Text", {REG_SZ, BytesOf(std::string("abc\0", 5))}},  // one more zero, still "abc"
      {"Bare", {REG_SZ, BytesOf(std::string("xyz", 4))}},
      {"Empty", {REG_SZ, {}}},
      {"Binary", {REG_BINARY, {0, 1, 2, 0xFF}}},
      {"NoBytes", {REG_BINARY, {}}},
      {"Number", {REG_DWORD, {0xC0, 0, 0, 0}}},
      {"BigEndian", {REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0xC0}}},
      {"Long", {REG_DWORD, {1, 2, 3, 4}}},
      {"LargeBinary", {REG_BINARY, std::vector<BYTE>(5000, 0x5A)}},
      {"LargeText", {REG_SZ, BytesOf(std::string(5000, 'L') + std::string(2, '\0'))}},
      {"", {REG_SZ, BytesOf(std::string("default", 8))}},
  };
  for (const auto& [name, value] : expected) {
    EXPECT_EQ(Get("dst", name), value) << name;
  }
  EXPECT_FALSE(Get("dst", "Expand").has_value());
  EXPECT_FALSE(Get("dst", "Multi").has_value());
  EXPECT_EQ(Get("dst\\one", "Level"), (StoredValue{REG_DWORD, {1, 0, 0, 0}}));
  EXPECT_EQ(Get("dst\\one\\two", "Level"), (StoredValue{REG_DWORD, {2, 0, 0, 0}}));
  EXPECT_EQ(Get("dst\\other", "Level"), (StoredValue{REG_DWORD, {3, 0, 0, 0}}));
  // A default value that is no text keeps its type rather than arriving garbled.
  EXPECT_EQ(Get("dst\\one\\two", ""), (StoredValue{REG_DWORD, {0xC0, 0, 0, 0}}));
  EXPECT_EQ(Get("dst\\other", ""), (StoredValue{REG_EXPAND_SZ, BytesOf(std::string("%TEMP%", 7))}));
}

TEST_F(RegistryTree, CopyIntoAnExistingTargetReplacesOnlyWhatItBrings) {
  BuildSource();
  Put("dst", "Number", REG_SZ, BytesOf(std::string("old", 4)));
  Put("dst", "Mine", REG_DWORD, {9, 0, 0, 0});
  Put("dst\\kept", "Mine", REG_DWORD, {9, 0, 0, 0});
  Registry reg;
  reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst"));
  EXPECT_EQ(Get("dst", "Number"), (StoredValue{REG_DWORD, {0xC0, 0, 0, 0}}));
  EXPECT_EQ(Get("dst", "Mine"), (StoredValue{REG_DWORD, {9, 0, 0, 0}}));
  EXPECT_TRUE(Get("dst\\kept", "Mine").has_value());
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("dst\\one\\two")));
}

TEST_F(RegistryTree, CopyFromAMissingSourceCreatesNothing) {
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("missing"), "HKCU", Path("dst")), registry::kFalse);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("dst")));
}

TEST_F(RegistryTree, UnknownRootsFallBackAndTheObjectIsLeftAsItWas) {
  BuildSource();
  Registry reg;
  reg.RootKeyName("hkcu");
  ASSERT_EQ(reg.CreateKey(Path("open")), kTrue);
  reg.QueryName = "Kept";
  // An unknown target root copies within the source root; an unknown source
  // root reads from the object's own root.
  reg.CopyTree("HKCU", Path("src"), "HKU", Path("within"));
  reg.CopyTree("nonsense", Path("src"), "HKLM", Path("machine"));
  EXPECT_TRUE(Get("within\\one", "Level").has_value());
  EXPECT_TRUE(Get("machine\\one", "Level", HKEY_LOCAL_MACHINE).has_value());

  EXPECT_EQ(reg.RootKeyName(), "hkcu");
  EXPECT_EQ(reg.QueryName, "Kept");
  reg.QueryValue(registry::TaggedValue{std::string("still open")});
  EXPECT_TRUE(Get("open", "Kept").has_value());
  ASSERT_EQ(reg.CreateKey(Path("after")), kTrue);  // the root is HKCU again
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("after")));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Path("after")));
}

// Keys at and below `path`.
int CountKeys(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  int count = 1;
  std::array<wchar_t, 256> name{};
  for (DWORD index = 0, size = 256; RegEnumKeyExW(key, index, name.data(), &size, nullptr, nullptr,
                                                  nullptr, nullptr) == ERROR_SUCCESS;
       ++index, size = 256) {
    count += CountKeys(key, name.data());
  }
  RegCloseKey(key);
  return count;
}

TEST_F(RegistryTree, ATargetInsideTheSourceGetsTheTreeAsItStoodAndTheCopyEnds) {
  // Every spelling the registry reads as a key inside the source: the copy
  // must neither run on into what it writes nor write outside the target.
  std::vector<std::pair<std::string, int>> cases = {
      // target, keys it adds on its way below the source
      {"SRC\\one\\copy", 1},
      {"src\\\\one\\\\\\copy", 1},
      {"src\\one\\copy\\", 1},
      {"src\\one\\two\\deep\\copy", 2},
  };
#ifdef _WIN32
  const bool latin1 = GetACP() == 1252;
#else
  const bool latin1 = true;  // the substitute's code page
#endif
  if (latin1) {
    cases.emplace_back("SRC\\one\\\xC4\\copy", 1);  // the source's "\xE4" in upper case
  }
  // A lone lead byte of a code page of two-byte letters is no name.
  const int umlaut = latin1 ? 1 : 0;
  for (const auto& [target, added] : cases) {
    DeleteSubtree(HKEY_CURRENT_USER, Path());
    BuildSource();
    if (latin1) {
      Put("src\\one\\\xE4", "Level", REG_DWORD, {4, 0, 0, 0});
    }
    Registry reg;
    reg.CopyTree("HKCU", Path("src"), "HKCU", Path(target));
    // The scratch key, the source's four keys and "\xE4", the target path, the copy.
    EXPECT_EQ(CountKeys(HKEY_CURRENT_USER, testing_support::Wide(Path())),
              1 + 4 + umlaut + added + 3 + umlaut)
        << target;
    EXPECT_EQ(Get(target + "\\one\\two", "Level"), (StoredValue{REG_DWORD, {2, 0, 0, 0}}))
        << target;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path(target + "\\one\\copy"))) << target;
  }
  // Onto itself: the same keys, nothing new.
  const int before = CountKeys(HKEY_CURRENT_USER, testing_support::Wide(Path()));
  Registry reg;
  reg.CopyTree("HKCU", Path("src"), "HKCU", Path("Src"));
  EXPECT_EQ(CountKeys(HKEY_CURRENT_USER, testing_support::Wide(Path())), before);
  // Whole key names count: "src2" is beside "src", not inside it.
  reg.CopyTree("HKCU", Path("src"), "HKCU", Path("src2"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("src2\\one\\two")));
  // The same path on another root is no loop.
  reg.CopyTree("HKCU", Path("src"), "HKLM", Path("src"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Path("src\\other")));
}

TEST_F(RegistryTree, AnExistingTargetInsideTheSourceLosesNothing) {
  // The text of a value as the registry hands it back, or "(none)".
  auto text = [&](const std::string& key, const std::string& name) -> std::string {
    const auto value = Get(key, name);
    if (!value) {
      return "(none)";
    }
    return std::string(value->data.begin(), value->data.end()).c_str();
  };
  auto put = [&](const std::string& key, const std::string& name, const std::string& value) {
    Put(key, name, REG_SZ, BytesOf(value + '\0'));
  };
  // One level: the target is a subkey of the source that has values of its own.
  put("A", "v", "A-value");
  put("A\\B", "v", "B-original");
  put("A\\B", "onlyB", "b");
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("A"), "HKCU", Path("A\\B")), kTrue);
  EXPECT_EQ(text("A\\B", "v"), "A-value");
  EXPECT_EQ(text("A\\B", "onlyB"), "b");  // kept: the copy replaces only what it brings
  EXPECT_EQ(text("A\\B\\B", "v"), "B-original");
  EXPECT_EQ(text("A\\B\\B", "onlyB"), "b");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("A\\B\\B\\B")));

  // Two levels, with values on every key of the target's path.
  put("T", "a", "a");
  put("T\\X", "x", "x");
  put("T\\X\\Y", "y", "y");
  EXPECT_EQ(reg.CopyTree("HKCU", Path("T"), "HKCU", Path("T\\X\\Y")), kTrue);
  EXPECT_EQ(text("T\\X\\Y", "a"), "a");
  EXPECT_EQ(text("T\\X\\Y", "y"), "y");
  EXPECT_EQ(text("T\\X\\Y\\X", "x"), "x");
  EXPECT_EQ(text("T\\X\\Y\\X\\Y", "y"), "y");
  EXPECT_EQ(text("T\\X\\Y\\X\\Y", "a"), "(none)");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("T\\X\\Y\\X\\Y\\X")));
}

TEST_F(RegistryTree, NamesOf255BytesAreCopiedALongerOneIsLeftOut) {
  // Short paths under the root: Wine's ANSI calls take paths below MAX_PATH characters.
  const std::string source = "Fs";
  const std::string target = "Ft";
  DeleteSubtree(HKEY_CURRENT_USER, source);
  DeleteSubtree(HKEY_CURRENT_USER, target);
  RawSet(HKEY_CURRENT_USER, source, std::string(255, 'a'), REG_DWORD, {1, 0, 0, 0});
  RawSet(HKEY_CURRENT_USER, source, std::string(256, 'b'), REG_DWORD, {2, 0, 0, 0});
  RawSet(HKEY_CURRENT_USER, source, "zz", REG_DWORD, {5, 0, 0, 0});  // after it, also sorted
  RawSet(HKEY_CURRENT_USER, source + "\\" + std::string(255, 'c'), "x", REG_DWORD, {3, 0, 0, 0});
  RawSet(HKEY_CURRENT_USER, source + "\\" + std::string(256, 'd'), "x", REG_DWORD, {4, 0, 0, 0});
  RawSet(HKEY_CURRENT_USER, source + "\\e", "x", REG_DWORD, {5, 0, 0, 0});
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", source, "HKCU", target), registry::kFalse);  // not all of it
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, target, std::string(255, 'a')).has_value());
  EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, target, std::string(256, 'b')).has_value());
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, target, "zz").has_value());
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, target + "\\" + std::string(255, 'c'), "x").has_value());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, target + "\\" + std::string(256, 'd')));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, target + "\\e"));
  DeleteSubtree(HKEY_CURRENT_USER, source);
  DeleteSubtree(HKEY_CURRENT_USER, target);
}

TEST_F(RegistryTree, AnEmptyTargetNameCopiesIntoTheTargetRootItself) {
  DeleteSubtree(HKEY_CURRENT_USER, "FenwarelTreeTestChild");  // from an earlier, failed run
  Put("src", "FenwarelTreeTestValue", REG_DWORD, {7, 0, 0, 0});
  Put("src\\FenwarelTreeTestChild", "x", REG_DWORD, {1, 0, 0, 0});
  Registry reg;
  reg.CopyTree("HKCU", Path("src"), "HKCU", "");
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, "", "FenwarelTreeTestValue"),
            (StoredValue{REG_DWORD, {7, 0, 0, 0}}));
  RegDeleteValueA(HKEY_CURRENT_USER, "FenwarelTreeTestValue");
  // The subkeys' target paths begin with "\", which the store refuses.
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "FenwarelTreeTestChild"));
  DeleteSubtree(HKEY_CURRENT_USER, "FenwarelTreeTestChild");
}

TEST_F(RegistryTree, DeleteTreeRemovesNestedKeys) {
  BuildSource();
  Registry reg;
  reg.RootKeyName("HKLM");
  EXPECT_EQ(reg.DeleteTree("hkcu", Path("SRC")), kTrue);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("src")));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path()));
  EXPECT_EQ(reg.RootKeyName(), "HKLM");
  ASSERT_EQ(reg.CreateKey(Path("after")), kTrue);  // the root is HKLM again
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Path("after")));
}

// Through WoW64, a key with a child called Wow6432Node sends a 32-bit open
// of any name below it, even the empty one, into that child: both walks
// take each key by the name it was listed under, and delete it by handle.
// Below Path(), the test too takes each name as it stands.
TEST_F(RegistryTree, AnOrdinaryKeyCalledWow6432NodeIsCopiedAndDeletedAsAnyOther) {
  auto number = [&](const std::string& below, std::optional<DWORD> set) {
    HKEY key = nullptr;
    RegCreateKeyA(HKEY_CURRENT_USER, Path().c_str(), &key);
    std::string rest = below + "\\";
    for (std::size_t cut = rest.find('\\'); key != nullptr && cut != std::string::npos;
         cut = rest.find('\\')) {
      HKEY child = nullptr;
      (set ? RegCreateKeyExA(key, rest.substr(0, cut).c_str(), 0, nullptr, 0,
                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &child, nullptr)
           : RegOpenKeyExA(key, rest.substr(0, cut).c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                           &child));
      RegCloseKey(std::exchange(key, child));
      rest.erase(0, cut + 1);
    }
    DWORD value = set.value_or(0);
    DWORD size = sizeof(value);
    if (key != nullptr && set) {
      RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), size);
    } else if (key == nullptr ||
               RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                &size) != ERROR_SUCCESS) {
      value = 0;
    }
    RegCloseKey(key);
    return value;
  };
  for (const auto& [key, value] : std::vector<std::pair<std::string, DWORD>>{
           {"src\\Wow6432Node\\x", 1}, {"src\\x", 2}, {"src\\z", 3}}) {
    number(key, value);
  }
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kTrue);
  EXPECT_EQ(number("dst\\Wow6432Node\\x", std::nullopt), 1U);
  EXPECT_EQ(number("dst\\x", std::nullopt), 2U);
  EXPECT_EQ(number("dst\\z", std::nullopt), 3U);
  EXPECT_EQ(number("dst\\Wow6432Node\\z", std::nullopt), 0U);
  EXPECT_EQ(reg.DeleteTree("HKCU", Path("src")), kTrue);
  EXPECT_EQ(reg.DeleteTree("HKCU", Path("dst")), kTrue);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("src")));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("dst")));
}

// Windows stops a tree at 512 levels, Wine at none: any user can make a
// deeper one in his own hive. Both walks keep their state off the stack.
TEST_F(RegistryTree, TenThousandLevelsAreCopiedAndDeleted) {
  constexpr DWORD kLevels = 10000;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, Path("src").c_str(), &key), ERROR_SUCCESS);
  for (DWORD level = 0; key != nullptr; ++level) {
    RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level), 4);
    HKEY child = nullptr;
    if (level + 1 < kLevels) {
      RegCreateKeyExA(key, "k", 0, nullptr, 0, MAXIMUM_ALLOWED | KEY_WOW64_64KEY, nullptr, &child,
                      nullptr);
    }
    RegCloseKey(std::exchange(key, child));
  }
  Registry reg;
  ASSERT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kTrue);
  DWORD levels = 0;
  for (RegOpenKeyA(HKEY_CURRENT_USER, Path("dst").c_str(), &key); key != nullptr; ++levels) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD subkeys = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    if (RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        value != levels || subkeys != (levels + 1 < kLevels ? 1 : 0)) {
      ADD_FAILURE() << "level " << levels << " holds " << value << " and " << subkeys << " subkeys";
    }
    HKEY child = nullptr;
    RegOpenKeyExA(key, "k", 0, KEY_READ | KEY_WOW64_64KEY, &child);
    RegCloseKey(std::exchange(key, child));
  }
  EXPECT_EQ(levels, kLevels);
  EXPECT_EQ(reg.DeleteTree("HKCU", Path("src")), kTrue);
  EXPECT_EQ(reg.DeleteTree("HKCU", Path("dst")), kTrue);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("src")));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("dst")));
}

TEST_F(RegistryTree, DeleteTreeOfNothingOrOfAWholeRootDoesNothing) {
  BuildSource();
  Registry reg;
  EXPECT_EQ(reg.DeleteTree("HKCU", Path("missing")), kFalse);
  EXPECT_EQ(reg.DeleteTree("HKCU", ""), kFalse);
  EXPECT_EQ(reg.DeleteTree("nonsense", ""), kFalse);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("src\\one\\two")));
}

// A volatile key refuses every child that is not, on Windows as in the
// substitute: a target key the copy cannot make. Its subkeys then go
// below the target's whole path, and nothing outside the target changes.
TEST_F(RegistryTree, ATargetThatRefusesItsChildrenLeavesTheRestOfTheRegistryAlone) {
  const std::string elsewhere = "FenwarelTreeElsewhere";
  // The whole root that both operations name. The real HKEY_LOCAL_MACHINE
  // holds some 24,000 keys; the substitute's every root is compared after
  // every failure of every call in the injection test.
  const std::vector<std::pair<HKEY, std::string>> roots = {{HKEY_CURRENT_USER, "HKCU"}};
  for (testing_support::Shape shape : testing_support::TreeShapes(Path(), elsewhere, false)) {
    const std::string target = testing_support::Place("HKCU", shape.target);
    const bool targetHasSubkeys = std::any_of(shape.keys.begin(), shape.keys.end(), [&](auto& key) {
      return testing_support::Place("HKCU", key.path).starts_with(target + "\\");
    });
    if (!targetHasSubkeys) {
      shape.keys.push_back({shape.target, {}, true});
    }
    ASSERT_NO_FATAL_FAILURE(testing_support::Build(shape));
    const testing_support::Picture before = testing_support::PictureOf(roots);
    Registry reg;
    const registry::Boolean copied = reg.CopyTree("HKCU", shape.source, "HKCU", shape.target);
    const testing_support::Picture after = testing_support::PictureOf(roots);
    EXPECT_TRUE(targetHasSubkeys || copied == kFalse) << shape.name << ": subkeys were refused";
    testing_support::CheckCopy(
        before, after,
        testing_support::ExpectedCopy(before, testing_support::Place("HKCU", shape.source), target),
        target, copied, shape.name);
    const registry::Boolean deleted = reg.DeleteTree("HKCU", shape.source);
    testing_support::CheckDelete(after, testing_support::PictureOf(roots),
                                 testing_support::Place("HKCU", shape.source), deleted,
                                 shape.name + " delete");
    DeleteSubtree(HKEY_CURRENT_USER, Path());
    DeleteSubtree(HKEY_CURRENT_USER, elsewhere);
  }
}

// Links below the caller's names are never followed, and names the code
// page cannot spell never stand for others: the copy and the delete keep to
// their trees, end, and say what they left. The delete takes a link itself,
// never what it points to, and goes on after what it leaves: only names it
// cannot spell and the keys above them remain.
TEST_F(RegistryTree, LinksAndNamesSpeltAlikeKeepCopyAndDeleteInTheirTrees) {
  using testing_support::Place;
  const std::vector<std::pair<HKEY, std::string>> roots = {{HKEY_CURRENT_USER, "HKCU"}};
  for (const testing_support::Shape& shape : testing_support::LinkShapes(Path())) {
#ifndef _WIN32
    if (shape.name != "names spelt alike") {
      continue;  // the substitute keeps no links
    }
#endif
    ASSERT_NO_FATAL_FAILURE(testing_support::Build(shape));
    const std::string source = Place("HKCU", shape.source);
    const std::string target = Place("HKCU", shape.target);
    const testing_support::Picture before = testing_support::PictureOf(roots);
    const testing_support::Expected expected =
        testing_support::ExpectedCopy(before, source, target);
    Registry reg;
    const registry::Boolean copied = reg.CopyTree("HKCU", shape.source, "HKCU", shape.target);
    const testing_support::Picture after = testing_support::PictureOf(roots);
    // Every shape but the names has a link, which the copy leaves out.
    EXPECT_EQ(copied == kTrue, expected.exact && shape.name == "names spelt alike") << shape.name;
    testing_support::CheckCopy(before, after, expected, target, copied, shape.name);

    const registry::Boolean deleted = reg.DeleteTree("HKCU", shape.source);
    const testing_support::Picture left = testing_support::PictureOf(roots);
    testing_support::CheckDelete(after, left, source, deleted, shape.name + " delete");
    for (const auto& [place, values] : left) {
      const bool leftOnPurpose = std::any_of(left.begin(), left.end(), [&](const auto& kept) {
        return testing_support::Within(kept.first, place) &&
               testing_support::Within(kept.first, source) &&
               !testing_support::Spellable(kept.first.substr(source.size()));
      });
      EXPECT_TRUE(!testing_support::Within(place, source) || leftOnPurpose)
          << shape.name << ": the delete stopped before " << place;
    }
    DeleteSubtree(HKEY_CURRENT_USER, Path());
  }
}

// A name may hold a zero, which no ANSI call can spell: Wine makes one of
// a lone lead byte of code page 932, the native calls of any name. Read
// through the ANSI calls it would name the key above it, without end.
TEST_F(RegistryTree, ANameWithAZeroInsideIsLeftOutAndTheWalkEnds) {
  Put("src\\\xE4", "v", REG_DWORD, {1, 0, 0, 0});
  HKEY source = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, Path("src").c_str(), &source), ERROR_SUCCESS);
  std::array<wchar_t, 8> name{};
  DWORD length = name.size();
  const LSTATUS listed =
      RegEnumKeyExW(source, 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(source);
  if (listed != ERROR_SUCCESS || length != 1 || name[0] != L'\0') {
    GTEST_SKIP() << "this code page spells the byte as a letter";
  }
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kFalse);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("dst")));
  EXPECT_EQ(reg.DeleteTree("HKCU", Path("src")), kFalse);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("src")));
  // The same byte names it again, for the scratch key to go.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, Path("src\\\xE4").c_str()), ERROR_SUCCESS);
}

// A text is copied as the ANSI calls spell it; one that the code page cannot
// spell arrives with a best fit, and the copy says it was not exact.
TEST_F(RegistryTree, ATextTheCodePageCannotSpellMakesTheCopyInexact) {
  if (testing_support::Spellable("\xC4\x81")) {
    GTEST_SKIP() << "this code page spells U+0101";
  }
  HKEY source = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, Path("src").c_str(), &source), ERROR_SUCCESS);
  const std::vector<BYTE> text = {'x', 0, 0x01, 0x01, 0, 0};  // "x\u0101" in UTF-16
  ASSERT_EQ(RegSetValueExW(source, L"t", 0, REG_SZ, text.data(), static_cast<DWORD>(text.size())),
            ERROR_SUCCESS);
  RegCloseKey(source);
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kFalse);
  std::vector<BYTE> spelt = Get("src", "t")->data;  // as the ANSI calls spell it
  spelt.push_back(0);                               // and one more zero, as every copied text
  EXPECT_EQ(Get("dst", "t")->data, spelt);
}

}  // namespace

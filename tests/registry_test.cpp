// The registry object against the store: the substitute natively, the real
// registry under Wine.
#include "registry/registry.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <limits>

#include "scratch_key.h"

namespace {

using registry::Boolean;
using registry::Bytes;
using registry::kFalse;
using registry::kTrue;
using registry::Registry;
using registry::TaggedValue;
using testing_support::BytesOf;
using testing_support::DeleteSubtree;
using testing_support::KeyExists;
using testing_support::RawGet;
using testing_support::RawSet;
using testing_support::StoredValue;

class RegistryTest : public testing_support::ScratchTest {
 protected:
  // A registry object with the scratch key of HKCU open.
  Registry& Opened() {
    EXPECT_EQ(reg_.CreateKey(Path()), kTrue);
    return reg_;
  }
  std::optional<StoredValue> Stored(const std::string& name) const {
    return RawGet(HKEY_CURRENT_USER, Path(), name);
  }
  void Put(const std::string& name, DWORD type, const std::vector<BYTE>& data) const {
    RawSet(HKEY_CURRENT_USER, Path(), name, type, data);
  }

  Registry reg_;
};

// --- Root names -----------------------------------------------------------

TEST_F(RegistryTest, NewObjectWorksUnderCurrentUser) {
  EXPECT_EQ(reg_.RootKeyName(), "HKCU");
  EXPECT_EQ(reg_.QueryName, "");
  ASSERT_EQ(reg_.CreateKey(Path()), kTrue);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Path()));
}

// Each name reaches its own root: a value written through the name is read
// back through that root's handle, below a key every store lets us write.
TEST_F(RegistryTest, RootNamesReachTheirOwnRootInAnyCaseAndAreKeptAsWritten) {
  const std::string below = "Software\\FenwarelTest.RootNames";
  const struct {
    const char* name;
    HKEY root;
    std::string path;
  } roots[] = {
      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, below},
      {"hkcu", HKEY_CURRENT_USER, below},
      {"Hkey_Local_Machine", HKEY_LOCAL_MACHINE, below},
      {"HKLM", HKEY_LOCAL_MACHINE, below},
      {"hkey_classes_root", HKEY_CLASSES_ROOT, "FenwarelTest.RootNames"},
      {"HKCR", HKEY_CLASSES_ROOT, "FenwarelTest.RootNames"},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG, below},
      {"hkcc", HKEY_CURRENT_CONFIG, below},
      {"hkey_users", HKEY_USERS, ".DEFAULT\\" + below},
      {"HKUS", HKEY_USERS, ".DEFAULT\\" + below},
  };
  for (const auto& root : roots) {
    const std::string text = std::string("through ") + root.name;
    {
      Registry reg;
      reg.RootKeyName(root.name);
      EXPECT_EQ(reg.RootKeyName(), root.name);
      ASSERT_EQ(reg.CreateKey(root.path), kTrue) << root.name;
      reg.QueryName = "Written";
      reg.QueryValue(TaggedValue{text});
    }
    EXPECT_EQ(RawGet(root.root, root.path, "Written"),
              (StoredValue{REG_SZ, BytesOf(std::string(text.c_str(), text.size() + 1))}))
        << root.name;
    DeleteSubtree(root.root, root.path);
  }
  // Windows 9x's dynamic data root is only a name on NT: it is kept.
  Registry reg;
  reg.RootKeyName("hkdd");
  EXPECT_EQ(reg.RootKeyName(), "hkdd");
}

TEST_F(RegistryTest, UnknownRootNamesChangeNothing) {
  reg_.RootKeyName("hklm");
  for (const char* name :
       {"HKU", " HKLM", "HKLM ", "HKEY_PERFORMANCE_DATA", "", "HKCU\\Software"}) {
    reg_.RootKeyName(name);
    EXPECT_EQ(reg_.RootKeyName(), "hklm") << name;
  }
  ASSERT_EQ(reg_.CreateKey(Path()), kTrue);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Path()));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path()));
}

TEST_F(RegistryTest, AnOpenKeyStaysUnderItsOldRoot) {
  Opened().RootKeyName("HKLM");
  reg_.QueryName = "Where";
  reg_.QueryValue(TaggedValue{std::string("user")});
  EXPECT_TRUE(Stored("Where").has_value());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Path()));
}

// --- Opening, creating, deleting keys ---------------------------------------

TEST_F(RegistryTest, OpenKeyFindsOnlyExistingKeysCreateKeyMakesThem) {
  reg_.QueryName = "kept?";
  EXPECT_EQ(reg_.OpenKey(Path("a\\b")), kFalse);
  EXPECT_EQ(reg_.QueryName, "");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("a")));

  reg_.QueryName = "kept?";
  EXPECT_EQ(reg_.CreateKey(Path("a\\b")), kTrue);
  EXPECT_EQ(reg_.QueryName, "");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("a\\b")));
  EXPECT_EQ(reg_.OpenKey(Path("A\\B")), kTrue);
}

TEST_F(RegistryTest, AfterAFailedOpenNoKeyIsOpen) {
  Opened().QueryName = "Value";
  reg_.QueryValue(TaggedValue{std::int32_t{1}});
  ASSERT_EQ(reg_.OpenKey(Path("missing")), kFalse);
  reg_.QueryName = "Value";
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string()});  // not the old key's value
  reg_.QueryValue(TaggedValue{std::int32_t{2}});
  EXPECT_EQ(Stored("Value")->data, (std::vector<BYTE>{1, 0, 0, 0}));
}

TEST_F(RegistryTest, DeleteKeyRemovesTheOpenKeyAndClosesIt) {
  ASSERT_EQ(reg_.CreateKey(Path("gone")), kTrue);
  reg_.QueryName = "x";
  reg_.DeleteKey();
  EXPECT_EQ(reg_.QueryName, "");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("gone")));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path()));

  reg_.QueryName = "still here";
  reg_.DeleteKey();  // nothing open: nothing changes
  EXPECT_EQ(reg_.QueryName, "still here");
}

TEST_F(RegistryTest, DeleteKeyLeavesAKeyWithSubkeysButClosesIt) {
  ASSERT_EQ(reg_.CreateKey(Path("parent\\child")), kTrue);
  ASSERT_EQ(reg_.OpenKey(Path("parent")), kTrue);
  reg_.DeleteKey();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("parent\\child")));
  reg_.QueryName = "v";
  reg_.QueryValue(TaggedValue{std::string("x")});  // no key open any more
  EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, Path("parent"), "v").has_value());
}

TEST_F(RegistryTest, DeleteNameRemovesNamedAndDefaultValues) {
  Put("Named", REG_DWORD, {1, 0, 0, 0});
  Put("", REG_SZ, BytesOf(std::string("abc", 4)));
  Opened().QueryName = "named";
  reg_.DeleteName();
  EXPECT_EQ(reg_.QueryName, "");
  EXPECT_FALSE(Stored("Named").has_value());
  reg_.DeleteName();
  EXPECT_FALSE(Stored("").has_value());
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string()});
}

// --- Reading ---------------------------------------------------------------

struct ReadCase {
  const char* what;
  DWORD type;
  std::vector<BYTE> stored;
  TaggedValue expected;
};

TEST_F(RegistryTest, ReadingMapsEachStoredTypeAndSize) {
  const std::vector<ReadCase> cases = {
      {"empty REG_SZ", REG_SZ, {}, std::string()},
      {"REG_SZ with terminator", REG_SZ, BytesOf(std::string("abc", 4)), std::string("abc")},
      {"REG_SZ without terminator", REG_SZ, BytesOf("abc"), std::string("abc")},
      {"REG_SZ cut at first zero", REG_SZ, BytesOf(std::string("ab\0cd", 6)), std::string("ab")},
      {"REG_BINARY", REG_BINARY, {0, 1, 0xFF}, Bytes{0, 1, 0xFF}},
      {"REG_BINARY of size 0", REG_BINARY, {}, Bytes{}},
      {"REG_DWORD", REG_DWORD, {0xC0, 0, 0, 0}, std::int32_t{192}},
      {"REG_DWORD negative", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, std::int32_t{-1}},
      {"REG_DWORD_BIG_ENDIAN, no swap", REG_DWORD_BIG_ENDIAN, {0xC0, 0, 0, 0}, std::int32_t{192}},
      {"REG_DWORD of 2 bytes", REG_DWORD, {0x34, 0x12}, std::int32_t{0x1234}},
      {"REG_DWORD of 8 bytes", REG_DWORD, {1, 2, 3, 4, 5, 6, 7, 8}, std::int32_t{0x04030201}},
      {"REG_DWORD of 0 bytes", REG_DWORD, {}, std::int32_t{0}},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, BytesOf(std::string("%x%", 4)), std::string()},
      {"REG_MULTI_SZ", REG_MULTI_SZ, BytesOf(std::string("a\0b\0", 5)), std::string()},
      {"REG_NONE", REG_NONE, {1, 2}, std::string()},
  };
  for (const ReadCase& c : cases) {
    Put(c.what, c.type, c.stored);
  }
  Opened();
  for (const ReadCase& c : cases) {
    reg_.QueryName = c.what;
    EXPECT_EQ(reg_.QueryValue(), c.expected) << c.what;
    EXPECT_EQ(reg_.QueryName, c.what);
  }
  reg_.QueryName = "missing";
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string()});
}

TEST_F(RegistryTest, ReadingWithoutAnOpenKeyGivesTheEmptyText) {
  reg_.QueryName = "x";
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string()});
  reg_.QueryName = "";
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string()});
}

TEST_F(RegistryTest, DefaultValueReadsAsTextLessOneTerminator) {
  Opened();
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string()});  // no default value yet
  Put("", REG_SZ, BytesOf(std::string("abc", 4)));
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string("abc")});
  Put("", REG_SZ, BytesOf(std::string("abc\0\0", 5)));
  EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string("abc\0", 4)});
}

// --- Writing ---------------------------------------------------------------

struct WriteCase {
  const char* name;
  TaggedValue value;
  std::optional<StoredValue> stored;
};

TEST_F(RegistryTest, WritingNamedValuesStoresEachKindAsItsType) {
  const std::vector<WriteCase> cases = {
      {"Text", std::string("abc"), StoredValue{REG_SZ, BytesOf(std::string("abc", 4))}},
      {"Empty text", std::string(), StoredValue{REG_SZ, {}}},
      {"Int16", std::int16_t{192}, StoredValue{REG_DWORD, {0xC0, 0, 0, 0}}},
      {"Int16 -1", std::int16_t{-1}, StoredValue{REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}}},
      {"Int32", std::int32_t{0x01020304}, StoredValue{REG_DWORD, {4, 3, 2, 1}}},
      {"Bytes", Bytes{9, 0, 8}, StoredValue{REG_BINARY, {9, 0, 8}}},
      {"No bytes", Bytes{}, StoredValue{REG_BINARY, {}}},
      {"Boolean", true, std::nullopt},
      {"Double", 1.5, std::nullopt},
      {"Byte", std::uint8_t{7}, std::nullopt},
      {"Date", registry::Date{}, std::nullopt},
      {"Empty", registry::Empty{}, std::nullopt},
      {"Null", registry::Null{}, std::nullopt},
  };
  Opened();
  for (const WriteCase& c : cases) {
    reg_.QueryName = c.name;
    EXPECT_NO_THROW(reg_.QueryValue(c.value)) << c.name;
    EXPECT_EQ(Stored(c.name), c.stored) << c.name;
    EXPECT_EQ(reg_.QueryName, c.name);
  }
}

TEST_F(RegistryTest, ByteSequencesStopAt32767Bytes) {
  Opened().QueryName = "Blob";
  Bytes largest(32767, 0xAB);
  reg_.QueryValue(TaggedValue{largest});
  EXPECT_EQ(Stored("Blob")->data.size(), 32767U);

  reg_.QueryName = "Too large";
  EXPECT_THROW(reg_.QueryValue(TaggedValue{Bytes(32768, 1)}), registry::OverflowError);
  EXPECT_FALSE(Stored("Too large").has_value());
}

// 0.1 + 0.2 in double arithmetic. Written as that sum, 32-bit x86 code from
// GCC 13 on computes it in long double, as the standard allows, and gets 0.3.
const double kPointOnePlusPointTwo = std::bit_cast<double>(std::uint64_t{0x3FD3333333333334});

TEST_F(RegistryTest, DefaultValueIsWrittenAsTheTextOfAnyKind) {
  const std::vector<std::pair<TaggedValue, std::string>> cases = {
      {std::string("1"), "1"},
      {std::int32_t{-42}, "-42"},
      {std::int16_t{192}, "192"},
      {true, "True"},
      {false, "False"},
      {std::uint8_t{255}, "255"},
      {0.1, "0.1"},
      {kPointOnePlusPointTwo, "0.30000000000000004"},  // needs all 17 digits to read back
      {1e21, "1e+21"},
      {registry::Date{2026, 12, 8, 14, 5, 0}, "2026-12-08T14:05:00"},
      {Bytes{'h', 'i'}, "hi"},
      {registry::Empty{}, ""},
      {registry::Sequence{{"a", "b"}}, "a,b"},
  };
  Opened();
  for (const auto& [value, text] : cases) {
    reg_.QueryValue(value);
    EXPECT_EQ(Stored(""), (StoredValue{REG_SZ, BytesOf(text + '\0')})) << text;
    EXPECT_EQ(reg_.QueryValue(), TaggedValue{text});
  }
  EXPECT_THROW(reg_.QueryValue(TaggedValue{registry::Null{}}), registry::ConversionError);
}

// Whatever the C runtime: each number's text is the shortest that the C++
// library reads back as the very same bits.
TEST_F(RegistryTest, DefaultNumbersReadBackExactly) {
  using limits = std::numeric_limits<double>;
  const std::vector<std::pair<double, std::string>> cases = {
      {kPointOnePlusPointTwo, "0.30000000000000004"},
      {limits::max(), "1.7976931348623157e+308"},
      {limits::lowest(), "-1.7976931348623157e+308"},
      {limits::min(), "2.2250738585072014e-308"},
      {limits::denorm_min(), "5e-324"},
      {limits::min() - limits::denorm_min(), "2.225073858507201e-308"},  // largest subnormal
      {-0.0, "-0"},
      {1e23, "1e+23"},
      {9007199254740993.0, "9007199254740992"},
      {123456.5, "123456.5"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      // Odd mantissas: the shorter decimal on the midpoint reads back as the even neighbour.
      {5.0000000000000004e22, "5.0000000000000004e+22"},
      {6.9999999999999996e22, "6.9999999999999996e+22"},
      {18014398509481988.0, "18014398509481988"},
      // Powers of two: the neighbour below is nearer, so the last digit cannot drop.
      {0x1p64, "1.8446744073709552e+19"},
      {0x1p-25, "2.9802322387695312e-08"},
      {0x1p-1019, "1.7800590868057611e-307"},
  };
  Opened();
  for (const auto& [number, text] : cases) {
    reg_.QueryValue(TaggedValue{number});
    const std::string stored = std::get<std::string>(reg_.QueryValue());
    EXPECT_EQ(stored, text);
    double back = 0;
    auto [end, error] = std::from_chars(stored.data(), stored.data() + stored.size(), back);
    EXPECT_TRUE(error == std::errc{} && end == stored.data() + stored.size()) << stored;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(number)) << stored;
  }
}

TEST_F(RegistryTest, WritingWithoutAnOpenKeyIsSilent) {
  reg_.QueryName = "x";
  EXPECT_NO_THROW(reg_.QueryValue(TaggedValue{std::string("lost")}));
  reg_.QueryName = "";
  EXPECT_NO_THROW(reg_.QueryValue(TaggedValue{std::string("lost")}));
  EXPECT_NO_THROW(reg_.DeleteName());
}

// --- SetDefault ------------------------------------------------------------

TEST_F(RegistryTest, SetDefaultWritesOnlyWhatIsMissingEmptyOrBinary) {
  struct Case {
    const char* what;
    std::optional<StoredValue> before;
    StoredValue after;
  };
  const StoredValue written{REG_DWORD, {0xC0, 0, 0, 0}};
  const std::vector<Case> cases = {
      {"missing", std::nullopt, written},
      {"number", StoredValue{REG_DWORD, {5, 0, 0, 0}}, StoredValue{REG_DWORD, {5, 0, 0, 0}}},
      {"big-endian", StoredValue{REG_DWORD_BIG_ENDIAN, {0, 0, 0, 5}},
       StoredValue{REG_DWORD_BIG_ENDIAN, {0, 0, 0, 5}}},
      {"empty text", StoredValue{REG_SZ, {}}, written},
      {"text", StoredValue{REG_SZ, BytesOf(std::string("7", 2))},
       StoredValue{REG_SZ, BytesOf(std::string("7", 2))}},
      {"binary", StoredValue{REG_BINARY, {1}}, written},
      {"unhandled type", StoredValue{REG_EXPAND_SZ, BytesOf(std::string("x", 2))}, written},
  };
  for (const Case& c : cases) {
    if (c.before) {
      Put(c.what, c.before->type, c.before->data);
    }
  }
  Opened();
  for (const Case& c : cases) {
    reg_.QueryName = "unrelated";
    reg_.SetDefault(c.what, TaggedValue{std::int16_t{192}}, kFalse);
    EXPECT_EQ(Stored(c.what), c.after) << c.what;
    EXPECT_EQ(reg_.QueryName, "unrelated");
  }
}

TEST_F(RegistryTest, SetDefaultWithForceAlwaysWrites) {
  Put("StickyKey", REG_DWORD, {5, 0, 0, 0});
  Opened();
  for (Boolean force : {kTrue, Boolean{1}}) {
    reg_.SetDefault("StickyKey", TaggedValue{std::int32_t{force}}, force);
    EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::string()});  // QueryName is back to ""
    reg_.QueryName = "StickyKey";
    EXPECT_EQ(reg_.QueryValue(), TaggedValue{std::int32_t{force}});
    reg_.QueryName = "";
  }
}

TEST_F(RegistryTest, SetDefaultLeavesTheNameSetWhenTheWriteThrows) {
  Opened().QueryName = "before";
  EXPECT_THROW(reg_.SetDefault("Blob", TaggedValue{Bytes(40000)}, kTrue), registry::OverflowError);
  EXPECT_EQ(reg_.QueryName, "Blob");
  EXPECT_THROW(reg_.SetDefault("", TaggedValue{registry::Null{}}, kTrue),
               registry::ConversionError);
  EXPECT_EQ(reg_.QueryName, "");
}

}  // namespace

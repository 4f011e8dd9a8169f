// Failures that the real registry cannot be made to show on demand (refused
// creates, writes and deletes, injected into the substitute), and copies
// that would run away if the guard failed, which only the substitute risks.
#include <gtest/gtest.h>

#include "registry/registry.h"
#include "scratch_key.h"
#include "substitute/controls.h"

namespace {

using platform::fake::OpenKeyCount;
using platform::fake::RefuseRegistry;
using platform::fake::RegistryOperation;
using registry::kFalse;
using registry::kTrue;
using registry::Registry;
using registry::TaggedValue;
using testing_support::KeyExists;
using testing_support::RawGet;

class RegistryFailure : public testing_support::ScratchTest {};

TEST_F(RegistryFailure, RefusedCreateGivesFalseAndLeavesNoKeyOpen) {
  RefuseRegistry(RegistryOperation::Create, HKEY_CURRENT_USER, Path("denied"));
  Registry reg;
  ASSERT_EQ(reg.CreateKey(Path()), kTrue);
  EXPECT_EQ(reg.CreateKey(Path("denied")), kFalse);
  EXPECT_EQ(OpenKeyCount(), 0U);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path()));  // the parent on the way was made
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("denied")));
  EXPECT_EQ(reg.QueryValue(), TaggedValue{std::string()});
}

TEST_F(RegistryFailure, RefusedWritesAreSilentAndReadAsBefore) {
  Registry reg;
  ASSERT_EQ(reg.CreateKey(Path()), kTrue);
  RefuseRegistry(RegistryOperation::SetValue, HKEY_CURRENT_USER, Path());
  reg.QueryName = "StickyKey";
  EXPECT_NO_THROW(reg.SetDefault("StickyKey", TaggedValue{std::int16_t{192}}, kFalse));
  EXPECT_NO_THROW(reg.QueryValue(TaggedValue{std::int32_t{1}}));
  EXPECT_EQ(reg.QueryValue(), TaggedValue{std::string()});
  reg.QueryName = "";
  EXPECT_NO_THROW(reg.QueryValue(TaggedValue{std::string("1")}));
  EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, Path(), "").has_value());
}

TEST_F(RegistryFailure, RefusedDeleteStillClosesTheKey) {
  Registry reg;
  ASSERT_EQ(reg.CreateKey(Path("kept")), kTrue);
  RefuseRegistry(RegistryOperation::Delete, HKEY_CURRENT_USER, Path("kept"));
  reg.DeleteKey();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("kept")));
  EXPECT_EQ(OpenKeyCount(), 0U);
}

TEST_F(RegistryFailure, EveryKeyIsClosedWhenTheObjectGoes) {
  {
    Registry reg;
    ASSERT_EQ(reg.CreateKey(Path("a")), kTrue);
    ASSERT_EQ(reg.OpenKey(Path("a")), kTrue);  // the first one is closed here
    ASSERT_EQ(reg.CreateKey(Path("b")), kTrue);
    EXPECT_EQ(OpenKeyCount(), 1U);
  }
  EXPECT_EQ(OpenKeyCount(), 0U);
}

TEST_F(RegistryFailure, DeleteTreeStopsAtASubkeyThatCannotGo) {
  for (const char* child : {"a", "b\\inner", "c"}) {
    testing_support::RawSet(HKEY_CURRENT_USER, Path("tree\\") + child, "v", REG_DWORD,
                            {1, 0, 0, 0});
  }
  RefuseRegistry(RegistryOperation::Delete, HKEY_CURRENT_USER, Path("tree\\b\\inner"));
  Registry reg;
  reg.DeleteTree("HKCU", Path("tree"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("tree\\a")));  // before it: gone
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("tree\\b\\inner")));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("tree\\c")));  // after it: kept
  EXPECT_EQ(OpenKeyCount(), 0U);
}

TEST_F(RegistryFailure, ATargetKeyThatCannotBeMadeLosesOnlyItsOwnValues) {
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src"), "top", REG_DWORD, {1, 0, 0, 0});
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src\\mid"), "mid", REG_DWORD, {2, 0, 0, 0});
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src\\mid\\low"), "low", REG_DWORD, {3, 0, 0, 0});
  RefuseRegistry(RegistryOperation::Create, HKEY_CURRENT_USER, Path("dst\\mid"));
  Registry reg;
  reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst"));
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, Path("dst"), "top").has_value());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("dst\\mid")));
  // Creating the lower key creates the one above on its way, here refused too.
  EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, Path("dst\\mid\\low"), "low").has_value());
  EXPECT_EQ(OpenKeyCount(), 0U);
}

TEST_F(RegistryFailure, UnwritableTargetValuesAreSkippedSilently) {
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src"), "v", REG_DWORD, {1, 0, 0, 0});
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src\\sub"), "w", REG_DWORD, {2, 0, 0, 0});
  testing_support::RawSet(HKEY_CURRENT_USER, Path("dst"), "old", REG_DWORD, {0, 0, 0, 0});
  RefuseRegistry(RegistryOperation::SetValue, HKEY_CURRENT_USER, Path("dst"));
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kFalse);
  EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, Path("dst"), "v").has_value());
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, Path("dst\\sub"), "w").has_value());
}

TEST_F(RegistryFailure, AKeyWhoseValuesCannotAllBeWrittenKeepsItsEarlierOnes) {
  using testing_support::RawSet;
  using testing_support::StoredValue;
  for (const char* name : {"a", "b", "c"}) {
    RawSet(HKEY_CURRENT_USER, Path("src"), name, REG_DWORD, {1, 0, 0, 0});
    RawSet(HKEY_CURRENT_USER, Path("src\\sub"), name, REG_DWORD, {1, 0, 0, 0});
  }
  RawSet(HKEY_CURRENT_USER, Path("dst"), "a", REG_DWORD, {9, 0, 0, 0});
  RawSet(HKEY_CURRENT_USER, Path("dst"), "c", REG_DWORD, {9, 0, 0, 0});
  // "a" is written, then "b" is refused: "a" gets its 9 back, "c" is never touched.
  RefuseRegistry(RegistryOperation::SetValue, HKEY_CURRENT_USER, Path("dst"), "b");
  // In a key the copy makes, what was written before the refusal goes again.
  RefuseRegistry(RegistryOperation::SetValue, HKEY_CURRENT_USER, Path("dst\\sub"), "c");
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kFalse);
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, Path("dst"), "a"), (StoredValue{REG_DWORD, {9, 0, 0, 0}}));
  EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, Path("dst"), "b").has_value());
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, Path("dst"), "c"), (StoredValue{REG_DWORD, {9, 0, 0, 0}}));
  for (const char* name : {"a", "b", "c"}) {
    EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, Path("dst\\sub"), name).has_value()) << name;
  }
  EXPECT_EQ(OpenKeyCount(), 0U);
}

TEST_F(RegistryFailure, ASourceKeyThatCannotBeReadIsLeftOutAndSaidSo) {
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src\\closed\\below"), "v", REG_DWORD,
                          {1, 0, 0, 0});
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src\\open"), "v", REG_DWORD, {1, 0, 0, 0});
  RefuseRegistry(RegistryOperation::Open, HKEY_CURRENT_USER, Path("src\\closed"));
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kFalse);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("dst\\closed")));
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, Path("dst\\open"), "v").has_value());
  EXPECT_EQ(OpenKeyCount(), 0U);
}

TEST_F(RegistryFailure, CopiesIntoTheirOwnSourceEndHoweverWritten) {
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src\\sub"), "v", REG_DWORD, {1, 0, 0, 0});
  Registry reg;
  reg.CopyTree("HKCU", Path("src") + "\\", "HKCU", Path("SRC\\sub\\copy"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("src\\sub\\copy\\sub")));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("src\\sub\\copy\\sub\\copy")));
  reg.CopyTree("HKCU", Path("src"), "HKCU", Path("src\\sub") + "\\");
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, Path("src\\sub\\sub"), "v").has_value());
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("src\\sub\\sub\\sub\\sub")));
  reg.CopyTree("HKCU", "", "HKCU", Path("whole"));  // the whole root into itself
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Path("whole\\") + Path("src\\sub")));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Path("whole\\") + Path("whole")));
  EXPECT_EQ(OpenKeyCount(), 0U);
}

// A write that fails gives the values written before it back as they
// were, a text that the code page cannot spell, stored without its end, too.
TEST_F(RegistryFailure, ARollbackGivesATextBackExactly) {
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src"), "t", REG_DWORD, {1, 0, 0, 0});
  testing_support::RawSet(HKEY_CURRENT_USER, Path("src"), "u", REG_DWORD, {2, 0, 0, 0});
  HKEY target = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, Path("dst").c_str(), &target), ERROR_SUCCESS);
  // "y\u0101" in UTF-16, stored without its end: the store adds none, as
  // the character after it is not zero.
  const std::vector<BYTE> text = {'y', 0, 0x01, 0x01};
  const std::vector<BYTE> padded = {'y', 0, 0x01, 0x01, 0xFF, 0xFF};
  RegSetValueExW(target, L"t", 0, REG_SZ, padded.data(), static_cast<DWORD>(text.size()));
  RefuseRegistry(RegistryOperation::SetValue, HKEY_CURRENT_USER, Path("dst"), "u");
  Registry reg;
  EXPECT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), kFalse);
  std::vector<BYTE> back(16);
  auto size = static_cast<DWORD>(back.size());
  DWORD type = REG_NONE;
  ASSERT_EQ(RegQueryValueExW(target, L"t", nullptr, &type, back.data(), &size), ERROR_SUCCESS);
  back.resize(size);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(back, text);
  RegCloseKey(target);
}

}  // namespace

// Failures that the real registry cannot be made to show on demand (refused
// creates, writes and deletes, injected into the substitute), and copies
// that would run away if the guard failed, which only the substitute risks.
#include <gtest/gtest.h>

#include "platform/fake/fake_registry.h"
#include "registry/registry.h"
#include "scratch_key.h"

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
  reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst"));
  EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, Path("dst"), "v").has_value());
  EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, Path("dst\\sub"), "w").has_value());
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

}  // namespace

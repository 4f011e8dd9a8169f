// Another party changes the tree while a copy or a delete walks it, before
// each of the walk's calls in turn, on the real registry: keys go, come,
// are called Wow6432Node, or turn into links. After each, the operation has
// ended, changed nothing outside its names but what the other party did,
// and said kTrue only when it kept its promise. And what the walks cost,
// counted on the real calls.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "live/live_registry_control.h"
#include "live/root_tops.h"
#include "registry/registry.h"
#include "tree_invariants.h"

namespace {

using testing_support::Picture;
using testing_support::Place;
using testing_support::Within;

struct Change {
  std::string name;
  std::function<void(const std::string& base)> act;
};

// Opens `path` below HKCU as the caller's names reach it; the change acts
// below it, name by name, only while it is there.
void Below(const std::string& path, const std::function<void(HKEY)>& act) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, testing_support::Wide(path).c_str(), 0, MAXIMUM_ALLOWED,
                    &key) == ERROR_SUCCESS) {
    act(key);
    RegCloseKey(key);
  }
}

void AddKey(const std::string& parent, const std::string& name) {
  Below(parent, [&](HKEY key) {
    HKEY made = nullptr;
    if (RegCreateKeyExW(key, testing_support::Wide(name).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &made,
                        nullptr) == ERROR_SUCCESS) {
      const DWORD number = 8;
      RegSetValueExA(made, "added", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
      RegCloseKey(made);
    }
  });
}

void RemoveKey(const std::string& parent, const std::string& name) {
  Below(parent, [&](HKEY key) { testing_support::DeleteSubtree(key, name, KEY_WOW64_64KEY); });
}

std::vector<Change> Changes() {
  return {
      {"a key already listed goes",
       [](const std::string& base) { RemoveKey(base + "\\src", "a"); }},
      {"a key not yet listed goes",
       [](const std::string& base) { RemoveKey(base + "\\src", "z"); }},
      {"a key comes before the one being read",
       [](const std::string& base) { AddKey(base + "\\src", "0"); }},
      {"a Wow6432Node key comes",
       [](const std::string& base) { AddKey(base + "\\src\\b", "Wow6432Node"); }},
      {"a Wow6432Node link comes",
       [](const std::string& base) {
         testing_support::MakeLink(base + "\\src\\Wow6432Node", base + "\\outside");
       }},
      {"a key turns into a link",
       [](const std::string& base) {
         RemoveKey(base + "\\src", "b");
         testing_support::MakeLink(base + "\\src\\b", base + "\\outside");
       }},
  };
}

class LiveRegistry : public testing_support::ScratchTest {
 protected:
  void Build() {
    testing_support::DeleteSubtree(HKEY_CURRENT_USER, Path());
    const std::string src = Path("src");
    using testing_support::Dword;
    ASSERT_NO_FATAL_FAILURE(testing_support::Build({"live",
                                                    {{src, {Dword("v", 1)}},
                                                     {src + "\\a", {Dword("v", 2)}},
                                                     {src + "\\a\\x", {Dword("v", 3)}},
                                                     {src + "\\b", {Dword("v", 4)}},
                                                     {src + "\\b\\y\\deep", {Dword("v", 6)}},
                                                     {src + "\\z", {Dword("v", 7)}},
                                                     {Path("outside\\sub"), {Dword("kept", 2)}}},
                                                    src,
                                                    Path("dst")}));
  }
  // The scratch key whole: every name the operations and the changes reach.
  [[nodiscard]] Picture Whole() const {
    Picture picture;
    Below(Path(), [&](HKEY key) {
      testing_support::PictureBuffers buffers;
      testing_support::Picture1(key, Place("HKCU", Path()), picture, buffers);
    });
    return picture;
  }
};

TEST_F(LiveRegistry, AnotherPartysChangeAtEveryCallOfACopyOrDelete) {
  const std::string source = Place("HKCU", Path("src"));
  const std::string target = Place("HKCU", Path("dst"));
  const auto tops = live::Tops();
  for (const Change& change : Changes()) {
    ASSERT_NO_FATAL_FAILURE(Build());
    const Picture still = Whole();
    change.act(Path());
    const Picture changed = Whole();
    const testing_support::Expected before = testing_support::ExpectedCopy(still, source, target);
    const testing_support::Expected after = testing_support::ExpectedCopy(changed, source, target);
    // A key may arrive as it was or as it became; one that stood throughout must.
    testing_support::Expected either = before;
    for (const auto& [place, values] : after.keys) {
      either.keys[place].insert(values.begin(), values.end());
    }
    // The copy sees a change by watching the whole tree, or, where the
    // store cannot watch, key by key.
    for (auto [copy, watching] : {std::pair{true, true}, {true, false}, {false, true}}) {
      live::Watching(watching);
      ASSERT_NO_FATAL_FAILURE(Build());
      registry::Registry reg;
      auto run = [&] {
        return copy ? reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst"))
                    : reg.DeleteTree("HKCU", Path("src"));
      };
      live::Arm(static_cast<std::size_t>(-1), nullptr);
      run();
      const std::size_t calls = live::Disarm();
      for (std::size_t n = 1; n <= calls; ++n) {
        const std::string what =
            change.name + (copy ? ", copy" : ", delete") + ", before call " + std::to_string(n);
        ASSERT_NO_FATAL_FAILURE(Build());
        live::Arm(n, [&] { change.act(Path()); });
        const registry::Boolean result = run();
        const Picture& was = live::Changed() ? changed : still;
        live::Disarm();
        const Picture now = Whole();
        if (!copy) {
          ASSERT_NO_FATAL_FAILURE(testing_support::CheckDelete(was, now, source, result, what));
          continue;
        }
        ASSERT_NO_FATAL_FAILURE(
            testing_support::CheckCopy(was, now, either, target, registry::kFalse, what));
        if (result != registry::kTrue) {
          continue;
        }
        for (const auto& [place, values] : before.keys) {
          if (!after.keys.contains(place)) {
            continue;  // it did not stand throughout
          }
          ASSERT_TRUE(now.contains(place)) << what << ": kTrue without " << place;
          for (const auto& [name, value] : values) {
            ASSERT_TRUE(now.at(place).contains(name) && now.at(place).at(name) == value)
                << what << ": kTrue without " << place << " " << name;
          }
        }
      }
      // What reached a root's top stays there: once for all the runs.
      ASSERT_EQ(live::Tops(), tops) << change.name << (copy ? ", copy" : ", delete")
                                    << (watching ? "" : " key by key") << ": a root changed";
    }
  }
}

// Each registry call is a request to the store, which costs far more than
// the work around it: a copy makes at most two calls per key above the least
// a copy can make (watch the source, or find that it cannot; open each
// source key, list each subkey, read each value; make each target key,
// write each value; closing is not counted). Where the store cannot watch,
// the copy asks each source key for its counts before and after reading
// it. A delete opens each key below the named one as itself and deletes it:
// two calls.
TEST_F(LiveRegistry, TreesCostAtMostOneCallPerKeyAboveTheLeast) {
  constexpr int kValues = 5;
  int keys = 0;
  for (const char* key : {"", "\\a", "\\a\\x", "\\a\\y", "\\b", "\\b\\z"}) {
    for (int value = 0; value < kValues; ++value) {
      testing_support::RawSet(HKEY_CURRENT_USER, Path("src") + key, "v" + std::to_string(value),
                              REG_DWORD, {1, 0, 0, 0});
    }
    ++keys;
  }
  const int least = 1 + keys * (2 + 2 * kValues) + (keys - 1);
  for (bool watching : {true, false}) {
    live::Watching(watching);
    registry::Registry reg;
    live::Arm(static_cast<std::size_t>(-1), nullptr);
    ASSERT_EQ(reg.CopyTree("HKCU", Path("src"), "HKCU", Path("dst")), registry::kTrue);
    const auto copy = static_cast<int>(live::Disarm());
    EXPECT_LE(copy, least + 2 * keys)
        << (watching ? "watching" : "key by key") << ": calls per key " << double(copy) / keys
        << ", least " << double(least) / keys;
    live::Arm(static_cast<std::size_t>(-1), nullptr);
    reg.DeleteTree("HKCU", Path("dst"));
    const auto removal = static_cast<int>(live::Disarm());
    // Five keys below the top at two calls; the two with subkeys list them
    // (one more than they have) and are deleted again once empty; the top
    // is tried, opened, listed and deleted.
    EXPECT_LE(removal, 5 * 2 + (3 + 1) + (2 + 1) + (2 + 3 + 1));
    EXPECT_FALSE(testing_support::KeyExists(HKEY_CURRENT_USER, Path("dst")));
  }
}

}  // namespace

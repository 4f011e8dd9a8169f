// Every registry call of a tree copy or delete made to fail once, in turn,
// as the real call fails, and every allocation of a copy or a delete: on the
// real registry, below a scratch key. After each run the scratch key is
// pictured whole and the top of every root read: nothing changed but what
// the operation may change, and kTrue only where it kept its promise.
#include <gtest/gtest.h>

#include <malloc.h>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "live/live_registry_control.h"
#include "live/root_tops.h"
#include "registry/registry.h"
#include "tree_invariants.h"

namespace {

// The allocation, counted from the arming, that is to fail; 0: none. The
// real registry calls do not allocate through operator new.
std::size_t allocationsUntilFailure = 0;

bool AllocationFails() { return allocationsUntilFailure != 0 && --allocationsUntilFailure == 0; }

}  // namespace

void* operator new(std::size_t size) {
  if (AllocationFails()) {
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}
// Every form of new and delete is replaced, so that each pairs with its own.
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (AllocationFails()) {
    throw std::bad_alloc();
  }
  void* block = _aligned_malloc(size == 0 ? 1 : size, static_cast<std::size_t>(alignment));
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t /*alignment*/) noexcept { _aligned_free(block); }
void operator delete(void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
  _aligned_free(block);
}
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t /*alignment*/) noexcept {
  _aligned_free(block);
}
void operator delete[](void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
  _aligned_free(block);
}
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }

namespace {

using registry::Boolean;
using registry::kFalse;
using registry::Registry;
using testing_support::Picture;
using testing_support::Place;
using testing_support::Shape;

enum class Operation { Copy, Delete };

// Calls of a large tree made to fail: the first and last of every kind, and
// this many spread evenly; each run of one pictures a thousand keys twice.
constexpr std::size_t kSpread = 8;

DWORD OpenHandles() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

// A registry object with a key of another root open, whose state no tree
// operation may change; with `refused`, every write replacing a value of
// that name (in the shapes, one in the target key alone, written after
// another) is refused all along, so that the copy has values to give back.
class Scene {
 public:
  Scene(const std::string& probe, const std::string& refused) : probe_(probe) {
    live::RefuseWrite(refused);
    reg.RootKeyName("hklm");
    EXPECT_EQ(reg.CreateKey(probe), registry::kTrue);
    reg.QueryName = "q";
    reg.QueryValue(registry::TaggedValue{std::string("probe")});
    handles_ = OpenHandles();
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  ~Scene() { live::RefuseWrite(""); }

  Boolean Run(Operation operation, const Shape& shape) {
    return operation == Operation::Copy ? reg.CopyTree("HKCU", shape.source, "hkcu", shape.target)
                                        : reg.DeleteTree("HKCU", shape.source);
  }
  void CheckObject(const std::string& what) {
    EXPECT_EQ(OpenHandles(), handles_) << what << ": a key left open";
    EXPECT_EQ(reg.RootKeyName(), "hklm") << what;
    EXPECT_EQ(reg.QueryName, "q") << what;
    EXPECT_EQ(reg.QueryValue(), registry::TaggedValue{std::string("probe")}) << what;
    EXPECT_EQ(reg.OpenKey(probe_), registry::kTrue) << what << ": the root was not restored";
  }

 private:
  Registry reg;
  std::string probe_;
  DWORD handles_ = 0;
};

// The calls to fail: all of them, or for a large tree the first and last of
// every kind and kSpread more spread evenly.
std::vector<std::size_t> CallsToFail(const std::vector<const char*>& log, bool large) {
  std::vector<std::size_t> calls;
  std::map<std::string_view, std::pair<std::size_t, std::size_t>> kinds;
  for (std::size_t n = 1; n <= log.size(); ++n) {
    if (!large) {
      calls.push_back(n);
    }
    auto [it, fresh] = kinds.try_emplace(log[n - 1], n, n);
    it->second.second = n;
  }
  if (large) {
    for (const auto& [kind, ends] : kinds) {
      calls.push_back(ends.first);
      calls.push_back(ends.second);
    }
    for (std::size_t step = 0; step < kSpread; ++step) {
      calls.push_back(1 + step * log.size() / kSpread);
    }
    std::sort(calls.begin(), calls.end());
    calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
  }
  return calls;
}

std::vector<LSTATUS> Failures(std::string_view call) {
  std::vector<LSTATUS> failures = {ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ERROR_KEY_DELETED};
  if (call.starts_with("RegCreateKey")) {
    failures.push_back(ERROR_CHILD_MUST_BE_VOLATILE);  // a parent that refuses the child
  }
  return failures;
}

class RegistryInjection : public testing_support::ScratchTest {
 protected:
  // Plain trees, links and names spelt alike, all below the scratch key;
  // keys of the same relative names elsewhere in the root are in it too.
  [[nodiscard]] std::vector<Shape> Shapes(bool large) const {
    std::vector<Shape> shapes = testing_support::TreeShapes(Path(), Path("elsewhere"), large);
    for (Shape& shape : testing_support::LinkShapes(Path())) {
      shapes.push_back(std::move(shape));
    }
    return shapes;
  }
  // The scratch key whole: every name a shape and an operation reach.
  [[nodiscard]] Picture Whole() const {
    Picture picture;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, testing_support::Wide(Path()).c_str(), 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
      testing_support::PictureBuffers buffers;
      testing_support::Picture1(key, Place("HKCU", Path()), picture, buffers);
      RegCloseKey(key);
    }
    return picture;
  }
  // Brings the scratch key to `shape` as built, from `now`, its picture: a
  // key a run added is taken away, a plain key it deleted is made again,
  // and anything else builds the whole shape anew.
  void Holding(const Shape& shape, const Picture& now) {
    if (holding_ == &shape && Mend(shape, now)) {
      return;
    }
    testing_support::DeleteSubtree(HKEY_CURRENT_USER, Path());
    ASSERT_NO_FATAL_FAILURE(testing_support::Build(shape));
    built_ = Whole();
    now_ = built_;
    holding_ = &shape;
  }
  void Holding(const Shape& shape) { Holding(shape, now_); }
  bool Mend(const Shape& shape, const Picture& now) {
    for (const auto& [place, values] : built_) {
      auto it = now.find(place);
      if (it != now.end() ? it->second != values : testing_support::IsLink(values)) {
        return false;
      }
    }
    const std::size_t root = std::string("HKCU\\").size();
    std::string added;  // the topmost key added last
    for (const auto& [place, values] : now) {
      if (!built_.contains(place) && (added.empty() || !testing_support::Within(place, added))) {
        added = place;
        testing_support::DeleteSubtree(HKEY_CURRENT_USER, place.substr(root));
      }
    }
    for (const testing_support::ShapeKey& key : shape.keys) {
      if (now.contains(Place("HKCU", key.path))) {
        continue;
      }
      for (const testing_support::ShapeValue& value : key.values) {
        if (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) {
          return false;  // a text is stored as the ANSI call gave it
        }
      }
      HKEY made = nullptr;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, testing_support::Wide(key.path).c_str(), 0, nullptr, 0,
                          KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &made,
                          nullptr) != ERROR_SUCCESS) {
        return false;
      }
      for (const testing_support::ShapeValue& value : key.values) {
        RegSetValueExW(made, testing_support::Wide(value.name).c_str(), 0, value.type,
                       value.data.data(), static_cast<DWORD>(value.data.size()));
      }
      RegCloseKey(made);
    }
    return true;
  }
  void Check(Operation operation, const Shape& shape, const Picture& before, Boolean result,
             const std::string& what) {
    now_ = Whole();
    const Picture& after = now_;
    const std::string source = Place("HKCU", shape.source);
    if (operation == Operation::Copy) {
      const std::string target = Place("HKCU", shape.target);
      testing_support::CheckCopy(before, after,
                                 testing_support::ExpectedCopy(before, source, target), target,
                                 result, what);
    } else {
      testing_support::CheckDelete(before, after, source, result, what);
    }
    ASSERT_EQ(Stamps(), stamps_) << what << ": a root changed";
  }
  // With a write refused all along, the target keeps its earlier values:
  // once the refused write was tried, what was written before it is given
  // back (unless the giving back is what failed).
  void CheckGivenBack(const Shape& shape, const Picture& before, std::string_view failed,
                      const std::string& what) {
    if (live::Refusals() == 0 || failed == "RegSetValueExW" || failed == "RegDeleteValueA") {
      return;
    }
    const std::string target = Place("HKCU", shape.target);
    ASSERT_TRUE(now_.contains(target) && now_.at(target) == before.at(target))
        << what << ": a write before the refused one not given back";
  }
  [[nodiscard]] std::string Probe() const { return Path("probe"); }
  static std::string Name(const Shape& shape, Operation operation, bool refused) {
    return shape.name + (operation == Operation::Copy ? " copy" : " delete") +
           (refused ? " with a write refused" : "");
  }

  // Each root's numbers of keys and values and its time of last change,
  // cheap enough to read after every run; its names at the end.
  static std::vector<std::vector<DWORD>> Stamps() {
    std::vector<std::vector<DWORD>> stamps;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                      HKEY_CURRENT_CONFIG}) {
      DWORD keys = 0;
      DWORD values = 0;
      FILETIME changed{};
      RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, &changed);
      stamps.push_back({keys, values, changed.dwLowDateTime, changed.dwHighDateTime});
    }
    return stamps;
  }
  void TearDown() override {
    EXPECT_EQ(live::Tops(), tops_) << "a root changed";
    testing_support::ScratchTest::TearDown();
  }

  std::map<std::string, std::vector<std::string>> tops_ = live::Tops();
  std::vector<std::vector<DWORD>> stamps_ = Stamps();
  Picture now_;

 private:
  const Shape* holding_ = nullptr;
  Picture built_;
};

TEST_F(RegistryInjection, EveryCallOfACopyOrDeleteFailsOnceAndTouchesNothingElse) {
  const std::vector<Shape> shapes = Shapes(true);
  for (const Shape& shape : shapes) {
    const bool large = shape.keys.size() > 50;
    for (auto [operation, refused] : {std::pair{Operation::Copy, std::string()},
                                      std::pair{Operation::Copy, std::string("same")},
                                      std::pair{Operation::Delete, std::string()}}) {
      if (!refused.empty() && shape.name != "existing") {
        continue;
      }
      const std::string name = Name(shape, operation, !refused.empty());
      ASSERT_NO_FATAL_FAILURE(Holding(shape));
      const Picture before = Whole();
      std::vector<const char*> calls;
      {
        Scene clean(Probe(), refused);
        live::Arm(static_cast<std::size_t>(-1), nullptr);
        clean.Run(operation, shape);
        calls = live::Calls();
        live::Disarm();
        now_ = Whole();
        if (!refused.empty()) {
          ASSERT_NO_FATAL_FAILURE(CheckGivenBack(shape, before, "", name));
        }
      }
      std::size_t turn = 0;
      for (std::size_t n : CallsToFail(calls, large)) {
        std::vector<LSTATUS> failures = Failures(calls[n - 1]);
        if (large) {  // one failure a call, taking turns
          failures = {failures[turn++ % failures.size()]};
        }
        for (LSTATUS failure : failures) {
          const std::string what = name + ", call " + std::to_string(n) + " (" + calls[n - 1] +
                                   ") fails with " + std::to_string(failure);
          ASSERT_NO_FATAL_FAILURE(Holding(shape));
          Scene scene(Probe(), refused);
          live::Arm(n, nullptr, failure);
          const Boolean result = scene.Run(operation, shape);
          live::Disarm();
          ASSERT_NO_FATAL_FAILURE(Check(operation, shape, before, result, what));
          if (!refused.empty()) {
            ASSERT_NO_FATAL_FAILURE(CheckGivenBack(shape, before, calls[n - 1], what));
          }
          scene.CheckObject(what);
          if (HasFailure()) {
            return;
          }
        }
      }
    }
  }
}

TEST_F(RegistryInjection, AnAllocationThatFailsPassesOnAndTouchesNothingElse) {
  const std::vector<Shape> shapes = Shapes(false);
  for (const Shape& shape : shapes) {
    for (Operation operation : {Operation::Copy, Operation::Delete}) {
      ASSERT_NO_FATAL_FAILURE(Holding(shape));
      const Picture before = Whole();
      bool threw = true;
      for (std::size_t n = 1; threw; ++n) {
        const std::string what =
            Name(shape, operation, false) + ", allocation " + std::to_string(n) + " fails";
        ASSERT_NO_FATAL_FAILURE(Holding(shape));
        Scene scene(Probe(), "");
        Boolean result = kFalse;
        allocationsUntilFailure = n;
        try {
          result = scene.Run(operation, shape);
          threw = false;
        } catch (const std::bad_alloc&) {
          threw = true;
        }
        allocationsUntilFailure = 0;
        ASSERT_NO_FATAL_FAILURE(Check(operation, shape, before, result, what));
        scene.CheckObject(what);
        if (HasFailure()) {
          return;
        }
      }
    }
  }
}

}  // namespace

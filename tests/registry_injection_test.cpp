// Every registry call of a tree copy or delete made to fail once, in turn,
// and every allocation of a copy: after each, the whole store is checked,
// not only the target. Natively, against the substitute.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "platform/fake/fake_registry.h"
#include "registry/registry.h"
#include "tree_invariants.h"

namespace {

// The allocation, counted from the arming, that is to fail; 0: none. The
// store's own allocations do not count: a registry call never throws.
std::size_t allocationsUntilFailure = 0;

}  // namespace

void* operator new(std::size_t size) {
  if (allocationsUntilFailure != 0 && !platform::fake::InsideRegistryCall() &&
      --allocationsUntilFailure == 0) {
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}
// Every form of new and delete is replaced, so that none pairs with the
// sanitizer's own (the library's stable sort takes the nothrow form).
void* operator new(std::size_t size, std::align_val_t alignment) {
  const auto align = static_cast<std::size_t>(alignment);
  if (allocationsUntilFailure != 0 && !platform::fake::InsideRegistryCall() &&
      --allocationsUntilFailure == 0) {
    throw std::bad_alloc();
  }
  void* block = std::aligned_alloc(align, std::max(align, (size + align - 1) / align * align));
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
void operator delete(void* block, std::align_val_t /*alignment*/) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t /*alignment*/) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }

namespace {

using platform::fake::FailRegistryCall;
using registry::Boolean;
using registry::kFalse;
using registry::Registry;
using testing_support::Picture;
using testing_support::Place;
using testing_support::Shape;

const std::vector<std::pair<HKEY, std::string>> kEveryRoot = {
    {HKEY_CLASSES_ROOT, "HKCR"}, {HKEY_CURRENT_USER, "HKCU"},   {HKEY_LOCAL_MACHINE, "HKLM"},
    {HKEY_USERS, "HKUS"},        {HKEY_CURRENT_CONFIG, "HKCC"}, {HKEY_DYN_DATA, "HKDD"}};
const std::string kBase = "Software\\FenwarelInjection";
const std::string kProbe = "Software\\FenwarelInjectionProbe";

enum class Operation { Copy, Delete };

// The store holding `shape`, and a registry object that has a key of
// another root open, whose state no tree operation may change.
struct Scene {
  // With `refused`, the write of the value "new" into that key is refused
  // all along, so that the copy has earlier values to give back.
  explicit Scene(const platform::fake::SavedRegistry& shape, const std::string& refused = "") {
    platform::fake::ResetRegistry();
    platform::fake::RestoreRegistry(shape);
    if (!refused.empty()) {
      platform::fake::RefuseRegistry(platform::fake::RegistryOperation::SetValue, HKEY_CURRENT_USER,
                                     refused, "new");
    }
    reg.RootKeyName("hklm");
    EXPECT_EQ(reg.CreateKey(kProbe), registry::kTrue);
    reg.QueryName = "q";
    reg.QueryValue(registry::TaggedValue{std::string("probe")});
    handles = platform::fake::OpenKeyCount();
  }
  Boolean Run(Operation operation, const Shape& shape) {
    return operation == Operation::Copy ? reg.CopyTree("HKCU", shape.source, "hkcu", shape.target)
                                        : reg.DeleteTree("HKCU", shape.source);
  }
  void CheckObject(const std::string& what) {
    EXPECT_EQ(platform::fake::OpenKeyCount(), handles) << what << ": a key left open";
    EXPECT_EQ(reg.RootKeyName(), "hklm") << what;
    EXPECT_EQ(reg.QueryName, "q") << what;
    EXPECT_EQ(reg.QueryValue(), registry::TaggedValue{std::string("probe")}) << what;
    EXPECT_EQ(reg.OpenKey(kProbe), registry::kTrue) << what << ": the root was not restored";
  }
  Registry reg;
  std::size_t handles = 0;
};

// The calls to fail: all of them, or for a large tree at least 300, the
// first and last of every kind among them and the rest spread evenly.
std::vector<std::size_t> CallsToFail(const std::vector<std::string_view>& log, bool large) {
  std::vector<std::size_t> calls;
  std::map<std::string_view, std::pair<std::size_t, std::size_t>> kinds;
  for (std::size_t n = 1; n <= log.size(); ++n) {
    if (log[n - 1] == "RegCloseKey") {
      continue;  // closing does not fail
    }
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
    for (std::size_t step = 0; step < 300; ++step) {
      calls.push_back(1 + step * log.size() / 300);
    }
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

// The store before an operation on `shape`, and what a whole copy makes of it.
struct Before {
  Before(const Shape& shape, Picture taken)
      : picture(std::move(taken)),
        source(Place("HKCU", shape.source)),
        target(Place("HKCU", shape.target)),
        copy(testing_support::ExpectedCopy(picture, source, target)) {}
  Picture picture;
  std::string source;
  std::string target;
  testing_support::Expected copy;
};

void Check(Operation operation, const Before& before, Boolean result, const std::string& what) {
  const Picture after = testing_support::PictureOf(kEveryRoot);
  if (operation == Operation::Copy) {
    testing_support::CheckCopy(before.picture, after, before.copy, before.target, result, what);
  } else {
    testing_support::CheckDelete(before.picture, after, before.source, result, what);
  }
}

TEST(RegistryInjection, EveryCallOfACopyOrDeleteFailsOnceAndTouchesNothingElse) {
  std::vector<Shape> shapes = testing_support::TreeShapes(kBase, "FenwarelElsewhere", true);
  for (Shape& shape : testing_support::LinkShapes(kBase)) {
    shapes.push_back(std::move(shape));
  }
  for (const Shape& shape : shapes) {
    const bool large = shape.keys.size() > 50;
    platform::fake::ResetRegistry();
    testing_support::Build(shape);
    const auto built = platform::fake::SaveRegistry();
    for (auto [operation, refused] :
         {std::pair{Operation::Copy, std::string()}, std::pair{Operation::Copy, shape.target},
          std::pair{Operation::Delete, std::string()}}) {
      if (!refused.empty() && shape.name != "existing") {
        continue;
      }
      const std::string name = shape.name + (operation == Operation::Copy ? " copy" : " delete") +
                               (refused.empty() ? "" : " with a write refused");
      Scene clean(*built, refused);
      const Before before(shape, testing_support::PictureOf(kEveryRoot));
      const std::size_t first = platform::fake::RegistryCallCount();
      clean.Run(operation, shape);
      const std::vector<std::string_view> log = platform::fake::RegistryCallLog();
      const std::vector<std::string_view> calls(log.begin() + static_cast<std::ptrdiff_t>(first),
                                                log.end());
      std::size_t turn = 0;
      for (std::size_t n : CallsToFail(calls, large)) {
        std::vector<LSTATUS> failures = Failures(calls[n - 1]);
        if (large) {  // one failure a call, taking turns
          failures = {failures[turn++ % failures.size()]};
        }
        for (LSTATUS failure : failures) {
          const std::string what = name + ", call " + std::to_string(n) + " (" +
                                   std::string(calls[n - 1]) + ") fails with " +
                                   std::to_string(failure);
          Scene scene(*built, refused);
          FailRegistryCall(n, failure);
          const Boolean result = scene.Run(operation, shape);
          FailRegistryCall(0, ERROR_SUCCESS);
          ASSERT_NO_FATAL_FAILURE(Check(operation, before, result, what));
          scene.CheckObject(what);
          if (HasFailure()) {
            return;
          }
        }
      }
    }
  }
}

TEST(RegistryInjection, AnAllocationThatFailsPassesOnAndTouchesNothingElse) {
  std::vector<Shape> shapes = testing_support::TreeShapes(kBase, "FenwarelElsewhere", false);
  for (Shape& shape : testing_support::LinkShapes(kBase)) {
    shapes.push_back(std::move(shape));
  }
  for (const Shape& shape : shapes) {
    platform::fake::ResetRegistry();
    testing_support::Build(shape);
    const auto built = platform::fake::SaveRegistry();
    for (Operation operation : {Operation::Copy, Operation::Delete}) {
      bool threw = true;
      for (std::size_t n = 1; threw; ++n) {
        const std::string what = shape.name + ", allocation " + std::to_string(n) + " fails";
        Scene scene(*built);
        const Before before(shape, testing_support::PictureOf(kEveryRoot));
        Boolean result = kFalse;
        allocationsUntilFailure = n;
        try {
          result = scene.Run(operation, shape);
          threw = false;
        } catch (const std::bad_alloc&) {
          threw = true;
        }
        allocationsUntilFailure = 0;
        ASSERT_NO_FATAL_FAILURE(Check(operation, before, result, what));
        scene.CheckObject(what);
        if (HasFailure()) {
          return;
        }
      }
    }
  }
}

}  // namespace

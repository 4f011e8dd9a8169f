// The tree delete: a key with everything below it, each key deleted through
// its own handle, no link followed.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"
#include "registry/registry_tree.h"

namespace registry {

// What became of a key that the delete walked.
enum class Registry::Removal : int {
  Gone,
  Kept,   // a name the ANSI calls cannot take lies below it: left on purpose
  Stuck,  // a key that could not be opened or deleted: the walk ends
};

Boolean Registry::DeleteTree(std::string_view RootName, std::string_view DelName) {
  if (DelName.empty()) {
    return kFalse;  // that would be the contents of a whole root
  }
  const RestoredRoot restored(root_);
  ParseRootName(RootName);
  const std::string path(DelName);
  // The caller's own name is resolved as Windows resolves it. A key without
  // subkeys takes a single call.
  const LSTATUS first = RegDeleteKeyA(root_, path.c_str());
  if (first == ERROR_SUCCESS) {
    return kTrue;
  }
  HKEY opened = nullptr;
  if (first == ERROR_FILE_NOT_FOUND || RegOpenKeyA(root_, path.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  Removal removal = Removal::Stuck;
  {
    const BranchKey key(root_, opened);
    removal = DeleteBranch(key.get());
  }
  // Another party may have deleted it meanwhile: gone is gone.
  HKEY still = nullptr;
  if (removal != Removal::Gone &&
      RegOpenKeyA(root_, path.c_str(), &still) == ERROR_FILE_NOT_FOUND) {
    removal = Removal::Gone;
  }
  const BranchKey left(root_, still);
  return removal == Removal::Gone ? kTrue : kFalse;
}

Registry::Removal Registry::DeleteBranch(HKEY key) {
  // Subkeys are deleted from the first on, each through the handle it was
  // opened by, a link as itself, never what it points to. One the code
  // page cannot spell, and a key kept for that reason, are left where they
  // are, and the walk goes on after them; one that cannot be opened or
  // deleted ends it. The walk keeps its keys here, off the machine stack.
  struct Level {
    platform::UniqueKey owned;  // none for the top, which the caller holds
    HKEY key = nullptr;
    DWORD left = 0;  // subkeys kept on purpose, listed first
  };
  std::vector<Level> levels;
  levels.push_back({platform::UniqueKey(), key, 0});
  std::array<WCHAR, kKeyNameCapacity> name{};
  bool stuck = false;
  while (true) {
    Level& level = levels.back();
    if (!stuck) {
      DWORD length = kKeyNameCapacity;
      const LSTATUS listed = RegEnumKeyExW(level.key, level.left, name.data(), &length, nullptr,
                                           nullptr, nullptr, nullptr);
      if (listed == ERROR_SUCCESS) {
        const std::optional<std::string> spelled = Spelled(name.data(), length);
        HKEY opened = nullptr;
        if (!spelled || spelled->size() >= kNameCapacity) {
          ++level.left;
        } else if (RegOpenKeyExA(level.key, spelled->c_str(), REG_OPTION_OPEN_LINK, kBelowDelete,
                                 &opened) != ERROR_SUCCESS) {
          stuck = true;
        } else if (platform::UniqueKey child(opened);
                   platform::DeleteOpenKey(opened) != ERROR_SUCCESS) {
          // Most keys of a tree have no subkeys: one call deleted those.
          levels.push_back({std::move(child), opened, 0});
        }
        continue;
      }
      stuck = listed != ERROR_NO_MORE_ITEMS;
    }
    Removal removal = Removal::Gone;
    if (platform::DeleteOpenKey(level.key) != ERROR_SUCCESS) {
      removal = stuck || level.left == 0 ? Removal::Stuck : Removal::Kept;
    }
    levels.pop_back();
    if (levels.empty()) {
      return removal;
    }
    if (removal == Removal::Kept) {
      ++levels.back().left;
    }
    stuck = removal == Removal::Stuck;
  }
}

}  // namespace registry

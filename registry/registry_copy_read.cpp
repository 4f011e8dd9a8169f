// The tree copy, and its first half: reading the whole source into a
// snapshot before anything is written.
#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"
#include "registry/registry_tree.h"

namespace registry {
namespace {

// The longest value name the registry holds, in characters, and its terminator.
constexpr DWORD kValueNameCapacity = 16384;
// A count the store could not tell: enumerate until it says there is no more.
constexpr DWORD kUntilTheEnd = 0xFFFFFFFF;
// How often one copy reads a key again because another party changed it
// while it was read; past that, such a key makes the copy kFalse.
constexpr int kRereads = 32;

// Named values of these types are copied; a key's default value of any type.
bool Copied(std::string_view name, DWORD type) {
  return name.empty() || type == REG_SZ || type == REG_BINARY || type == REG_DWORD ||
         type == REG_DWORD_BIG_ENDIAN;
}

// The value that makes a key a symbolic link.
bool IsLinkValue(const WCHAR* name, DWORD length, DWORD type) {
  constexpr std::string_view kLinkValue = "symboliclinkvalue";
  return type == REG_LINK && length == kLinkValue.size() &&
         std::equal(kLinkValue.begin(), kLinkValue.end(), name, [](char letter, WCHAR c) {
           return c < 0x80 && std::tolower(static_cast<unsigned char>(c)) == letter;
         });
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A text's data as the ANSI calls hand it out: converted from the UTF-16
// that the wide calls see, two bytes a unit, low byte first. `exact` turns
// false when the code page cannot spell the text, which then arrives with
// the best fit or "?" of each character it lacks.
std::vector<BYTE> AnsiData(const std::vector<BYTE>& wide, DWORD size, bool& exact) {
  std::wstring text(size / 2, L'\0');
  for (std::size_t unit = 0; unit < text.size(); ++unit) {
    text[unit] = static_cast<WCHAR>(wide[2 * unit] | (wide[2 * unit + 1] << 8));
  }
  exact = exact && size % 2 == 0;
  const std::string ansi = InCodePage(text, exact);
  return {ansi.begin(), ansi.end()};
}

// Buffers of a whole copy, grown to the longest value name and data met;
// never empty, since a call given no data buffer only measures.
struct ReadBuffers {
  std::vector<BYTE> data = std::vector<BYTE>(256);
  std::vector<WCHAR> name = std::vector<WCHAR>(256);
  void Fit(DWORD longestName, DWORD longestData) {
    name.resize(
        std::max<std::size_t>(name.size(), std::min(longestName, kValueNameCapacity - 1) + 1));
    data.resize(std::max<std::size_t>(data.size(), longestData));
  }
};

// What the store tells of a key as a whole. A key whose counts or time of
// last writing differ after it was read was changed meanwhile.
struct KeyState {
  bool known = false;
  DWORD subkeys = kUntilTheEnd;
  DWORD values = kUntilTheEnd;
  DWORD longestName = 0;
  DWORD longestData = 0;
  FILETIME written{};

  static KeyState Of(HKEY key) {
    KeyState state;
    state.known = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &state.subkeys, nullptr, nullptr,
                                   &state.values, &state.longestName, &state.longestData, nullptr,
                                   &state.written) == ERROR_SUCCESS;
    if (!state.known) {
      state = KeyState{};
    }
    return state;
  }
  [[nodiscard]] bool Same(const KeyState& later) const {
    return known && later.known && subkeys == later.subkeys && values == later.values &&
           written.dwLowDateTime == later.written.dwLowDateTime &&
           written.dwHighDateTime == later.written.dwHighDateTime;
  }
};

// What reading a key's values found.
struct ValuesRead {
  bool complete = true;  // each arrives as it is
  bool listed = false;   // every value was listed
  bool link = false;     // it holds a link's value
};

// Reads `count` values of `key` into `tree`. Not complete when one could
// not be read (any failure but the end, which ends the key's values) or
// will not arrive as it is: a name the code page cannot spell or that is
// longer than 255 bytes in it, and a named value of another type, are left
// out, and a number of more than four bytes arrives as its first four.
ValuesRead ReadValues(HKEY key, DWORD count, Snapshot& tree, ReadBuffers& buffers) {
  // Names and data come as the registry holds them, in one call for most
  // values; a text's data is then spelled as the ANSI calls spell it.
  ValuesRead read;
  for (DWORD index = 0; index < count; ++index) {
    DWORD nameLength = 0;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS status = ERROR_MORE_DATA;
    // Another party may have made a longer one since the key was measured.
    for (int attempt = 0; attempt < 3 && status == ERROR_MORE_DATA; ++attempt) {
      if (attempt > 0) {
        buffers.Fit(kValueNameCapacity, std::max<DWORD>(size, 2 * buffers.data.size()));
      }
      nameLength = static_cast<DWORD>(buffers.name.size());
      size = static_cast<DWORD>(buffers.data.size());
      status = RegEnumValueW(key, index, buffers.name.data(), &nameLength, nullptr, &type,
                             buffers.data.data(), &size);
    }
    if (status != ERROR_SUCCESS) {
      read.listed = status == ERROR_NO_MORE_ITEMS;
      read.complete = read.complete && read.listed;
      return read;
    }
    read.link = read.link || IsLinkValue(buffers.name.data(), nameLength, type);
    const std::optional<std::string> spelled = Spelled(buffers.name.data(), nameLength);
    if (!spelled || spelled->size() >= kNameCapacity || !Copied(*spelled, type)) {
      read.complete = false;
      continue;
    }
    if ((type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) && size > 4) {
      read.complete = false;
    }
    if (IsText(type)) {
      const std::vector<BYTE> text = AnsiData(buffers.data, size, read.complete);
      tree.Value(*spelled, type, text.data(), text.size());
    } else {
      tree.Value(*spelled, type, buffers.data.data(), size);
    }
  }
  read.listed = true;
  return read;
}

// A key of the source being read: the walk keeps its state here, off the
// machine stack, so that any depth can be read.
struct Level {
  platform::UniqueKey owned;  // none for the top, which the caller holds
  HKEY key = nullptr;
  bool below = false;     // below the caller's SourceName
  Snapshot::Mark values;  // where its values begin, after its name
  KeyState state;         // as it was when its reading began
  DWORD index = 0;        // the next subkey
  bool complete = true;
};

// Reads, or reads again, the level's values from the start, dropping what
// an earlier reading added. False when it is, or may be, a symbolic link.
bool Begin(Level& level, Snapshot& tree, ReadBuffers& buffers) {
  tree.Back(level.values);
  level.index = 0;
  level.state = KeyState::Of(level.key);
  buffers.Fit(level.state.longestName, level.state.longestData);
  const ValuesRead read = ReadValues(level.key, level.state.values, tree, buffers);
  level.complete = read.complete;
  // Its values tell a link; where they could not all be listed, it is asked.
  return !(read.link || (level.below && !read.listed && MayBeLink(level.key)));
}

// Reads the open `top` into `tree` after its name, at `start`: its values,
// then each subkey, opened once by the name it was listed under, at every
// depth. A subkey that is, or may be, a symbolic link is neither followed
// nor copied. With `rereads`, each key is asked again once it is read, and
// read again if another party changed it meanwhile, while rereads last.
// False when something could not be read or was left out, or a key kept
// changing.
bool ReadLevels(HKEY top, Snapshot::Mark start, Snapshot& tree, ReadBuffers& buffers,
                int* rereads) {
  std::vector<Level> levels;
  levels.push_back({platform::UniqueKey(), top, false, start, {}, 0, true});
  Begin(levels.back(), tree, buffers);
  std::array<WCHAR, kKeyNameCapacity> name{};
  while (true) {
    Level& level = levels.back();
    DWORD length = kKeyNameCapacity;
    // The count spares the failing call that would end each enumeration;
    // one that changed meanwhile shows at the end.
    const LSTATUS status = level.index < level.state.subkeys
                               ? RegEnumKeyExW(level.key, level.index, name.data(), &length,
                                               nullptr, nullptr, nullptr, nullptr)
                               : ERROR_NO_MORE_ITEMS;
    if (status == ERROR_SUCCESS) {
      ++level.index;
      const std::optional<std::string> spelled = Spelled(name.data(), length);
      HKEY opened = nullptr;
      // Opened as a link where it is one, so that the walk never leaves the
      // tree. A name that the ANSI calls cannot take is left out with its
      // branch; the others go on.
      if (!spelled || spelled->size() >= kNameCapacity ||
          RegOpenKeyExA(level.key, spelled->c_str(), REG_OPTION_OPEN_LINK, kBelowRead, &opened) !=
              ERROR_SUCCESS) {
        level.complete = false;
        continue;
      }
      const Snapshot::Mark before = tree.Here();
      tree.Key(*spelled);
      Level child{platform::UniqueKey(opened), opened, true, tree.Here(), {}, 0, true};
      if (!Begin(child, tree, buffers)) {
        tree.Back(before);
        level.complete = false;
        continue;
      }
      levels.push_back(std::move(child));
      continue;
    }
    bool settled = true;
    if (rereads != nullptr) {
      const KeyState now = KeyState::Of(level.key);
      settled = level.state.Same(now);
      if (!settled && now.known && *rereads > 0) {
        --*rereads;
        if (!Begin(level, tree, buffers)) {
          level.complete = false;  // no link can take the place of a key held open
        }
        continue;
      }
    }
    tree.End();
    const bool complete = level.complete && status == ERROR_NO_MORE_ITEMS && settled;
    levels.pop_back();
    if (levels.empty()) {
      return complete;
    }
    levels.back().complete = levels.back().complete && complete;
  }
}

// Reads the source tree below the open `top` into `tree`. Another party may
// change it meanwhile: where the store can watch the tree, a change anywhere
// has the whole tree read again; elsewhere each key is asked for its counts
// and time of last writing before and after it is read; so too below a
// whole root (`ownHandle` false), whose handle outlives the copy and would
// keep each watch. Either way a source that keeps changing makes the copy
// kFalse.
bool ReadTree(HKEY top, bool ownHandle, Snapshot& tree, ReadBuffers& buffers) {
  int rereads = kRereads;
  tree.Key("");
  const Snapshot::Mark start = tree.Here();
  platform::TreeWatch watch;
  while (true) {
    const bool watched = ownHandle && platform::WatchTree(top, watch) == ERROR_SUCCESS;
    const bool complete = ReadLevels(top, start, tree, buffers, watched ? nullptr : &rereads);
    if (!watched || !watch.Changed()) {
      return complete;
    }
    if (rereads-- == 0) {
      return false;
    }
  }
}

}  // namespace

Boolean Registry::CopyTree(std::string_view SourceRoot, std::string_view SourceName,
                           std::string_view TargetRoot, std::string_view TargetName) {
  const RestoredRoot restored(root_);
  ParseRootName(SourceRoot);
  const HKEY sourceRoot = root_;
  ParseRootName(TargetRoot);  // the target root stays in force during the copy
  const std::string source(SourceName);
  HKEY opened = nullptr;
  // The caller's own names are resolved as Windows resolves them, through
  // links too; below them, nothing is.
  if (RegOpenKeyA(sourceRoot, source.c_str(), &opened) != ERROR_SUCCESS) {
    return kFalse;
  }
  Snapshot tree;
  bool complete = false;
  {
    const BranchKey sourceKey(sourceRoot, opened);
    ReadBuffers buffers;
    complete = ReadTree(sourceKey.get(), opened != sourceRoot, tree, buffers);
  }
  // Nothing is written before the whole source has been read.
  complete = CopyBranch(std::string(TargetName), tree) == kTrue && complete;
  return complete ? kTrue : kFalse;
}

}  // namespace registry

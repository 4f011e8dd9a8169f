// Copying and deleting whole key trees, members of Registry.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

namespace registry {
namespace {

// Names of values and subkeys up to 255 bytes in the code page; a longer one is left out.
constexpr DWORD kNameCapacity = 256;
// The longest value name the registry holds, in characters, and its
// terminator; and room for any key name (Wine takes 256 characters).
constexpr DWORD kValueNameCapacity = 16384;
constexpr DWORD kKeyNameCapacity = 512;
// A count the store could not tell: enumerate until it says there is no more.
constexpr DWORD kUntilTheEnd = 0xFFFFFFFF;
// How often one copy reads a key again because another party changed it
// while it was read; past that, such a key makes the copy kFalse.
constexpr int kRereads = 32;
// Access for a key below the caller's names: opened by the name it was
// listed under, never redirected by WoW64 to a child called Wow6432Node.
constexpr REGSAM kBelowRead = KEY_READ | KEY_WOW64_64KEY;
constexpr REGSAM kBelowDelete = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE | KEY_WOW64_64KEY;

// An opened key, closed at the end of its level. RegOpenKeyA hands back the
// parent itself for an empty path; that one belongs to the level above.
class BranchKey {
 public:
  BranchKey(HKEY parent, HKEY key) : key_(key == parent ? nullptr : key), raw_(key) {}
  [[nodiscard]] HKEY get() const { return raw_; }

 private:
  platform::UniqueKey key_;
  HKEY raw_;
};

// Named values of these types are copied; a key's default value of any type.
bool Copied(std::string_view name, DWORD type) {
  return name.empty() || type == REG_SZ || type == REG_BINARY || type == REG_DWORD ||
         type == REG_DWORD_BIG_ENDIAN;
}

}  // namespace

// The source tree as the copy read it, depth first: a key's name, its
// copied values, its subkeys, then its end. Kept in blocks that never move,
// so that a copy holds little beyond the names and data themselves.
class Snapshot {
 public:
  enum class Kind : BYTE { Key, Value, End };
  struct Record {
    Kind kind = Kind::End;
    std::string_view name;  // followed by a zero in the snapshot
    DWORD type = REG_NONE;
    const BYTE* data = nullptr;
    DWORD size = 0;
  };
  // A place to come back to, dropping what was added after it.
  struct Mark {
    std::size_t blocks = 0;
    std::size_t used = 0;
  };

  [[nodiscard]] Mark Here() const {
    return {blocks_.size(), blocks_.empty() ? 0 : blocks_.back().used};
  }
  void Back(Mark mark) {
    blocks_.resize(mark.blocks);
    if (!blocks_.empty()) {
      blocks_.back().used = mark.used;
    }
  }
  void Key(std::string_view name) { Add(Kind::Key, name, REG_NONE, nullptr, 0); }
  void Value(std::string_view name, DWORD type, const BYTE* data, std::size_t size) {
    Add(Kind::Value, name, type, data, size);
  }
  void End() { Add(Kind::End, {}, REG_NONE, nullptr, 0); }

  // Calls `visit` with each record in order.
  template <class Visit>
  void ForEach(Visit visit) const {
    for (const Block& block : blocks_) {
      for (std::size_t at = 0; at < block.used;) {
        Record record;
        const BYTE* bytes = block.bytes.get() + at;
        record.kind = static_cast<Kind>(bytes[0]);
        std::size_t length = 1;
        if (record.kind != Kind::End) {
          DWORD nameSize = 0;
          std::memcpy(&nameSize, bytes + 1, sizeof(DWORD));
          std::memcpy(&record.type, bytes + 5, sizeof(DWORD));
          std::memcpy(&record.size, bytes + 9, sizeof(DWORD));
          record.name = {reinterpret_cast<const char*>(bytes + kHeader), nameSize};
          record.data = bytes + kHeader + nameSize + 1;
          length = kHeader + nameSize + 1 + record.size;
        }
        at += length;
        visit(record);
      }
    }
  }

 private:
  // Kind, name size, type and data size ahead of the name, its zero and the data.
  static constexpr std::size_t kHeader = 13;
  static constexpr std::size_t kBlockSize = 8192;
  struct Block {
    std::unique_ptr<BYTE[]> bytes;
    std::size_t used = 0;
    std::size_t capacity = 0;
  };

  void Add(Kind kind, std::string_view name, DWORD type, const BYTE* data, std::size_t size) {
    const std::size_t length = kind == Kind::End ? 1 : kHeader + name.size() + 1 + size;
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < length) {
      const std::size_t capacity = std::max(kBlockSize, length);
      // NOLINTNEXTLINE(cppcoreguidelines-avoid-c-arrays,modernize-avoid-c-arrays)
      blocks_.push_back({std::make_unique_for_overwrite<BYTE[]>(capacity), 0, capacity});
    }
    Block& block = blocks_.back();
    BYTE* bytes = block.bytes.get() + block.used;
    bytes[0] = static_cast<BYTE>(kind);
    if (kind != Kind::End) {
      const auto nameSize = static_cast<DWORD>(name.size());
      const auto dataSize = static_cast<DWORD>(size);
      std::memcpy(bytes + 1, &nameSize, sizeof(DWORD));
      std::memcpy(bytes + 5, &type, sizeof(DWORD));
      std::memcpy(bytes + 9, &dataSize, sizeof(DWORD));
      std::memcpy(bytes + kHeader, name.data(), name.size());
      bytes[kHeader + name.size()] = 0;
      if (size != 0) {
        std::memcpy(bytes + kHeader + name.size() + 1, data, size);
      }
    }
    block.used += length;
  }

  std::vector<Block> blocks_;
};

namespace {

// `text` in the ANSI code page, as the ANSI calls spell it; `exact` turns
// false unless it widens back to itself.
std::string InCodePage(std::wstring_view text, bool& exact) {
  const auto length = static_cast<int>(text.size());
  std::string ansi(
      static_cast<std::size_t>(length == 0 ? 0
                                           : WideCharToMultiByte(CP_ACP, 0, text.data(), length,
                                                                 nullptr, 0, nullptr, nullptr)),
      '\0');
  std::wstring back(text.size(), L'\0');
  if (!ansi.empty()) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), static_cast<int>(ansi.size()),
                        nullptr, nullptr);
    back.resize(static_cast<std::size_t>(MultiByteToWideChar(
        CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), back.data(), length)));
  }
  exact = exact && back == text;
  return ansi;
}

// The ANSI spelling of a name as the registry holds it, when the code page
// spells it exactly: one that it cannot (a character it lacks becomes "?"
// or a best fit, "ā" becoming "a"; a zero) would name another key or value,
// or none.
std::optional<std::string> Spelled(const WCHAR* name, DWORD length) {
  const std::wstring_view text(name, length);
  // A zero inside a name, which the native calls allow, would end it early.
  if (text.find(WCHAR{0}) != std::wstring_view::npos) {
    return std::nullopt;
  }
  bool exact = true;
  std::string ansi = InCodePage(text, exact);
  return exact ? std::optional(std::move(ansi)) : std::nullopt;
}

// The value that makes a key a symbolic link.
bool IsLinkValue(const WCHAR* name, DWORD length, DWORD type) {
  constexpr std::string_view kLinkValue = "symboliclinkvalue";
  return type == REG_LINK && length == kLinkValue.size() &&
         std::equal(kLinkValue.begin(), kLinkValue.end(), name, [](char letter, WCHAR c) {
           return c < 0x80 && std::tolower(static_cast<unsigned char>(c)) == letter;
         });
}

// Whether an open key is, or may be, a symbolic link: only a key whose
// SymbolicLinkValue is surely missing, or no link's, is not.
bool MayBeLink(HKEY key) {
  DWORD type = REG_NONE;
  const LSTATUS status =
      RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
  return status != ERROR_FILE_NOT_FOUND && !(status == ERROR_SUCCESS && type != REG_LINK);
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

using Record = Snapshot::Record;

LSTATUS WriteValue(HKEY target, const Record& value) {
  const char* name = value.name.data();
  const BYTE* data = value.data;
  const DWORD size = value.size;
  if (value.name.empty() && value.type == REG_SZ) {
    // The default value, written through the key-default call as text.
    const std::string text(data, std::find(data, data + size, BYTE{0}));
    return RegSetValueA(target, "", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  switch (value.type) {
    case REG_SZ: {
      if (size == 0) {
        return RegSetValueExA(target, name, 0, REG_SZ, nullptr, 0);
      }
      std::vector<BYTE> text(data, data + size);
      text.push_back(0);  // one more terminator, for a text stored without one
      return RegSetValueExA(target, name, 0, REG_SZ, text.data(), size + 1);
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      // At most four bytes make the number; a longer value gives its first
      // four. A default value of these types is written as it is, too.
      return RegSetValueExA(target, name, 0, value.type, size == 0 ? nullptr : data,
                            std::min<DWORD>(size, 4));
    default: {
      // Binary, and a default value of any other type with its own type and
      // bytes: as text it would arrive garbled. The store looks at the byte
      // after a text: a zero there would lengthen one stored without its end.
      std::vector<BYTE> padded(data, data + size);
      padded.push_back(0xFF);
      return RegSetValueExA(target, name, 0, value.type, padded.data(), size);
    }
  }
}

// What a value of the target was before the copy, read and given back
// through the wide calls, so that a text the code page cannot spell comes
// back as it was. Only "not found" means it was absent: any other failure
// leaves its state unknown.
struct EarlierValue {
  LSTATUS status = ERROR_SUCCESS;
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

EarlierValue Earlier(HKEY target, std::string_view name) {
  EarlierValue earlier{ERROR_SUCCESS, std::wstring(name.size(), L'\0'), REG_NONE,
                       std::vector<BYTE>(256)};
  // The name is spelt exactly, so it widens back to itself.
  earlier.name.resize(static_cast<std::size_t>(
      name.empty() ? 0
                   : MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                         earlier.name.data(), static_cast<int>(name.size()))));
  auto size = static_cast<DWORD>(earlier.data.size());
  earlier.status = RegQueryValueExW(target, earlier.name.c_str(), nullptr, &earlier.type,
                                    earlier.data.data(), &size);
  if (earlier.status == ERROR_MORE_DATA) {
    earlier.data.resize(size);
    earlier.status = RegQueryValueExW(target, earlier.name.c_str(), nullptr, &earlier.type,
                                      earlier.data.data(), &size);
  }
  earlier.data.resize(earlier.status == ERROR_SUCCESS ? size : 0);
  return earlier;
}

// Writes `values` into `target`, but none whose earlier state could not be
// read: it could not be given back. When one cannot be written, those
// written before it get back what they were (`existing`: whether the key
// was there before; a new key had none). False when not all were written.
bool WriteValues(HKEY target, const std::vector<Record>& values, bool existing) {
  // Only a key that was there before the copy needs its earlier values
  // kept, for the case a write fails.
  std::vector<EarlierValue> earlier;
  bool complete = true;
  if (existing) {
    earlier.reserve(values.size());
    for (const Record& value : values) {
      earlier.push_back(Earlier(target, value.name));
      const LSTATUS status = earlier.back().status;
      complete = complete && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
    }
  }
  auto known = [&](std::size_t index) {
    return !existing || earlier[index].status == ERROR_SUCCESS ||
           earlier[index].status == ERROR_FILE_NOT_FOUND;
  };
  for (std::size_t written = 0; written < values.size(); ++written) {
    if (!known(written) || WriteValue(target, values[written]) == ERROR_SUCCESS) {
      continue;
    }
    for (std::size_t undo = 0; undo < written; ++undo) {
      if (!known(undo)) {
        continue;  // never written
      }
      if (existing && earlier[undo].status == ERROR_SUCCESS) {
        const EarlierValue& before = earlier[undo];
        // The store looks at the character after a text: a zero there would
        // lengthen one stored without its end.
        std::vector<BYTE> padded(before.data);
        padded.insert(padded.end(), {0xFF, 0xFF});
        RegSetValueExW(target, before.name.c_str(), 0, before.type, padded.data(),
                       static_cast<DWORD>(before.data.size()));
      } else {
        RegDeleteValueA(target, values[undo].name.data());
      }
    }
    return false;
  }
  return complete;
}

// Puts the object's root back however a tree operation ends.
class RestoredRoot {
 public:
  explicit RestoredRoot(HKEY& root) : root_(root), saved_(root) {}
  RestoredRoot(const RestoredRoot&) = delete;
  RestoredRoot& operator=(const RestoredRoot&) = delete;
  ~RestoredRoot() { root_ = saved_; }

 private:
  HKEY& root_;
  HKEY saved_;
};

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

namespace {

enum class Reached { Key, Failed, Link };

// Opens or makes the target key `names` below `from`, one name at a time,
// each opened as the link it may be: a link ends the walk, and nothing is
// made through it. Without `from`, the first name lies below `target`, the
// caller's TargetName below `root`, and no names mean that key itself.
Reached TargetKey(HKEY root, const std::string& target, HKEY from,
                  const std::vector<std::string>& names, platform::UniqueKey& key, bool& existing) {
  HKEY made = nullptr;
  DWORD disposition = 0;
  if (from == nullptr && names.empty()) {
    if (RegCreateKeyExA(root, target.c_str(), 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr, &made,
                        &disposition) != ERROR_SUCCESS) {
      return Reached::Failed;
    }
    key.reset(made);
    existing = disposition != REG_CREATED_NEW_KEY;
    return Reached::Key;
  }
  platform::UniqueKey reached;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool fromRoot = i == 0 && from == nullptr;
    const std::string path = fromRoot ? target + "\\" + names[i] : names[i];
    const HKEY parent = i != 0 ? reached.get() : fromRoot ? root : from;
    // Below a key in hand, a name is the key of that name, in no other view.
    const REGSAM access = fromRoot ? MAXIMUM_ALLOWED : MAXIMUM_ALLOWED | KEY_WOW64_64KEY;
    if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_OPEN_LINK, access, nullptr,
                        &made, &disposition) != ERROR_SUCCESS) {
      return Reached::Failed;
    }
    reached.reset(made);
    existing = disposition != REG_CREATED_NEW_KEY;
    if (existing && MayBeLink(made)) {
      return Reached::Link;
    }
  }
  key = std::move(reached);
  return Reached::Key;
}

// A key of the target being written, and how its subkeys reach theirs.
struct TargetLevel {
  platform::UniqueKey key;  // none where it could not be had
  HKEY from = nullptr;      // the nearest key above that was had
  std::vector<std::string> names;
  bool existing = false;
  bool byHandle = false;  // its subkeys are made below its own handle
  bool skipped = false;   // a link of the target: nothing is written below it
};

}  // namespace

Boolean Registry::CopyBranch(const std::string& target, const Snapshot& tree) {
  bool complete = true;
  std::vector<TargetLevel> levels;
  std::vector<Record> values;
  // A key's values follow its name; they are written before its first subkey.
  auto writeValues = [&] {
    if (!values.empty() && !levels.empty() && levels.back().key) {
      complete = WriteValues(levels.back().key.get(), values, levels.back().existing) && complete;
    }
    values.clear();
  };
  tree.ForEach([&](const Record& record) {
    if (record.kind == Snapshot::Kind::Value) {
      values.push_back(record);
      return;
    }
    writeValues();
    if (record.kind == Snapshot::Kind::End) {
      levels.pop_back();
      return;
    }
    TargetLevel level;
    const bool top = levels.empty();
    if (!top) {
      // Subkeys are tried also when the target could not be had: theirs may
      // be. Each is made below its parent's key, which spares the store
      // walking the whole path again. Without that key, the walk starts
      // again from the nearest key above that was had.
      const TargetLevel& parent = levels.back();
      level.skipped = parent.skipped;
      level.from = parent.byHandle ? parent.key.get() : parent.from;
      if (!parent.byHandle) {
        level.names = parent.names;
      }
      level.names.emplace_back(record.name);
    }
    if (!level.skipped) {
      switch (TargetKey(root_, target, level.from, level.names, level.key, level.existing)) {
        case Reached::Key:
          break;
        case Reached::Failed:
          complete = false;
          break;
        case Reached::Link:
          level.skipped = true;  // nothing is written through it, nor below what it points to
          complete = false;
          break;
      }
    }
    // Below an empty TargetName or one that ends in "\", a subkey's path is
    // TargetName, "\" and its name, and the store decides: never a path that
    // does not lie below the target.
    level.byHandle = level.key && !(top && (target.empty() || target.back() == '\\'));
    levels.push_back(std::move(level));
  });
  return complete ? kTrue : kFalse;
}

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

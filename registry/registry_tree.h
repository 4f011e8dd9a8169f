// Shared by the tree copy and the tree delete, within the registry library
// only: the copy's snapshot, keys held for one level of a walk, names spelt
// in the code page and the test for a symbolic link.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_key.h"
#include "platform/win32_api.h"

namespace registry {

// Names of values and subkeys up to 255 bytes in the code page; a longer one is left out.
inline constexpr DWORD kNameCapacity = 256;
// Room for any key name, and its terminator (Wine takes 256 characters).
inline constexpr DWORD kKeyNameCapacity = 512;
// Access for a key below the caller's names: opened by the name it was
// listed under, never redirected by WoW64 to a child called Wow6432Node.
inline constexpr REGSAM kBelowRead = KEY_READ | KEY_WOW64_64KEY;
inline constexpr REGSAM kBelowDelete =
    KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE | KEY_WOW64_64KEY;

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

// `text` in the ANSI code page, as the ANSI calls spell it; `exact` turns
// false unless it widens back to itself.
inline std::string InCodePage(std::wstring_view text, bool& exact) {
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
inline std::optional<std::string> Spelled(const WCHAR* name, DWORD length) {
  const std::wstring_view text(name, length);
  // A zero inside a name, which the native calls allow, would end it early.
  if (text.find(WCHAR{0}) != std::wstring_view::npos) {
    return std::nullopt;
  }
  bool exact = true;
  std::string ansi = InCodePage(text, exact);
  return exact ? std::optional(std::move(ansi)) : std::nullopt;
}

// Whether an open key is, or may be, a symbolic link: only a key whose
// SymbolicLinkValue is surely missing, or no link's, is not.
inline bool MayBeLink(HKEY key) {
  DWORD type = REG_NONE;
  const LSTATUS status =
      RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
  return status != ERROR_FILE_NOT_FOUND && !(status == ERROR_SUCCESS && type != REG_LINK);
}

}  // namespace registry

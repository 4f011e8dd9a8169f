// Trees to copy and delete, and what a copy or a delete may and may not
// have done to the whole registry: one generator of shapes, one picture of
// the store, one checker, for the substitute and the real registry alike.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32_api.h"
#include "registry/registry.h"
#include "scratch_key.h"

namespace testing_support {

struct ShapeValue {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// A key to make before the operation: its path below the root (names in
// UTF-8), volatile or not, or a symbolic link to `linkTo`, another path
// below the root.
struct ShapeKey {
  std::string path;
  std::vector<ShapeValue> values;
  bool isVolatile = false;
  std::string linkTo{};
};

struct Shape {
  std::string name;
  std::vector<ShapeKey> keys;  // made in this order
  std::string source;          // below HKCU, as the caller writes it
  std::string target;
};

inline ShapeValue Dword(const std::string& name, BYTE low) {
  return {name, REG_DWORD, {low, 0, 0, 0}};
}

// The shapes, below `base`, a key of the test's own. Names of other keys
// below the root (`elsewhere`) are the ones a copy must never reach.
inline std::vector<Shape> TreeShapes(const std::string& base, const std::string& elsewhere,
                                     bool large) {
  const std::string src = base + "\\src";
  const std::string dst = base + "\\dst";
  const std::string longName(255, 'n');
  std::vector<Shape> shapes;
  // Every type, default values of several types, the empty and the longest names.
  shapes.push_back({"types",
                    {{src,
                      {{"", REG_SZ, BytesOf(std::string("top", 4))},
                       {"Text", REG_SZ, BytesOf(std::string("abc", 4))},
                       {"Unended", REG_SZ, BytesOf("xyz")},
                       {"Empty", REG_SZ, {}},
                       {"Binary", REG_BINARY, {0, 1, 0xFF}},
                       {"NoBytes", REG_BINARY, {}},
                       Dword("Number", 7),
                       {"BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
                       {"Long", REG_DWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
                       {"Expand", REG_EXPAND_SZ, BytesOf(std::string("%TEMP%", 7))},
                       {"Multi", REG_MULTI_SZ, BytesOf(std::string("a\0b\0", 5))},
                       {"None", REG_NONE, {1}},
                       {"Quad", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
                       {longName, REG_SZ, BytesOf(std::string("long", 5))}}},
                     {src + "\\" + longName, {{"", REG_DWORD, {0xC0, 0, 0, 0}}}},
                     {src + "\\a", {{"", REG_BINARY, {1, 2}}, Dword("v", 1)}},
                     {src + "\\a\\b", {{"", REG_EXPAND_SZ, BytesOf(std::string("%X%", 4))}}},
                     {src + "\\c", {{"", REG_SZ, BytesOf(std::string("c", 2))}}}},
                    src,
                    dst});
  // A target that exists, with values of the same names and others, and subkeys.
  shapes.push_back({"existing",
                    {{src, {Dword("same", 1), Dword("new", 2)}},
                     {src + "\\sub", {Dword("same", 3)}},
                     {dst, {Dword("same", 9), Dword("own", 9)}},
                     {dst + "\\sub", {Dword("own", 9)}},
                     {dst + "\\kept", {Dword("own", 9)}}},
                    src,
                    dst});
  // A target inside the source, spelt otherwise.
  shapes.push_back({"inside",
                    {{src, {Dword("v", 1)}}, {src + "\\sub", {Dword("w", 2)}}},
                    src + "\\",
                    base + "\\SRC\\\\sub\\copy"});
  // Keys of the same relative names elsewhere in the root: where a copy that
  // lost its target path would write.
  shapes.push_back({"elsewhere",
                    {{src + "\\" + elsewhere + "\\Other", {Dword("Setting", 1)}},
                     {src + "\\sub", {Dword("Setting", 1)}},
                     {elsewhere + "\\Other", {Dword("Setting", 9)}},
                     {base + "\\" + elsewhere + "\\Other", {Dword("Setting", 9)}}},
                    src,
                    dst});
  if (large) {
    Shape deep{"deep", {}, src, dst};
    std::string path = src;
    for (int level = 0; level < 100; ++level) {
      deep.keys.push_back({path, {Dword("level", static_cast<BYTE>(level))}});
      path += "\\k";
    }
    shapes.push_back(std::move(deep));
    Shape wide{"wide", {{src, {Dword("top", 1)}}}, src, dst};
    for (int child = 0; child < 1000; ++child) {
      wide.keys.push_back({src + "\\c" + std::to_string(child), {Dword("v", 1)}});
    }
    shapes.push_back(std::move(wide));
  }
  return shapes;
}

// Links and names that the code page spells alike, below `base`, where a
// copy or a delete that followed a link or took one name for another would
// reach keys outside the source and the target, or merge two of them.
inline std::vector<Shape> LinkShapes(const std::string& base) {
  const std::string src = base + "\\src";
  const std::string dst = base + "\\dst";
  const std::string out = base + "\\outside";
  auto beside = [&](std::vector<ShapeKey> keys) {
    keys.insert(keys.begin(), {{out, {Dword("kept", 1)}}, {out + "\\sub", {Dword("kept", 2)}}});
    return keys;
  };
  std::vector<Shape> shapes;
  shapes.push_back({"a link in the target",
                    beside({{src + "\\L", {Dword("planted", 7)}},
                            {src + "\\L\\deeper", {Dword("planted", 8)}},
                            {dst + "\\L", {}, false, out}}),
                    src, dst});
  shapes.push_back({"a link in the source to a tree outside",
                    beside({{src, {Dword("v", 1)}},
                            {src + "\\a\\L", {}, false, out},
                            {src + "\\L", {}, false, out},
                            {src + "\\z", {Dword("w", 2)}}}),
                    src, dst});
  shapes.push_back({"a link to an ancestor",
                    beside({{src + "\\cyc", {Dword("v", 1)}}, {src + "\\cyc\\L", {}, false, src}}),
                    src, dst});
  // b and U+0180 (b with stroke), a and U+0101 (a with macron): code page
  // 1252 spells each pair alike.
  shapes.push_back({"names spelt alike",
                    {{src, {Dword("b", 10), Dword("\xC6\x80", 20)}},
                     {src + "\\a", {Dword("x", 1)}},
                     {src + "\\\xC4\x81", {Dword("x", 2)}}},
                    src,
                    dst});
  return shapes;
}

// Makes the shape's keys below HKCU, a name at a time (a whole path may be
// longer than the ANSI calls take); each value is stored exactly as given.
inline void Build(const Shape& shape) {
  for (const ShapeKey& key : shape.keys) {
    if (!key.linkTo.empty()) {
      ASSERT_NO_FATAL_FAILURE(MakeLink(key.path, key.linkTo));
      continue;
    }
    HKEY parent = HKEY_CURRENT_USER;
    std::string rest = key.path + "\\";
    for (std::size_t cut = rest.find('\\'); cut != std::string::npos; cut = rest.find('\\')) {
      const std::string name = rest.substr(0, cut);
      rest.erase(0, cut + 1);
      if (name.empty()) {
        continue;
      }
      HKEY child = nullptr;
      ASSERT_EQ(RegCreateKeyExW(parent, Wide(name).c_str(), 0, nullptr,
                                key.isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                MAXIMUM_ALLOWED | KEY_WOW64_64KEY, nullptr, &child, nullptr),
                ERROR_SUCCESS)
          << key.path;
      if (parent != HKEY_CURRENT_USER) {
        RegCloseKey(parent);
      }
      parent = child;
    }
    for (const ShapeValue& value : key.values) {
      std::vector<BYTE> data = value.data;
      data.push_back(0xFF);  // not a terminator the store could take for the text's
      const auto size = static_cast<DWORD>(value.data.size());
      // A name beyond ASCII goes through the wide call: numbers only.
      const bool ascii = std::all_of(value.name.begin(), value.name.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      EXPECT_EQ(ascii ? RegSetValueExA(parent, value.name.c_str(), 0, value.type, data.data(), size)
                      : RegSetValueExW(parent, Wide(value.name).c_str(), 0, value.type, data.data(),
                                       size),
                ERROR_SUCCESS);
    }
    RegCloseKey(parent);
  }
}

// Whether the ANSI code page spells `name` (UTF-8) exactly.
inline bool Spellable(const std::string& name) {
  const std::wstring wide = Wide(name);
  if (wide.empty()) {
    return true;
  }
  std::string ansi(wide.size() * 4, '\0');
  const int size =
      WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), ansi.data(),
                          static_cast<int>(ansi.size()), nullptr, nullptr);
  std::wstring back(wide.size(), L'\0');
  return size > 0 &&
         MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, back.data(),
                             static_cast<int>(back.size())) == static_cast<int>(wide.size()) &&
         back == wide;
}

inline std::string Folded(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

// A key's place: its root's short name and its path, letters folded, one
// backslash between names.
inline std::string Place(const std::string& root, const std::string& path) {
  std::string place = root;
  std::string name;
  for (char c : path + "\\") {
    if (c != '\\') {
      name += c;
    } else if (!name.empty()) {
      place += "\\" + Folded(std::exchange(name, std::string()));
    }
  }
  return place;
}

inline bool Within(const std::string& place, const std::string& top) {
  return place == top || place.rfind(top + "\\", 0) == 0;
}

// Every key of the roots as the store shows it, with its values by folded name.
using Values = std::map<std::string, StoredValue>;
using Picture = std::map<std::string, Values>;

// Buffers for names and data, made once for a whole picture.
struct PictureBuffers {
  std::vector<char> name = std::vector<char>(16384);
  std::vector<BYTE> data = std::vector<BYTE>(65536);
};

inline void Picture1(HKEY key, const std::string& place, Picture& picture,
                     PictureBuffers& buffers) {
  Values& values = picture[place];
  std::vector<wchar_t> wide(16384);
  for (DWORD index = 0;; ++index) {
    // The name as the registry holds it; the data as the ANSI calls give it.
    auto wideSize = static_cast<DWORD>(wide.size());
    auto nameSize = static_cast<DWORD>(buffers.name.size());
    auto dataSize = static_cast<DWORD>(buffers.data.size());
    DWORD type = REG_NONE;
    if (RegEnumValueW(key, index, wide.data(), &wideSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS ||
        RegEnumValueA(key, index, buffers.name.data(), &nameSize, nullptr, &type,
                      buffers.data.data(), &dataSize) != ERROR_SUCCESS) {
      break;
    }
    values[Folded(Utf8({wide.data(), wideSize}))] =
        StoredValue{type, {buffers.data.begin(), buffers.data.begin() + dataSize}};
  }
  for (DWORD index = 0;; ++index) {
    auto wideSize = static_cast<DWORD>(wide.size());
    if (RegEnumKeyExW(key, index, wide.data(), &wideSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    const std::wstring name(wide.data(), wideSize);
    const std::string child = Place(place, Utf8(name));
    HKEY opened = nullptr;
    // A link is pictured as itself; what it points to has a place of its own.
    // A name with a zero inside cannot be handed to a call.
    if (name.find(L'\0') != std::wstring::npos ||
        RegOpenKeyExW(key, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY,
                      &opened) != ERROR_SUCCESS) {
      picture[child];  // there, but not to be read
      continue;
    }
    Picture1(opened, child, picture, buffers);
    RegCloseKey(opened);
  }
}

inline Picture PictureOf(const std::vector<std::pair<HKEY, std::string>>& roots) {
  Picture picture;
  PictureBuffers buffers;
  for (const auto& [root, name] : roots) {
    Picture1(root, name, picture, buffers);
  }
  return picture;
}

// Whether a pictured key is a symbolic link: it holds its target's path.
inline bool IsLink(const Values& values) {
  auto link = values.find("symboliclinkvalue");
  return link != values.end() && link->second.type == REG_LINK;
}

// What the copy makes of a source value, as it defines it; `exact` turns
// false for one that is skipped (nullopt) or cut.
inline std::optional<StoredValue> Copied(const std::string& name, const StoredValue& value,
                                         bool& exact) {
  std::vector<BYTE> data = value.data;
  switch (value.type) {
    case REG_SZ:
      if (name.empty()) {  // the default value, through the text call
        data.erase(std::find(data.begin(), data.end(), BYTE{0}), data.end());
        data.push_back(0);
      } else if (!data.empty()) {
        data.push_back(0);
      }
      return StoredValue{REG_SZ, data};
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      exact = exact && data.size() <= 4;
      data.resize(std::min<std::size_t>(data.size(), 4));
      return StoredValue{value.type, data};
    case REG_BINARY:
      return value;
    default:
      exact = exact && name.empty();
      return name.empty() ? std::optional(value) : std::nullopt;
  }
}

// What the target region holds after a whole copy, from the picture taken before.
struct Expected {
  Picture keys;
  bool exact = true;
};

// Names the code page cannot spell are left out, but never arrive under
// another name: such a copy is not exact, and their places are allowed.
inline Expected ExpectedCopy(const Picture& before, const std::string& source,
                             const std::string& target) {
  Expected expected;
  for (const auto& [place, values] : before) {
    if (!Within(place, source)) {
      continue;
    }
    const std::string below = place.substr(source.size());
    expected.exact = expected.exact && Spellable(below);
    if (IsLink(values)) {
      expected.exact = false;
      continue;  // never copied, not even as an empty key
    }
    Values& copied = expected.keys[target + below];
    for (const auto& [name, value] : values) {
      expected.exact = expected.exact && Spellable(name);
      if (auto made = Copied(name, value, expected.exact)) {
        copied[name] = *made;
      }
    }
  }
  return expected;
}

// A copy to `target` (a place), whatever its result, left everything outside
// the target as it was, and inside it only old or copied data, in keys that
// were there or are the source's.
inline void CheckCopy(const Picture& before, const Picture& after, const Expected& expected,
                      const std::string& target, registry::Boolean result,
                      const std::string& what) {
  std::map<std::string, int> places;
  for (const auto& [place, values] : before) places[place] |= 1;
  for (const auto& [place, values] : after) places[place] |= 2;
  for (const auto& [place, seen] : places) {
    const Values none;
    const Values& was = (seen & 1) != 0 ? before.at(place) : none;
    const Values& is = (seen & 2) != 0 ? after.at(place) : none;
    if (!Within(place, target)) {
      ASSERT_TRUE(seen == 3 && was == is) << what << ": changed outside the target: " << place;
      continue;
    }
    auto copy = expected.keys.find(place);
    ASSERT_TRUE((seen & 2) != 0 || (seen & 1) == 0) << what << ": a key went: " << place;
    ASSERT_TRUE((seen & 1) != 0 || copy != expected.keys.end())
        << what << ": a key the source has not: " << place;
    for (const auto& [name, value] : is) {
      const bool old = was.contains(name) && was.at(name) == value;
      const bool copied = copy != expected.keys.end() && copy->second.contains(name) &&
                          copy->second.at(name) == value;
      ASSERT_TRUE(old || copied) << what << ": neither old nor copied: " << place << " " << name;
    }
    for (const auto& [name, value] : was) {
      ASSERT_TRUE(is.contains(name)) << what << ": a value went: " << place << " " << name;
    }
  }
  if (result != registry::kTrue) {
    return;
  }
  ASSERT_TRUE(expected.exact) << what << ": kTrue for a source that cannot arrive exactly";
  for (const auto& [place, values] : expected.keys) {
    ASSERT_TRUE(after.contains(place)) << what << ": kTrue without " << place;
    for (const auto& [name, value] : values) {
      ASSERT_TRUE(after.at(place).contains(name) && after.at(place).at(name) == value)
          << what << ": kTrue without " << place << " " << name;
    }
  }
}

// A delete of `top` (a place) took keys below it only, and said kTrue
// exactly when the key itself went. What remains hangs below it as before,
// since the picture reaches only what hangs below a root; what a link below
// it points to, outside, stays.
inline void CheckDelete(const Picture& before, const Picture& after, const std::string& top,
                        registry::Boolean result, const std::string& what) {
  for (const auto& [place, values] : after) {
    ASSERT_TRUE(before.contains(place) && before.at(place) == values)
        << what << ": changed: " << place;
  }
  for (const auto& [place, values] : before) {
    ASSERT_TRUE(after.contains(place) || Within(place, top)) << what << ": went: " << place;
  }
  ASSERT_EQ(result == registry::kTrue, !after.contains(top)) << what;
}

}  // namespace testing_support

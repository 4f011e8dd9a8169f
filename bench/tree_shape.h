// The trees the tree benchmarks copy and delete: `keys` keys, four levels
// below the top, five values of mixed types in each, built with the
// registry's own calls.
#pragma once

#include <string>

#include "platform/win32_api.h"

namespace bench {

inline void AddValues(HKEY key, int n) {
  std::string text = "value text " + std::to_string(n);
  DWORD number = static_cast<DWORD>(n);
  BYTE bytes[16];
  for (int i = 0; i < 16; ++i) {
    bytes[i] = static_cast<BYTE>(n + i);
  }
  RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  RegSetValueExA(key, "Binary", 0, REG_BINARY, bytes, sizeof(bytes));
  RegSetValueExA(key, "BigEndian", 0, REG_DWORD_BIG_ENDIAN, reinterpret_cast<const BYTE*>(&number),
                 4);
  RegSetValueA(key, "", REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// Keys below `parent`, `branching` per level and four levels deep, until `left` runs out.
inline void Grow(HKEY parent, int depth, int branching, int& left) {
  for (int i = 0; i < branching && left > 0; ++i) {
    HKEY child = nullptr;
    RegCreateKeyA(parent, ("key" + std::to_string(i)).c_str(), &child);
    AddValues(child, left--);
    if (depth < 4) {
      Grow(child, depth + 1, branching, left);
    }
    RegCloseKey(child);
  }
}

inline void Build(const std::string& path, int keys) {
  HKEY root = nullptr;
  RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &root);
  int branching = 2;
  while (branching + branching * branching + branching * branching * branching +
             branching * branching * branching * branching <
         keys) {
    ++branching;
  }
  int left = keys - 1;
  AddValues(root, 0);
  Grow(root, 1, branching, left);
  RegCloseKey(root);
}

}  // namespace bench

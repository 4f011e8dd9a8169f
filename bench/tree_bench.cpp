// The registry object's CopyTree and DeleteTree against the platform's own
// RegCopyTreeA and RegDeleteTreeA, on the same trees in one run: trees of
// 1,000 and 10,000 keys, depth 4, five values of mixed types per key.
// Prints the medians, the ratios and how each grows from 1,000 to 10,000 keys.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "registry/registry.h"

#include "build_kind.h"

namespace {

constexpr const char* kBase = "Software\\FenwarelBench";

void AddValues(HKEY key, int n) {
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
void Grow(HKEY parent, int depth, int branching, int& left) {
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

void Build(const std::string& path, int keys) {
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

double Milliseconds(const std::function<void()>& work) {
  auto begin = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
      .count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

struct Result {
  double copy, platformCopy, remove, platformRemove;
};

Result Measure(int keys, int rounds) {
  const std::string base = kBase;
  const std::string source = base + "\\Source";
  RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
  Build(source, keys);
  std::vector<double> copy, platformCopy, remove, platformRemove;
  for (int round = 0; round < rounds; ++round) {
    registry::Registry reg;
    copy.push_back(Milliseconds([&] { reg.CopyTree("HKCU", source, "HKCU", base + "\\Ours"); }));
    platformCopy.push_back(Milliseconds([&] {
      HKEY from = nullptr;
      HKEY to = nullptr;
      RegOpenKeyA(HKEY_CURRENT_USER, source.c_str(), &from);
      RegCreateKeyA(HKEY_CURRENT_USER, (base + "\\Platform").c_str(), &to);
      RegCopyTreeA(from, nullptr, to);
      RegCloseKey(from);
      RegCloseKey(to);
    }));
    remove.push_back(Milliseconds([&] { reg.DeleteTree("HKCU", base + "\\Ours"); }));
    platformRemove.push_back(
        Milliseconds([&] { RegDeleteTreeA(HKEY_CURRENT_USER, (base + "\\Platform").c_str()); }));
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
  return {Median(copy), Median(platformCopy), Median(remove), Median(platformRemove)};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const bool quick = argc > 2 && std::string(argv[2]) == "quick";
  const Result small = Measure(quick ? 100 : 1000, rounds);
  PrintBuildKind();
  std::printf("rounds: %d (medians)\n", rounds);
  std::printf("%-8s %10s %12s %7s   %10s %12s %7s\n", "keys", "CopyTree", "RegCopyTreeA", "ratio",
              "DeleteTree", "RegDeleteTreeA", "ratio");
  auto row = [](int keys, const Result& r) {
    std::printf("%-8d %8.1f ms %10.1f ms %7.2f   %8.1f ms %12.1f ms %7.2f\n", keys, r.copy,
                r.platformCopy, r.copy / r.platformCopy, r.remove, r.platformRemove,
                r.remove / r.platformRemove);
  };
  row(quick ? 100 : 1000, small);
  if (quick) {
    return 0;
  }
  const Result large = Measure(10000, rounds);
  row(10000, large);
  std::printf(
      "growth 1,000 -> 10,000 keys: CopyTree x%.1f, RegCopyTreeA x%.1f, DeleteTree x%.1f, "
      "RegDeleteTreeA x%.1f\n",
      large.copy / small.copy, large.platformCopy / small.platformCopy, large.remove / small.remove,
      large.platformRemove / small.platformRemove);
  return 0;
}

// The registry object's CopyTree and DeleteTree against the platform's own
// RegCopyTreeA and RegDeleteTreeA, on the same trees in one run: trees of
// 1,000 and 10,000 keys, depth 4, five values of mixed types per key.
// Prints the medians, the ratios and how each grows from 1,000 to 10,000 keys.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "registry/registry.h"

#include "build_kind.h"
#include "in_turn.h"
#include "tree_shape.h"

namespace {

// The heap this program holds, now and at most since the last reset: what
// a copy's snapshot of the source tree costs.
struct HeapUse {
  std::size_t now = 0;
  std::size_t peak = 0;
};
HeapUse& Heap() {
  static HeapUse use;
  return use;
}
// Each block carries its size ahead of it, aligned as new must align.
constexpr std::size_t kHeader = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  *reinterpret_cast<std::size_t*>(block) = size;
  HeapUse& heap = Heap();
  heap.now += size;
  heap.peak = std::max(heap.peak, heap.now);
  return block + kHeader;
}
void operator delete(void* memory) noexcept {
  if (memory != nullptr) {
    auto* block = static_cast<unsigned char*>(memory) - kHeader;
    Heap().now -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
  }
}
void operator delete(void* memory, std::size_t /*size*/) noexcept { operator delete(memory); }
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete[](void* memory) noexcept { operator delete(memory); }
void operator delete[](void* memory, std::size_t /*size*/) noexcept { operator delete(memory); }

namespace {

constexpr const char* kBase = "Software\\FenwarelBench";

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
  std::size_t copyHeap;  // the most heap one CopyTree held beyond what was held before
  std::size_t copied;    // the bytes of the names and data that it copies
};

// The bytes of the names and data below `key` that a copy takes: every
// subkey's name, every value's name and data.
std::size_t CopiedBytes(HKEY key) {
  std::size_t bytes = 0;
  std::vector<char> name(16384);
  std::vector<BYTE> data(65536);
  for (DWORD index = 0;; ++index) {
    auto nameSize = static_cast<DWORD>(name.size());
    auto dataSize = static_cast<DWORD>(data.size());
    if (RegEnumValueA(key, index, name.data(), &nameSize, nullptr, nullptr, data.data(),
                      &dataSize) != ERROR_SUCCESS) {
      break;
    }
    bytes += nameSize + dataSize;
  }
  for (DWORD index = 0; RegEnumKeyA(key, index, name.data(), 256) == ERROR_SUCCESS; ++index) {
    HKEY child = nullptr;
    if (RegOpenKeyA(key, name.data(), &child) == ERROR_SUCCESS) {
      bytes += std::string(name.data()).size() + CopiedBytes(child);
      RegCloseKey(child);
    }
  }
  return bytes;
}

Result Measure(int keys, int rounds) {
  const std::string base = kBase;
  const std::string source = base + "\\Source";
  RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
  bench::Build(source, keys);
  std::size_t copied = 0;
  HKEY top = nullptr;
  if (RegOpenKeyA(HKEY_CURRENT_USER, source.c_str(), &top) == ERROR_SUCCESS) {
    copied = CopiedBytes(top);
    RegCloseKey(top);
  }
  std::vector<double> copy, platformCopy, remove, platformRemove;
  std::size_t copyHeap = 0;
  for (int round = 0; round < rounds; ++round) {
    registry::Registry reg;
    auto ours = [&] {
      const std::size_t held = Heap().now;
      Heap().peak = held;
      copy.push_back(Milliseconds([&] { reg.CopyTree("HKCU", source, "HKCU", base + "\\Ours"); }));
      copyHeap = std::max(copyHeap, Heap().peak - held);
    };
    auto platform = [&] {
      platformCopy.push_back(Milliseconds([&] {
        HKEY from = nullptr;
        HKEY to = nullptr;
        RegOpenKeyA(HKEY_CURRENT_USER, source.c_str(), &from);
        RegCreateKeyA(HKEY_CURRENT_USER, (base + "\\Platform").c_str(), &to);
        RegCopyTreeA(from, nullptr, to);
        RegCloseKey(from);
        RegCloseKey(to);
      }));
    };
    // Neither always meets the store as the other left it.
    bench::InTurn(round, ours, platform);
    bench::InTurn(
        round,
        [&] { remove.push_back(Milliseconds([&] { reg.DeleteTree("HKCU", base + "\\Ours"); })); },
        [&] {
          platformRemove.push_back(Milliseconds(
              [&] { RegDeleteTreeA(HKEY_CURRENT_USER, (base + "\\Platform").c_str()); }));
        });
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
  return {Median(copy), Median(platformCopy), Median(remove), Median(platformRemove), copyHeap,
          copied};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const bool quick = argc > 2 && std::string(argv[2]) == "quick";
  const Result small = Measure(quick ? 100 : 1000, rounds);
  PrintBuildKind();
  std::printf("rounds: %d (medians)\n", rounds);
  std::printf("%-8s %10s %12s %7s %13s %11s   %10s %12s %7s\n", "keys", "CopyTree", "RegCopyTreeA",
              "ratio", "copy's heap", "heap/bytes", "DeleteTree", "RegDeleteTreeA", "ratio");
  // The goal: a copy at most as slow as the platform's own.
  auto row = [](int keys, const Result& r) {
    const double heapRatio = static_cast<double>(r.copyHeap) / static_cast<double>(r.copied);
    std::printf(
        "%-8d %8.1f ms %10.1f ms %7.2f %9.0f KiB %11.2f   %8.1f ms %12.1f ms %7.2f   %s, %s\n",
        keys, r.copy, r.platformCopy, r.copy / r.platformCopy, r.copyHeap / 1024.0, heapRatio,
        r.remove, r.platformRemove, r.remove / r.platformRemove,
        r.copy <= r.platformCopy ? "copy within 1.0" : "copy ABOVE 1.0",
        heapRatio <= 2.5 ? "heap within 2.5" : "heap ABOVE 2.5");
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

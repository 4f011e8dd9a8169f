// Registry calls per key of CopyTree and DeleteTree on the benchmark's trees,
// counted on the real calls by the tests' layer around them, against the
// least a copy can make. Under Wine each call is one request to its registry
// server, which is where a tree copy's time goes. Closing is not counted.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "live/live_registry_control.h"
#include "registry/registry.h"
#include "tree_shape.h"

namespace {

constexpr const char* kBase = "Software\\FenwarelCalls";

std::size_t Counted(const auto& operation) {
  live::Arm(static_cast<std::size_t>(-1), nullptr);
  operation();
  return live::Disarm();
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kValues = 5;  // per key, as tree_shape.h makes them
  const bool quick = argc > 1 && std::string(argv[1]) == "quick";
  const std::string source = std::string(kBase) + "\\Source";
  const std::string copy = std::string(kBase) + "\\Copy";
  std::printf("%-8s %15s %15s %15s %15s\n", "keys", "CopyTree", "key by key", "least a copy",
              "DeleteTree");
  const std::vector<int> sizes = quick ? std::vector{100} : std::vector{1000, 10000};
  for (int keys : sizes) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
    bench::Build(source, keys);
    registry::Registry reg;
    // Per key: open the source key, read each value, make the target key,
    // write each value; and one call more, for listing each key but the top
    // as a subkey, and watching the tree once.
    const double least = 2.0 + 2 * kValues + 1.0;
    double copied[2] = {};
    double removed = 0;
    for (bool watching : {true, false}) {
      live::Watching(watching);
      copied[watching ? 0 : 1] =
          double(Counted([&] { reg.CopyTree("HKCU", source, "HKCU", copy); })) / keys;
      removed = double(Counted([&] { reg.DeleteTree("HKCU", copy); })) / keys;
    }
    std::printf(
        "%-8d %9.2f calls %9.2f calls %9.2f calls %9.2f calls   %s\n", keys, copied[0], copied[1],
        least, removed,
        copied[1] <= least + 2.0 ? "within two calls per key of the least" : "ABOVE the goal");
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
  return 0;
}

// Registry calls per key of CopyTree and DeleteTree on the benchmark's trees,
// counted in the in-memory substitute of the native build, against the least
// a copy can make. Under Wine each call is one request to its registry
// server, which is where a tree copy's time goes.
#include <cstdio>

#include "registry/registry.h"
#include "substitute/controls.h"
#include "tree_shape.h"

int main() {
  constexpr int kValues = 5;  // per key, as tree_shape.h makes them
  std::printf("%-8s %15s %15s %17s\n", "keys", "CopyTree", "least a copy", "DeleteTree");
  for (int keys : {1000, 10000}) {
    platform::fake::ResetRegistry();
    bench::Build("Software\\FenwarelBench\\Source", keys);
    registry::Registry reg;
    std::size_t before = platform::fake::RegistryCallCount();
    reg.CopyTree("HKCU", "Software\\FenwarelBench\\Source", "HKCU",
                 "Software\\FenwarelBench\\Copy");
    const double copy = double(platform::fake::RegistryCallCount() - before) / keys;
    before = platform::fake::RegistryCallCount();
    reg.DeleteTree("HKCU", "Software\\FenwarelBench\\Copy");
    const double removal = double(platform::fake::RegistryCallCount() - before) / keys;
    // Per key: open and close the source key, read each value, make and
    // close the target key, write each value; and list each subkey once.
    // The substitute cannot watch a tree, so the copy asks each key for its
    // counts twice, before and after reading it: one call more than on
    // Windows, where one question a key gives the counts.
    const double least = (4.0 + 2 * kValues) + double(keys - 1) / keys;
    std::printf("%-8d %9.2f calls %9.2f calls %11.2f calls   %s\n", keys, copy, least, removal,
                copy <= least + 2.0 ? "within two calls per key of the least, one of them the "
                                      "second question that a watched tree spares"
                                    : "ABOVE the goal");
  }
  return 0;
}

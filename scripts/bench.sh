#!/usr/bin/env bash
# Runs the benchmarks under Wine and prints their ratios: of the 32-bit
# program where the host runs 32-bit code, else of its 64-bit test twin
# (FENWAREL_TWIN_ONLY=1 chooses the twin anywhere). Each benchmark names the
# build its figures are of.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT
fenwarel_install_deps
fenwarel_pick_build
cmake --preset "$FENWAREL_PRESET" >/dev/null
cmake --build --preset "$FENWAREL_PRESET" >/dev/null
fenwarel_start_display
fenwarel_prepare_prefix "$FENWAREL_WINE"
for bench in "build/$FENWAREL_PRESET"/bin/*_bench.exe; do
  echo "== $(basename "$bench" .exe)"
  "$WINELOADER" "$bench" "$@"
done
echo "== tree_calls (native build, in-memory registry)"
cmake --preset native >/dev/null
cmake --build --preset native --target tree_calls >/dev/null
build/native/bench/tree_calls

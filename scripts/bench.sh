#!/usr/bin/env bash
# Runs the benchmarks of the Windows build under Wine and prints their ratios.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT
fenwarel_install_deps
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
fenwarel_start_display
fenwarel_prepare_prefix
for bench in build/windows/bin/*_bench.exe; do
  echo "== $(basename "$bench" .exe)"
  wine "$bench" "$@"
done

#!/usr/bin/env bash
# Usage: bash scripts/bench.sh [ROUNDS [RUNS]]
#        bash scripts/bench.sh --trace [ROUNDS]
# Runs the benchmarks under Wine and prints their ratios: of the 32-bit
# program where the host runs 32-bit code, in the 32-bit prefix and through
# WoW64 in the 64-bit one; else of its 64-bit test twin (FENWAREL_TWIN_ONLY=1
# chooses the twin anywhere). Each benchmark names the build and the Windows
# its figures are of.
#   bash scripts/bench.sh [ROUNDS [RUNS]]   start-up (3 runs of 61 rounds) in
#                                           each prefix, the registry trees
#   bash scripts/bench.sh --trace [ROUNDS]  where the start-up's time goes, from
#                                           a build with time stamps inside
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
case "${1-}" in
  -h | --help)
    fenwarel_usage
    exit 0
    ;;
  --trace) counts=("${@:2}") most=1 ;;
  *) counts=("$@") most=2 ;;
esac
[ ${#counts[@]} -le "$most" ] || fenwarel_usage_error "too many arguments: $*"
for count in "${counts[@]}"; do
  [[ "$count" =~ ^[1-9][0-9]{0,5}$ ]] || fenwarel_usage_error "unknown argument: $count"
done
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT
fenwarel_install_deps
fenwarel_pick_build
prefixes="$FENWAREL_WINE"
if [ "$FENWAREL_WINE" = win32 ]; then prefixes="win32 wow64"; fi
fenwarel_start_display

if [ "${1:-}" = --trace ]; then
  shift
  build="build/$FENWAREL_PRESET-trace"
  echo "== Building with time stamps inside ($build)"
  cmake --preset "$FENWAREL_PRESET" -B "$build" -DFENWAREL_STARTUP_TRACE=ON -DBUILD_TESTING=OFF \
    >/dev/null
  cmake --build "$build" --target Fenwarel Orvisk floor_bench startup_bench -j 2 >/dev/null
  for wine in $prefixes; do
    fenwarel_prepare_prefix "$wine"
    echo "== startup_bench trace ($wine prefix)"
    "$WINELOADER" "$build/bin/startup_bench.exe" trace "$@"
  done
  exit 0
fi

echo "== Building $FENWAREL_BUILD_KIND (preset $FENWAREL_PRESET)"
cmake --preset "$FENWAREL_PRESET" >/dev/null
cmake --build --preset "$FENWAREL_PRESET" >/dev/null
for wine in $prefixes; do
  fenwarel_prepare_prefix "$wine"
  echo "== startup_bench ($wine prefix)"
  "$WINELOADER" "build/$FENWAREL_PRESET/bin/startup_bench.exe" "$@"
done
fenwarel_prepare_prefix "$FENWAREL_WINE"
echo "== tree_bench ($FENWAREL_WINE prefix)"
"$WINELOADER" "build/$FENWAREL_PRESET/bin/tree_bench.exe"
echo "== tree_calls ($FENWAREL_WINE prefix)"
"$WINELOADER" "build/$FENWAREL_PRESET/bin/tree_calls.exe"

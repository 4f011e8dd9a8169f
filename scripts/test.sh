#!/usr/bin/env bash
# Usage: bash scripts/test.sh
# Builds every preset and runs every test: natively with sanitizers, the
# 32-bit program's static checks, then the Windows tests under Wine, one tier
# per prefix: the 64-bit twin always; where the host runs 32-bit code also
# the 32-bit program on 32-bit Windows and through WoW64 on 64-bit Windows;
# every package signed by a throwaway certificate; last, two release builds
# compared byte for byte.
# Installs what is missing first. FENWAREL_TWIN_ONLY=1 takes the path of a
# host without 32-bit execution.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
fenwarel_no_arguments "$@"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT

# Each stage's heading, and at the end how long each took.
stage_names=()
stage_seconds=()
stage() {
  echo "== $1"
  stage_names+=("$1")
  stage_seconds+=("$SECONDS")
}
stage_times() {
  local i end
  echo "Time per stage (s):"
  for i in "${!stage_names[@]}"; do
    end="${stage_seconds[$((i + 1))]:-$SECONDS}"
    printf '  %5d  %s\n' "$((end - stage_seconds[i]))" "${stage_names[i]}"
  done
  echo "  $SECONDS in all"
}

stage "Installing what is missing"
fenwarel_install_deps
tiers="$(fenwarel_windows_tiers)"
fenwarel_describe_host

stage "Format"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

stage "Native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

stage "Lint"
bash scripts/lint.sh

stage "The 32-bit program: build and static checks"
# Every package of the tests is signed, by a certificate made for this run.
fenwarel_throwaway_signing
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows-static

fenwarel_start_display
passed=()
for tier in $tiers; do
  preset="$(fenwarel_tier_preset "$tier")"
  stage "Windows tests under Wine, $(fenwarel_tier_name "$tier"): preset $preset"
  if [ "$preset" = windows-x64 ]; then
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
  fi
  fenwarel_prepare_prefix "$tier"
  ctest --preset "$preset"
  passed+=("$tier ($(fenwarel_tier_name "$tier"))")
done

stage "Release tools: their refusals; this commit's release rebuilt and compared, unsigned and signed"
bash tests/release/refusals.sh
bash scripts/check-reproducible.sh
bash tests/release/compare_release_test.sh

echo "== Passed: format, native, lint, the 32-bit program's static checks, the reproducible release,"
echo "   and the Windows tests of these tiers:"
printf '     %s\n' "${passed[@]}"
stage_times
fenwarel_describe_host

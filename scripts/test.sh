#!/usr/bin/env bash
# Builds every preset and runs every test: natively with sanitizers, the
# 32-bit program's static checks, then the Windows tests under Wine: on the
# 64-bit twin always, on the 32-bit program where the host runs 32-bit code;
# every package signed by a throwaway certificate; last, two release builds
# compared byte for byte.
# Installs what is missing first. FENWAREL_TWIN_ONLY=1 takes the path of a
# host without 32-bit execution.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT

tiers="$(fenwarel_windows_tiers)"
fenwarel_describe_host
fenwarel_install_deps

echo "== Format"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== Native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== Lint"
bash scripts/lint.sh

echo "== The 32-bit program: build and static checks"
# Every package of the tests is signed, by a certificate made for this run.
fenwarel_throwaway_signing
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows-static

# Where the host runs 32-bit code, the twin's tests also start the 32-bit
# program in the twin's 64-bit prefix, to see it use the 32-bit registry view.
if fenwarel_host_runs_32bit; then export FENWAREL_PRODUCT_IN_WIN64=1; fi
fenwarel_start_display
passed=()
for tier in $tiers; do
  preset=windows
  [ "$tier" = win64 ] && preset=windows-x64
  echo "== Windows tests under Wine ($tier): preset $preset"
  [ "$preset" = windows ] || { cmake --preset "$preset" >/dev/null; cmake --build --preset "$preset"; }
  fenwarel_prepare_prefix "$tier"
  ctest --preset "$preset"
  passed+=("$preset ($tier Wine)")
done

echo "== Release tools: their refusals; this commit's release rebuilt and compared, unsigned and signed"
bash tests/release/refusals.sh
bash scripts/check-reproducible.sh
bash tests/release/compare_release_test.sh

echo "== Passed: format, native, lint, the 32-bit program's static checks, the reproducible release,"
echo "   and the Windows tests of ${passed[*]}"
fenwarel_describe_host

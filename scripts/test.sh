#!/usr/bin/env bash
# Usage: bash scripts/test.sh
# Builds every preset and runs every test: natively with sanitizers, then the
# Windows tests under Wine, one tier per prefix: the 64-bit twin always; where
# the host runs 32-bit code also the 32-bit program on 32-bit Windows and
# through WoW64 on 64-bit Windows; every package signed by a throwaway
# certificate. Beside the twin's tests, the 32-bit program's static checks
# and two release builds compared byte for byte.
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

# Every package of the tests is signed, by a certificate made for this run.
fenwarel_throwaway_signing

stage "The 64-bit test twin: build"
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64

# The 32-bit program's build and static checks and the release tools need no
# Wine: they run beside the twin's tests, which leave a core mostly idle, at
# the lowest priority, so that the tests under Wine keep their pace. Their
# output follows when they end.
echo "== Started beside the twin's tests: the 32-bit program's build and static checks; the release tools"
beside_log="$(mktemp)"
set -m
(
  renice -n 19 -p "$BASHPID" >/dev/null
  beside_start=$SECONDS
  echo "== The 32-bit program: build and static checks"
  cmake --preset windows >/dev/null
  if [ "$tiers" = win64 ]; then
    # No Wine here runs the 32-bit tests, so their programs are not built:
    # the static checks examine the program, the service's stand-in and the
    # package; the twin's tier checks its own test programs, and the checker.
    cmake --build --preset windows --target Fenwarel Orvisk msi
    ctest --preset windows-static -E '^binary_(registry_tests|e2e_tests|accessibility_tests|check_finds_which_Windows_does_not_ship)$'
  else
    cmake --build --preset windows
    ctest --preset windows-static
  fi
  echo "   ($((SECONDS - beside_start)) s)"
  beside_start=$SECONDS
  echo "== Release tools: their refusals; this commit's release rebuilt and compared, unsigned and signed"
  bash tests/release/refusals.sh
  bash scripts/check-reproducible.sh
  bash tests/release/compare_release_test.sh
  echo "   ($((SECONDS - beside_start)) s)"
) >"$beside_log" 2>&1 </dev/null &
beside=$!
set +m
# A failure anywhere ends the work beside too.
trap 'kill -- -"$beside" 2>/dev/null || true; rm -f "$beside_log"; fenwarel_cleanup' EXIT
beside_done() {
  local status=0
  wait "$beside" || status=$?
  cat "$beside_log"
  [ "$status" = 0 ] || { echo "test.sh: the 32-bit program's build and checks or the release tools failed" >&2; exit 1; }
}

fenwarel_start_display
passed=()
for tier in $tiers; do
  preset="$(fenwarel_tier_preset "$tier")"
  # The 32-bit tiers test what is built beside the twin's tier.
  if [ "$preset" != windows-x64 ] && [ -n "$beside" ]; then
    stage "Waiting for the work beside"
    beside_done
    beside=""
  fi
  stage "Windows tests under Wine, $(fenwarel_tier_name "$tier"): preset $preset"
  fenwarel_prepare_prefix "$tier"
  ctest --preset "$preset"
  passed+=("$tier ($(fenwarel_tier_name "$tier"))")
done
if [ -n "$beside" ]; then
  stage "Waiting for the work beside"
  beside_done
fi

echo "== Passed: format, native, lint, the 32-bit program's static checks, the reproducible release,"
echo "   and the Windows tests of these tiers:"
printf '     %s\n' "${passed[@]}"
stage_times
fenwarel_describe_host

#!/usr/bin/env bash
# Builds both presets and runs every test: natively with sanitizers, then
# the Windows build under Wine. Installs what is missing first.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT

fenwarel_install_deps

echo "== Format"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== Native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== Lint"
bash scripts/lint.sh

echo "== Windows build and tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
fenwarel_start_display
fenwarel_prepare_prefix
ctest --preset windows

#!/usr/bin/env bash
# clang-tidy over the program's own sources, with the native build's
# compile commands.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
[ -f build/native/compile_commands.json ] || cmake --preset native >/dev/null
git ls-files -- 'app/*.cpp' 'registry/*.cpp' 'localization/*.cpp' 'platform/*.cpp' |
  xargs -r -P 2 -n 4 clang-tidy -p build/native --quiet --warnings-as-errors='*' 2>/dev/null

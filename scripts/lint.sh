#!/usr/bin/env bash
# Usage: bash scripts/lint.sh
# Every script through shellcheck (settings in .shellcheckrc), and for
# commands that a bare Debian lacks and that no install step brings; then
# clang-tidy over the program's own sources that the native build compiles
# (the Windows-only files are checked by -Wall -Wextra -Werror of mingw).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
fenwarel_no_arguments "$@"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
echo "shellcheck and the commands of every script"
git ls-files -z -- '*.sh' .ci/run | xargs -0 shellcheck
git ls-files -z -- '*.sh' .ci/run | xargs -0 python3 scripts/check_commands.py
db=build/native/compile_commands.json
[ -f "$db" ] || cmake --preset native >/dev/null
echo "clang-tidy over the native build's sources"
git ls-files -- 'app/*.cpp' 'registry/*.cpp' 'localization/*.cpp' 'platform/*.cpp' 'tests/substitute/*.cpp' |
  while read -r file; do grep -q "\"file\": \"$root/$file\"" "$db" && echo "$file"; done |
  xargs -r -P 2 -n 4 clang-tidy -p build/native --quiet --warnings-as-errors='*' 2>/dev/null

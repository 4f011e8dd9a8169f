#!/usr/bin/env bash
# clang-tidy over the program's own sources that the native build compiles
# (the Windows-only files are checked by -Wall -Wextra -Werror of mingw);
# then every script, for commands that a bare Debian lacks and that no
# install step brings.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
db=build/native/compile_commands.json
[ -f "$db" ] || cmake --preset native >/dev/null
git ls-files -- 'app/*.cpp' 'registry/*.cpp' 'localization/*.cpp' 'platform/*.cpp' |
  while read -r file; do grep -q "\"file\": \"$root/$file\"" "$db" && echo "$file"; done |
  xargs -r -P 2 -n 4 clang-tidy -p build/native --quiet --warnings-as-errors='*' 2>/dev/null
python3 scripts/check_commands.py $(git ls-files -- '*.sh' .ci/run)

#!/usr/bin/env bash
# Builds the release of the checked-out commit twice, from two copies of it
# in two folders of different names, a few seconds apart, without signing,
# and compares Fenwarel.exe, the language files and the package byte for
# byte. Uncommitted changes are not part of the commit and not built.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
epoch="$(git log -1 --format=%ct)"
commit="$(git rev-parse --short HEAD)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

copies=("$work/first-copy" "$work/second/other name")
for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  git archive HEAD | tar -x -C "$copy"
  echo "== Release of $commit in $copy"
  (cd "$copy" && env -u FENWAREL_SIGN_PKCS12 -u FENWAREL_SIGN_PASSWORD SOURCE_DATE_EPOCH="$epoch" \
    bash scripts/release.sh >"$work/release.log" 2>&1) || { tail -20 "$work/release.log"; exit 1; }
  sleep 2  # another time of day for the second build
done

differ=0
compared=0
first="${copies[0]}"
second="${copies[1]}"
while read -r file; do
  compared=$((compared + 1))
  if ! cmp -s "$first/$file" "$second/$file"; then
    echo "DIFFERS: $file ($(cmp -l "$first/$file" "$second/$file" 2>/dev/null | wc -l) bytes)"
    differ=1
  fi
done < <(cd "$first" && ls build/release/bin/Fenwarel.exe build/release/bin/Fenwarel_*.dll dist/*)
if [ "$differ" = 0 ]; then
  echo "Reproducible: $compared files byte for byte the same in both builds of $commit" \
    "(Fenwarel.exe, the language files, the package and SHA256SUMS)."
fi
exit "$differ"

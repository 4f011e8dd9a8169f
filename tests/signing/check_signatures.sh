#!/usr/bin/env bash
# The package and every program file in it are signed by the certificate
# that FENWAREL_TEST_CA issued, and a copy with one byte changed is refused.
# Usage: check_signatures.sh PACKAGE (its staged files lie in PACKAGE.stage)
set -euo pipefail
package="$1"
if [ -z "${FENWAREL_TEST_CA:-}" ]; then
  echo "No FENWAREL_TEST_CA: scripts/test.sh signs the packages with a throwaway one."
  exit 77
fi
failed=0
checked=0
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for file in "$package" "$package".stage/*.exe "$package".stage/*.dll; do
  if ! osslsigncode verify -CAfile "$FENWAREL_TEST_CA" -in "$file" >"$work/out" 2>&1; then
    echo "FAILED: $file is not signed by the test certificate:"
    tail -3 "$work/out"
    failed=1
  fi
  checked=$((checked + 1))
done
# One byte changed, a third of the way in: code, or the package's cabinet.
for file in "$package" "$package".stage/Fenwarel.exe; do
  cp "$file" "$work/changed"
  size=$(stat -c %s "$file")
  printf '\xA5' | dd of="$work/changed" bs=1 seek=$((size / 3)) conv=notrunc status=none
  if osslsigncode verify -CAfile "$FENWAREL_TEST_CA" -in "$work/changed" >/dev/null 2>&1; then
    echo "FAILED: a copy of $file with one byte changed still verifies"
    failed=1
  fi
done
[ "$failed" = 0 ] && echo "$checked files signed and verified; changed copies refused"
exit "$failed"

#!/usr/bin/env bash
# Checks that a published package holds what the source builds: rebuilds
# the release of the checked-out commit (unsigned, in folders of its own, so
# that dist/ is left alone), takes Fenwarel.exe and the language files out of
# PACKAGE, removes their signatures and compares them with the rebuild's,
# byte for byte. Signing pads a file to a multiple of 8 bytes and gives it a
# checksum, which removing the signature keeps; so the rebuild's files go
# through the same signing, with a throwaway certificate, and removal.
# Check out the release's commit first.
# Usage: compare-release.sh PATH/TO/Fenwarel-<version>.msi
set -euo pipefail
package="$(realpath "$1")"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

env -u FENWAREL_SIGN_PKCS12 FENWAREL_RELEASE_BUILD="$work/build" FENWAREL_DIST="$work/dist" \
  bash scripts/release.sh >"$work/release.log" 2>&1 || { tail -20 "$work/release.log"; exit 1; }
bash tests/signing/throwaway_ca.sh "$work/key"
mkdir "$work/published"
(cd "$work/published" && msiextract "$package" >/dev/null)

differ=0
compared=0
while read -r file; do
  name="$(basename "$file")"
  rm -f "$work/unsigned" "$work/rebuilt-signed" "$work/rebuilt"  # osslsigncode writes only new files
  osslsigncode remove-signature -in "$file" -out "$work/unsigned" >/dev/null 2>&1 ||
    cp "$file" "$work/unsigned"  # it was not signed
  osslsigncode sign -pkcs12 "$work/key/signer.p12" -readpass "$work/key/password" -h sha256 \
    -in "$work/build/bin/$name" -out "$work/rebuilt-signed" >/dev/null
  osslsigncode remove-signature -in "$work/rebuilt-signed" -out "$work/rebuilt" >/dev/null
  if cmp -s "$work/unsigned" "$work/rebuilt"; then
    compared=$((compared + 1))
  else
    echo "DIFFERS: $name"
    differ=1
  fi
done < <(find "$work/published" -type f \( -name 'Fenwarel.exe' -o -name 'Fenwarel_*.dll' \))
if [ "$compared" -eq 0 ] && [ "$differ" -eq 0 ]; then
  echo "No program files found in $package"
  exit 1
fi
[ "$differ" = 0 ] && echo "The same: $compared files of $(basename "$package"), signatures aside," \
  "as built from commit $(git rev-parse --short HEAD)."
exit "$differ"

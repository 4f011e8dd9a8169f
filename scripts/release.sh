#!/usr/bin/env bash
# Makes the release from a clean build of the 32-bit product:
#   dist/Fenwarel-<version>.msi   the package, its program and language files
#   dist/SHA256SUMS               the checksum of each file in dist/
# Signed with Authenticode (SHA-256) when these are set:
#   FENWAREL_SIGN_PKCS12     the company's certificate and key, a PKCS#12 file
#   FENWAREL_SIGN_PASSWORD   its password
#   FENWAREL_SIGN_TIMESTAMP  optional: an RFC 3161 timestamp server's address
# Without them it is unsigned, and says so at the end. Every time stamp in
# the files comes from the commit (SOURCE_DATE_EPOCH, else the commit's time),
# so that a build of the same commit elsewhere gives the same unsigned bytes.
# FENWAREL_RELEASE_BUILD and FENWAREL_DIST choose other folders.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"

fenwarel_install_deps
build="${FENWAREL_RELEASE_BUILD:-$FENWAREL_ROOT/build/release}"
dist="${FENWAREL_DIST:-$FENWAREL_ROOT/dist}"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$FENWAREL_ROOT" log -1 --format=%ct)"
fi
export SOURCE_DATE_EPOCH

rm -rf "$build" "$dist"
cmake -S "$FENWAREL_ROOT" -B "$build" --toolchain "$FENWAREL_ROOT/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target msi -j 2
mkdir -p "$dist"
cp "$build"/Fenwarel-*.msi "$dist"/
(cd "$dist" && sha256sum -- Fenwarel-*.msi >SHA256SUMS)

echo
echo "Release in $dist:"
(cd "$dist" && ls -l -- *)
if [ -n "${FENWAREL_SIGN_PKCS12:-}" ]; then
  echo "Signed (SHA-256) with the certificate of $FENWAREL_SIGN_PKCS12:" \
    "the package, Fenwarel.exe and the language files in it."
  if [ -n "${FENWAREL_SIGN_TIMESTAMP:-}" ]; then
    echo "Timestamped by $FENWAREL_SIGN_TIMESTAMP."
  else
    echo "WARNING: no timestamp (FENWAREL_SIGN_TIMESTAMP): the signatures stop being valid" \
      "when the certificate expires."
  fi
else
  echo "NOT SIGNED: FENWAREL_SIGN_PKCS12 is not set, so neither the package nor the files in it"
  echo "carry a signature. Set FENWAREL_SIGN_PKCS12 and FENWAREL_SIGN_PASSWORD to sign."
fi

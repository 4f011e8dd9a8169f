#!/usr/bin/env bash
# Usage: bash scripts/release.sh
# Makes the release of the checked-out commit from a clean build of the
# 32-bit product:
#   dist/Fenwarel-<version>.msi   the package, its program and language files
#   dist/SHA256SUMS               the checksum of the package
# and prints the checksum, the product code and the upgrade code.
# Signed with Authenticode (SHA-256) when FENWAREL_SIGN_PKCS12 is set:
#   FENWAREL_SIGN_PKCS12     the company's certificate and key, a PKCS#12 file
#   FENWAREL_SIGN_PASSWORD   its password
#   FENWAREL_SIGN_TIMESTAMP  an RFC 3161 timestamp server's address, or
#                            "none" to sign without a timestamp
# Without them it is unsigned, and says so at the end. Every time stamp in
# the files is the commit's time, so that a build of the same commit
# elsewhere gives the same unsigned bytes (scripts/compare-release.sh).
#   FENWAREL_DIST            another folder for the release
#   FENWAREL_ALLOW_DIRTY=1   builds a work tree with uncommitted changes; the
#                            package's name and version text then say
#                            "-dirty", and its time stamps are the build's;
#                            its product code is its own, never the
#                            release's, so the release installs over it.
# Before building it refuses, one line each: uncommitted changes, a release
# folder that holds files no release made, signing inputs that cannot sign.
# It builds in a temporary folder of its own and replaces the release folder
# only when everything succeeded.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
fenwarel_no_arguments "$@"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$FENWAREL_ROOT/scripts/release-common.sh"
dist="$(realpath -m -- "${FENWAREL_DIST:-$FENWAREL_ROOT/dist}")"
cd "$FENWAREL_ROOT"

fail() {
  echo "release.sh: $*" >&2
  exit 1
}

git rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
  fail "$FENWAREL_ROOT is not a git work tree: a release is made from a commit"
label=""
if [ -n "$(git status --porcelain)" ]; then
  [ "${FENWAREL_ALLOW_DIRTY:-0}" = 1 ] ||
    fail "the work tree has uncommitted changes (git status): commit them, or set FENWAREL_ALLOW_DIRTY=1 for a release named -dirty"
  label=-dirty
fi

# Only what an earlier release made may be replaced: SHA256SUMS and the
# packages it lists, unchanged.
if [ -e "$dist" ] || [ -L "$dist" ]; then
  { [ -d "$dist" ] && [ ! -L "$dist" ]; } || fail "$dist is not a folder"
  if [ -n "$(ls -A -- "$dist")" ]; then
    made=""
    [ -f "$dist/SHA256SUMS" ] && made=$(awk '{ sub(/^\*/, "", $2); print $2 }' "$dist/SHA256SUMS")
    for entry in "$dist"/* "$dist"/.[!.]* "$dist"/..?*; do
      [ -e "$entry" ] || [ -L "$entry" ] || continue
      name="$(basename -- "$entry")"
      if [ "$name" != SHA256SUMS ] && { [[ "$name" != Fenwarel-*.msi ]] || ! grep -qxF -- "$name" <<<"$made"; }; then
        fail "$dist holds $name, which no release made: move it, or set FENWAREL_DIST"
      fi
    done
    (cd "$dist" && sha256sum --check --strict --quiet SHA256SUMS >/dev/null 2>&1) ||
      fail "$dist holds a release that was changed since (SHA256SUMS does not match): move it, or set FENWAREL_DIST"
  fi
fi

fenwarel_install_deps

if [ -n "${FENWAREL_SIGN_PKCS12:-}" ]; then
  { [ -f "$FENWAREL_SIGN_PKCS12" ] && [ -r "$FENWAREL_SIGN_PKCS12" ]; } ||
    fail "cannot read the signing key FENWAREL_SIGN_PKCS12=$FENWAREL_SIGN_PKCS12"
  [ -n "${FENWAREL_SIGN_PASSWORD+set}" ] || fail "FENWAREL_SIGN_PASSWORD is not set"
  # OpenSSL 3 opens older PKCS#12 files only with -legacy.
  opens() {
    openssl pkcs12 -in "$FENWAREL_SIGN_PKCS12" -passin env:FENWAREL_SIGN_PASSWORD -noout "$@" >/dev/null 2>&1
  }
  opens || opens -legacy ||
    fail "FENWAREL_SIGN_PASSWORD does not open $FENWAREL_SIGN_PKCS12 (or it is no PKCS#12 file)"
  legacy=""
  opens || legacy=-legacy
  holds() {
    openssl pkcs12 -in "$FENWAREL_SIGN_PKCS12" -passin env:FENWAREL_SIGN_PASSWORD $legacy -nodes "$1" \
      2>/dev/null | grep -q -- "$2"
  }
  { holds -nocerts "PRIVATE KEY" && holds -nokeys "BEGIN CERTIFICATE"; } ||
    fail "$FENWAREL_SIGN_PKCS12 does not hold both a certificate and its private key"
  case "${FENWAREL_SIGN_TIMESTAMP:-}" in
    "") fail "FENWAREL_SIGN_TIMESTAMP is not set: name an RFC 3161 timestamp server, or set it to none to sign without a timestamp" ;;
    none) unset FENWAREL_SIGN_TIMESTAMP ;;
  esac
else
  unset FENWAREL_SIGN_PASSWORD FENWAREL_SIGN_TIMESTAMP
fi

if [ -n "$label" ]; then
  SOURCE_DATE_EPOCH="$(date +%s)"
  echo "WARNING: the work tree has uncommitted changes: this release is named -dirty and is no commit's."
else
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
fi
export SOURCE_DATE_EPOCH

build="$(mktemp -d)"
new=""
trap 'rm -rf "$build" ${new:+"$new"}' EXIT
echo "== Building the release of $(git rev-parse --short HEAD)$label in a temporary folder"
fenwarel_build_release "$FENWAREL_ROOT" "$build" -DFENWAREL_VERSION_LABEL="$label" ||
  fail "the build failed (see above); $dist is as it was"

# The new release beside the folder, then one rename each way.
mkdir -p "$(dirname "$dist")"
new="$(mktemp -d "$dist.new.XXXXXX")"
chmod a+rx "$new"
cp "$build"/Fenwarel-*.msi "$new"/
(cd "$new" && sha256sum -- Fenwarel-*.msi >SHA256SUMS)
if [ -d "$dist" ]; then
  old="$(mktemp -d "$dist.old.XXXXXX")"
  mv -T "$dist" "$old/release"
  mv -T "$new" "$dist" || { mv -T "$old/release" "$dist"; fail "cannot move the release into $dist"; }
  rm -rf "$old"
else
  mv -T "$new" "$dist"
fi
new=""

echo
echo "Release in $dist:"
(cd "$dist" && ls -l -- *)
echo "SHA256SUMS:"
cat "$dist/SHA256SUMS"
# What a deployment tool's detection rule asks for, read from the package itself.
for code in ProductCode UpgradeCode; do
  echo "$code: $(msiinfo export "$dist"/Fenwarel-*.msi Property | awk -v name="$code" '$1 == name { print $2 }')"
done
if [ -n "${FENWAREL_SIGN_PKCS12:-}" ]; then
  echo "Signed (SHA-256) with the certificate of $FENWAREL_SIGN_PKCS12:" \
    "the package, Fenwarel.exe and the language files in it."
  if [ -n "${FENWAREL_SIGN_TIMESTAMP:-}" ]; then
    echo "Timestamped by $FENWAREL_SIGN_TIMESTAMP."
  else
    echo "WARNING: no timestamp (FENWAREL_SIGN_TIMESTAMP=none): the signatures stop being valid" \
      "when the certificate expires."
  fi
else
  echo "NOT SIGNED: FENWAREL_SIGN_PKCS12 is not set, so neither the package nor the files in it"
  echo "carry a signature. Set FENWAREL_SIGN_PKCS12 and FENWAREL_SIGN_PASSWORD to sign."
fi
if [ -n "$label" ]; then
  echo "WARNING: built from uncommitted changes: $(cd "$dist" && echo Fenwarel-*.msi) is no commit's release."
fi

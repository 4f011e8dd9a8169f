#!/usr/bin/env bash
# What the release tools refuse, before anything is built: release.sh a
# work tree with uncommitted changes, a release folder holding files no
# release made or a release changed since, and signing inputs that cannot
# sign, each with one line and nothing written; compare-release.sh a file
# that is no package, a missing commit, a package of another commit;
# check-reproducible.sh a release without its package, or with a file it
# does not compare, or a release.sh that failed, whatever FENWAREL_DIST says.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"
mkdir "$work/notes"
echo "keep me" >"$work/notes/notes.txt"
failed=0

# COMMAND fails, says one line matching PATTERN on stderr and no more, and
# leaves the notes and the repository's dist/ as they were.
refused() {
  local what="$1" pattern="$2"
  shift 2
  if "$@" >"$work/out" 2>"$work/err"; then
    echo "FAILED: $what: not refused"
    failed=1
  elif [ "$(wc -l <"$work/err")" != 1 ] || ! grep -q -- "$pattern" "$work/err"; then
    echo "FAILED: $what: expected one line with '$pattern', got:"
    cat "$work/err"
    failed=1
  fi
  if [ "$(ls -A "$work/notes")" != notes.txt ] || [ "$(cat "$work/notes/notes.txt")" != "keep me" ] ||
    [ -e "$repo/dist" ]; then
    echo "FAILED: $what: wrote where it must not"
    failed=1
  fi
}
# shellcheck disable=SC2317  # run by refused
release() { (cd "$repo" && env "$@" bash scripts/release.sh); }

refused "a folder of notes as FENWAREL_DIST" "holds notes.txt, which no release made" \
  release FENWAREL_DIST="$work/notes"
mkdir "$work/changed"
echo "a package" >"$work/changed/Fenwarel-1.0.0.msi"
(cd "$work/changed" && sha256sum Fenwarel-1.0.0.msi >SHA256SUMS)
echo "changed" >>"$work/changed/Fenwarel-1.0.0.msi"
refused "a release changed since it was made" "was changed since" release FENWAREL_DIST="$work/changed"

bash "$FENWAREL_ROOT/tests/signing/throwaway_ca.sh" "$work/key"
key="$work/key/signer.p12"
password="$(cat "$work/key/password")"
refused "a missing signing key" "cannot read the signing key" \
  release FENWAREL_SIGN_PKCS12="$work/key/missing.p12" FENWAREL_SIGN_PASSWORD="$password"
refused "a wrong password" "does not open" \
  release FENWAREL_SIGN_PKCS12="$key" FENWAREL_SIGN_PASSWORD=wrong FENWAREL_SIGN_TIMESTAMP=none
refused "no word on the timestamp" "FENWAREL_SIGN_TIMESTAMP is not set" \
  release FENWAREL_SIGN_PKCS12="$key" FENWAREL_SIGN_PASSWORD="$password"
echo "a change" >>"$repo/README.md"
refused "uncommitted changes" "uncommitted changes" release FENWAREL_DIST="$work/elsewhere"
git -C "$repo" checkout -q -- README.md

# compare-release.sh, before it builds anything, in a temporary folder that
# stays empty: a file that is no package, a missing commit, and a package
# that bears another commit's time (a small one made by wixl, whose time a
# commit then takes).
mkdir "$work/tmp" "$work/small"
cat >"$work/small/small.wxs" <<END
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Small" Manufacturer="Tests" Language="1033" UpgradeCode="{6B0D5E2C-3F0A-4C1E-9E51-2D6C1E0B7A10}"
           Version="$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")">
    <Package InstallerVersion="500"/><Directory Id="TARGETDIR" Name="SourceDir"/><Feature Id="All" Level="1"/>
  </Product>
</Wix>
END
(cd "$work/small" && wixl -o small.msi small.wxs)
small="$work/small/small.msi"
# shellcheck disable=SC2317  # run by refused
verify() { (cd "$repo" && TMPDIR="$work/tmp" bash scripts/compare-release.sh "$@"); }
refused "compare-release: no package" "notes.txt is no Windows Installer package" verify HEAD "$work/notes/notes.txt"
refused "compare-release: a missing commit" "nonesuch is no commit of this repository" verify nonesuch "$small"
GIT_COMMITTER_DATE="@$(TZ=UTC date -d "$(TZ=UTC msiinfo suminfo "$small" | sed -n 's/^Last saved: //p')" +%s) +0000" \
  git -C "$repo" -c user.name=Tests -c user.email=tests@fenwarel.invalid commit -q --allow-empty -m "At the package's time"
refused "compare-release: a package of another commit" \
  "small.msi is a package of commit $(git -C "$repo" rev-parse --short=12 HEAD) .*, not of" verify HEAD~1 "$small"
if [ -n "$(ls -A "$work/tmp")" ] || [ -n "$(git -C "$repo" status --porcelain)" ]; then
  echo "FAILED: compare-release.sh wrote before it refused"
  failed=1
fi

# check-reproducible.sh, with release.sh replaced: first by one that makes
# SHA256SUMS but no package, and writes where FENWAREL_DIST says if it can.
cat >"$repo/scripts/release.sh" <<'STUB'
dist="${FENWAREL_DIST:-dist}"
mkdir -p "$dist" && : >"$dist/SHA256SUMS"
STUB
fenwarel_scratch_commit "$repo" "A release without its package"
refused "check-reproducible: no package" "holds 0 packages" \
  env FENWAREL_DIST="$work/notes" bash "$repo/scripts/check-reproducible.sh"
cat >>"$repo/scripts/release.sh" <<'STUB'
echo "not a package" >"$dist/Fenwarel-1.0.0.msi" && : >"$dist/notes.txt"
STUB
fenwarel_scratch_commit "$repo" "A release with a file more"
refused "check-reproducible: a file it does not compare" "notes.txt, which this check does not compare" \
  bash "$repo/scripts/check-reproducible.sh"
echo "exit 3" >>"$repo/scripts/release.sh"
fenwarel_scratch_commit "$repo" "A release that fails"
refused "check-reproducible: release.sh fails" "release.sh failed" bash "$repo/scripts/check-reproducible.sh"

[ "$failed" = 0 ] && echo "Refused, one line each, nothing written: 6 of release.sh, 3 of compare-release.sh," \
  "3 of check-reproducible.sh"
exit "$failed"

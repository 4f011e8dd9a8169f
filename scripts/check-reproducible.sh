#!/usr/bin/env bash
# Usage: bash scripts/check-reproducible.sh
# Shows that the checked-out commit builds the same release wherever and
# whenever it is built: makes its release, unsigned, with release.sh in a
# clone of the commit, then has compare-release.sh rebuild the commit from
# git archive in another folder, later, and compare the package with it, as
# a whole and table by table, stream by stream, file by file; and checks
# SHA256SUMS. None of the caller's release settings is used, and it writes
# only in its own temporary folder. It fails when anything in it failed or
# it compared less than the release holds. Uncommitted changes are not part
# of the commit and not built.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
fenwarel_no_arguments "$@"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$FENWAREL_ROOT/scripts/release-common.sh"
cd "$FENWAREL_ROOT"
fenwarel_forget_release_settings

fail() {
  echo "check-reproducible: $*" >&2
  exit 1
}
commit="$(git rev-parse HEAD)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

copy="$work/first copy"
git clone --quiet --no-checkout --no-hardlinks "$FENWAREL_ROOT" "$copy"
git -C "$copy" checkout --quiet --detach "$commit"
echo "== The release of $commit, made in a clone"
(cd "$copy" && bash scripts/release.sh) >"$work/release.log" 2>&1 ||
  { tail -20 "$work/release.log"; fail "release.sh failed"; }

# Everything the release holds is compared: the package and SHA256SUMS.
dist="$copy/dist"
shopt -s nullglob dotglob
packages=("$dist"/Fenwarel-*.msi)
[ ${#packages[@]} -eq 1 ] || fail "the release holds ${#packages[@]} packages, not 1"
package="${packages[0]}"
for entry in "$dist"/*; do
  [ "$entry" = "$package" ] || [ "$entry" = "$dist/SHA256SUMS" ] ||
    fail "the release holds $(basename -- "$entry"), which this check does not compare"
done
[ -f "$dist/SHA256SUMS" ] || fail "the release has no SHA256SUMS"
[ "$(awk '{ print $2 }' "$dist/SHA256SUMS")" = "$(basename -- "$package")" ] ||
  fail "SHA256SUMS does not list the package alone"
(cd "$dist" && sha256sum --check --strict --quiet SHA256SUMS) || fail "SHA256SUMS does not match the package"

echo "== The commit rebuilt elsewhere and compared"
status=0
(cd "$copy" && bash scripts/compare-release.sh "$commit" "$package") >"$work/verdict" 2>&1 || status=$?
cat "$work/verdict"
[ "$status" = 0 ] || fail "compare-release.sh answered $status"
files="$(msiinfo export "$package" File | tail -n +4 | grep -c .)" || fail "cannot read the package's File table"
grep -q "^== $(basename -- "$package"): the same .*, $files files, every byte; not signed\.$" "$work/verdict" ||
  fail "compare-release.sh did not compare all $files files of the package, every byte"
echo "Reproducible: commit $commit builds the same release: $(basename -- "$package") ($files files," \
  "every table, stream and byte) and its SHA256SUMS."

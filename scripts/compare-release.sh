#!/usr/bin/env bash
# Checks that published packages hold exactly what a commit builds: rebuilds
# the release of COMMIT from `git archive` of it (never from the work tree),
# unsigned, in a temporary folder, and compares each PACKAGE with it: every
# table row by row, every stream, each cabinet's list of files and every
# file's bytes, and an unsigned package (or, with --ca, a signed one) byte
# for byte as a whole. A signed file is compared with the rebuild's file
# carrying the published signature; each signature must match its content,
# and with --ca ROOTS.pem (PEM certificates to trust, a timestamp server's
# root too) chain to one of them; with --ca, anything unsigned differs.
# Prints what differs, by table and row, stream or file, and a verdict per
# package. Exit status: the number of packages that differ (0: all the
# same), 125 when it could not compare.
# Usage: compare-release.sh [--ca ROOTS.pem] COMMIT PACKAGE...
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$FENWAREL_ROOT/scripts/release-common.sh"

fail() {
  echo "compare-release: $*" >&2
  exit 125
}
usage="usage: compare-release.sh [--ca ROOTS.pem] COMMIT PACKAGE..."
ca=()
if [ "${1:-}" = --ca ]; then
  [ $# -ge 2 ] && [ -r "$2" ] || fail "--ca needs a readable file of certificates; $usage"
  ca=(--ca "$(realpath -- "$2")")
  shift 2
fi
[ $# -ge 2 ] || fail "$usage"
name="$1"
shift
packages=()
for package in "$@"; do
  [ -f "$package" ] && [ -r "$package" ] || fail "cannot read the package $package"
  packages+=("$(realpath -- "$package")")
done
cd "$FENWAREL_ROOT"
commit="$(git rev-parse --verify --quiet "$name^{commit}")" || fail "$name is no commit of this repository"

fenwarel_install_deps
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A folder name with spaces: no build path may show in what it builds.
source="$work/source of ${commit:0:12}"
mkdir -p "$source"
git archive "$commit" | tar -x -C "$source"
fenwarel_forget_release_settings
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct "$commit")"
export SOURCE_DATE_EPOCH
echo "Rebuilding commit $commit (unsigned) from git archive"
fenwarel_build_release "$source" "$work/build" >"$work/build.log" 2>&1 ||
  { tail -20 "$work/build.log"; fail "the rebuild of $commit failed"; }
status=0
fenwarel_python "$FENWAREL_ROOT/scripts/compare_package.py" --build "$work/build" --commit "$commit" "${ca[@]}" \
  "${packages[@]}" || status=$?
exit "$status"

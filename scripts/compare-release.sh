#!/usr/bin/env bash
# Usage: bash scripts/compare-release.sh [--ca ROOTS.pem] COMMIT PACKAGE...
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
# same), 125 when it could not compare, a wrong argument too.
# It installs only what the rebuild and the comparison use (no Wine, no
# other architecture, no locales, no fonts), prints a line as each step
# begins, and refuses with one line, before it builds or writes anything:
# a file that is no package, a commit this repository lacks, a package of
# another version or bearing another commit's time.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
# Not 2, which would say that two packages differ.
FENWAREL_USAGE_STATUS=125
case "${1-}" in
  -h | --help)
    fenwarel_usage
    exit 0
    ;;
esac
ca=()
if [ "${1-}" = --ca ]; then
  if [ $# -lt 2 ] || [ ! -r "$2" ]; then
    fenwarel_usage_error "--ca needs a readable file of certificates"
  fi
  ca=(--ca "$(realpath -- "$2")")
  shift 2
fi
for argument in "$@"; do
  [[ "$argument" != -* ]] || fenwarel_usage_error "unknown argument: $argument"
done
[ $# -ge 2 ] || fenwarel_usage_error "a COMMIT and at least one PACKAGE are needed"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$FENWAREL_ROOT/scripts/release-common.sh"

fail() {
  echo "compare-release: $*" >&2
  exit 125
}
name="$1"
shift
# Bad input is refused before anything is built or written: a file that is
# no package (an OLE compound file) here, before anything is installed.
packages=()
for package in "$@"; do
  if [ ! -f "$package" ] || [ ! -r "$package" ]; then fail "cannot read the package $package"; fi
  [ "$(head -c 8 -- "$package" | od -An -tx1 | tr -d ' \n')" = d0cf11e0a1b11ae1 ] ||
    fail "$package is no Windows Installer package"
  packages+=("$(realpath -- "$package")")
done
cd "$FENWAREL_ROOT"
commit=""
resolve_commit() {
  commit="$(git rev-parse --verify --quiet "$name^{commit}")" || fail "$name is no commit of this repository"
}
# Where git is at hand, a missing commit is refused before anything is installed.
if command -v git >/dev/null; then resolve_commit; fi

echo "== Installing what the rebuild and the comparison need, where missing"
fenwarel_install_verifier_deps || fail "the tools of the rebuild cannot be installed"
[ -n "$commit" ] || resolve_commit

# A package of another version, or with another commit's time stamps, is no
# package of this commit: said before the rebuild, which takes minutes.
echo "== Checking each package's version and time against commit ${commit:0:12}"
version="$(git show "$commit:CMakeLists.txt" | sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p')"
when="$(git log -1 --format=%ct "$commit")"
for package in "${packages[@]}"; do
  shown="$(basename -- "$package")"
  published="$(msiinfo export "$package" Property 2>/dev/null | tr -d '\r' | sed -n 's/^ProductVersion\t//p')"
  [ -n "$published" ] || fail "$shown is no Windows Installer package (it has no ProductVersion)"
  [ "$published" = "$version" ] ||
    fail "$shown is a package of version $published; commit ${commit:0:12} builds $version"
  saved="$(TZ=UTC msiinfo suminfo "$package" 2>/dev/null | sed -n 's/^Last saved: //p')"
  saved="$(TZ=UTC date -d "$saved" +%s 2>/dev/null)" || saved=""
  if [ -n "$saved" ] && [ "$saved" != "$when" ]; then
    other="$(git log --all --format='%ct %H' | sed -n "s/^$saved //p" | head -n 1)"
    [ -z "$other" ] ||
      fail "$shown is a package of commit ${other:0:12} (it bears that commit's time), not of ${commit:0:12}"
  fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A folder name with spaces: no build path may show in what it builds.
source="$work/source of ${commit:0:12}"
mkdir -p "$source"
fenwarel_forget_release_settings
SOURCE_DATE_EPOCH="$when"
export SOURCE_DATE_EPOCH
echo "== Rebuilding commit $commit (unsigned) from git archive"
git archive "$commit" | tar -x -C "$source"
fenwarel_build_release "$source" "$work/build" >"$work/build.log" 2>&1 ||
  { tail -20 "$work/build.log"; fail "the rebuild of $commit failed"; }
echo "== Comparing each package with the rebuild"
status=0
fenwarel_python "$FENWAREL_ROOT/scripts/compare_package.py" --build "$work/build" --commit "$commit" "${ca[@]}" \
  "${packages[@]}" || status=$?
exit "$status"

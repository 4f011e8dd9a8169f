#!/usr/bin/env bash
# The install step on an imperfect day, without the network: apt-get and
# dpkg are stand-ins that fail as a mirror in the middle of a sync makes the
# real ones fail, and the step's exit status and its lines are checked.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
failures=0

# apt-get: what it was asked is appended to calls; $APT_MODE says how it fails.
cat >"$work/bin/apt-get" <<'END'
#!/usr/bin/env bash
echo "apt-get $*" >>"$APT_CALLS"
case " $* " in
  *" update "*)
    [ "$APT_MODE" = index ] || exit 0
    echo "Err:5 http://deb.example/debian-security bookworm-security/main i386 Packages"
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
esac
broken() {
  echo "The following packages have unmet dependencies:"
  echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
  echo "E: Unable to correct problems, you have held broken packages."
  exit 100
}
case "$APT_MODE" in
  resolver-once) [[ " $* " == *" -t bookworm "* ]] || broken ;;
  no-wine32) [[ " $* " != *" wine32:i386 "* ]] || broken ;;
  gone) [[ " $* " != *" frobnicate "* ]] || { echo "E: Unable to locate package frobnicate"; exit 100; } ;;
esac
[[ " $* " != *" wine32:i386 "* ]] || touch "$APT_CALLS.wine32"
exit 0
END
# dpkg: i386 is known; wine32:i386 is not installed, everything else is.
cat >"$work/bin/dpkg" <<'END'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) echo i386 ;;
  -s) [ "$2" != wine32:i386 ] || [ -f "$APT_CALLS.wine32" ] ;;
esac
END
chmod +x "$work/bin/apt-get" "$work/bin/dpkg"
printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$work/os-release"

# Runs the step in MODE; its output goes to $work/out, its status to $status,
# the tiers it leaves to $tiers.
run_step() {
  export APT_MODE="$1" APT_CALLS="$work/calls"
  : >"$APT_CALLS"
  rm -f "$APT_CALLS.wine32"
  set +e
  (
    set -e
    unset FENWAREL_TWIN_ONLY FENWAREL_WINE32_MISSING
    export PATH="$work/bin:$PATH" FENWAREL_APT_WAIT=0 FENWAREL_OS_RELEASE="$work/os-release"
    export FENWAREL_RUNS_32BIT=1
    source "$root/scripts/common.sh"
    as_root() { "$@"; }
    fenwarel_generate_locales() { :; }
    FENWAREL_COMMANDS="frobnicate frobnicate"
    fenwarel_install_deps
    echo "tiers: $(fenwarel_windows_tiers)"
    fenwarel_describe_host
  ) >"$work/out" 2>&1
  status=$?
  set -e
}
expect() {  # WHAT CONDITION...
  local what="$1"
  shift
  if ! "$@"; then
    echo "FAIL ($APT_MODE): $what"
    sed 's/^/    /' "$work/out"
    failures=$((failures + 1))
  fi
}
lines() { grep -c -- "$1" "$2" || true; }

run_step index
expect "the step goes on" [ "$status" -eq 0 ]
expect "three tries of the lists" [ "$(lines ' update' "$work/calls")" -eq 3 ]
expect "one line names the index" [ "$(lines 'not fetched: .*binary-i386/Packages.xz File has unexpected size' "$work/out")" -eq 1 ]
expect "the packages installed after all" [ "$(lines ' install ' "$work/calls")" -eq 1 ]

run_step resolver-once
expect "the step succeeds" [ "$status" -eq 0 ]
expect "one line says so" [ "$(lines "preferring the release's own suite, bookworm" "$work/out")" -eq 1 ]
expect "the second try prefers bookworm" grep -q -- 'install .*-t bookworm .*frobnicate' "$work/calls"
expect "all three tiers" grep -qx 'tiers: win64 win32 wow64' "$work/out"

run_step no-wine32
expect "the step succeeds" [ "$status" -eq 0 ]
expect "one line says why" [ "$(lines 'wine32:i386) cannot be installed: E: Unable to correct problems' "$work/out")" -eq 1 ]
expect "the rest installed without it" grep -qx 'apt-get -q install -y --no-install-recommends frobnicate' "$work/calls"
expect "only the twin's tier" grep -qx 'tiers: win64' "$work/out"
expect "the tiers that do not run are named" grep -q 'win32 (.*) and wow64 (.*)' "$work/out"

run_step gone
expect "the step fails" [ "$status" -ne 0 ]
expect "with apt's reason in one line" [ "$(lines 'Could not install .*E: Unable to locate package frobnicate' "$work/out")" -eq 1 ]

# compare-release.sh's own step on a machine that lacks all it calls: only
# its PATH's stand-ins and the few commands the step itself uses are there.
# It asks for its tools and nothing of the tests: no Wine, no other
# architecture, no locales, no fonts.
mkdir "$work/bare"
for command in apt-get dpkg; do ln -s "$work/bin/$command" "$work/bare/$command"; done
for command in bash env dirname mktemp rm sed paste grep sort tee tail; do ln -s "$(command -v "$command")" "$work/bare/$command"; done
cat >"$work/bare/locale-gen" <<'END'
#!/bin/sh
echo "locale-gen $*" >>"$APT_CALLS"
END
chmod +x "$work/bare/locale-gen"
export APT_MODE=verifier APT_CALLS="$work/calls"
: >"$APT_CALLS"
status=0
# shellcheck disable=SC2016  # the script that the bare PATH's bash runs
PATH="$work/bare" "$BASH" -c 'set -e
  source "$1/scripts/common.sh"
  source "$1/scripts/release-common.sh"
  as_root() { "$@"; }
  fenwarel_python() { return 1; }
  fenwarel_install_verifier_deps' bash "$root" >"$work/out" 2>&1 || status=$?
expect "the step succeeds" [ "$status" -eq 0 ]
expect "its tools in one install" grep -q 'install .*g++-mingw-w64-i686-posix.* msitools .*python3-pefile.* wixl' "$work/calls"
expect "nothing of the tests" [ "$(grep -cE 'wine|i386|locale|fonts|imagemagick|googletest|xvfb' "$work/calls")" -eq 0 ]

[ "$failures" -eq 0 ] && echo "install step: every case as expected"
exit "$failures"

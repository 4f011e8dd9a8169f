#!/usr/bin/env bash
# Every script in scripts/ answers --help with its usage on stdout and exit
# 0, and an unknown argument with its usage on stderr and a failure; both
# before it installs, builds or runs anything: the commands that would are
# stand-ins here that note their call and fail. Sourced, the shared files
# leave the caller's arguments alone.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
for command in apt-get dpkg sudo cmake ctest git make debootstrap chroot mount Xvfb locale-gen \
  clang-tidy shellcheck msiinfo wixl; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/ran"\nexit 97\n' "$command" "$work" >"$work/bin/$command"
  chmod +x "$work/bin/$command"
done
export PATH="$work/bin:$PATH"
failures=0
fail() {
  echo "FAIL: $1"
  sed 's/^/    /' "$work/out" "$work/err"
  failures=$((failures + 1))
}

for script in "$root"/scripts/*.sh "$root"/scripts/*.py; do
  name="scripts/$(basename "$script")"
  shell=bash
  [[ "$script" != *.py ]] || shell=python3
  status=0
  (cd "$work" && "$shell" "$script" --help) >"$work/out" 2>"$work/err" || status=$?
  { [ "$status" -eq 0 ] && grep -q '^[Uu]sage' "$work/out"; } || fail "$name --help: exit $status"
  status=0
  (cd "$work" && "$shell" "$script" --no-such-option) >"$work/out" 2>"$work/err" || status=$?
  { [ "$status" -ne 0 ] && grep -q '^[Uu]sage' "$work/err"; } ||
    fail "$name --no-such-option: exit $status, the usage not on stderr"
done

(
  set -- --no-such-option
  source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/usage.sh"
  source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
  source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/release-common.sh"
  source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh" "win64"
  echo sourced
) >"$work/out" 2>"$work/err" || true
grep -qx sourced "$work/out" || fail "the shared files, sourced, took the caller's arguments"

if [ -s "$work/ran" ]; then
  cp "$work/ran" "$work/out"
  : >"$work/err"
  fail "these ran, though every script only answered"
fi
[ "$failures" -eq 0 ] && echo "scripts: each answers --help and refuses an unknown argument, running nothing"
exit "$failures"

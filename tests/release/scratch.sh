# shellcheck shell=bash
# Sourced by the release tools' tests: forgets the caller's release
# settings, makes a temporary folder WORK (removed on exit) and in it REPO,
# a git repository holding the work tree's tracked files, as they are now,
# as one commit; so that the tools run on this work tree's scripts and never
# touch its dist/ or build/.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
source "$FENWAREL_ROOT/scripts/release-common.sh"
fenwarel_forget_release_settings

fenwarel_scratch_commit() {
  git -C "$1" add -A
  git -C "$1" -c user.name=Tests -c user.email=tests@fenwarel.invalid commit -q -m "$2"
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
repo="$work/repo"
mkdir -p "$repo"
(cd "$FENWAREL_ROOT" && git ls-files -z | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) |
  tar -x -C "$repo"
git -C "$repo" init -q
fenwarel_scratch_commit "$repo" "The work tree as it is"

# Shared by the release tools' tests: a git repository of its own holding
# the work tree's files as one commit, so that the tools run on this work
# tree's scripts and never touch its dist/ or build/.

# Copies the work tree's tracked files, as they are now, into DIR and
# commits them there.
fenwarel_scratch_repo() {
  local dir="$1"
  mkdir -p "$dir"
  (cd "$FENWAREL_ROOT" && git ls-files -z | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) |
    tar -x -C "$dir"
  git -C "$dir" init -q
  fenwarel_scratch_commit "$dir" "The work tree as it is"
}

fenwarel_scratch_commit() {
  git -C "$1" add -A
  git -C "$1" -c user.name=Tests -c user.email=tests@fenwarel.invalid commit -q -m "$2"
}

#!/usr/bin/env bash
# The newcomer's test: a bare Debian (12 "bookworm" or 13 "trixie", the
# default) made by debootstrap --variant=minbase, a clone of this repository's
# committed HEAD in it, and the README's two commands run there exactly as
# written, as root with an empty environment. Reports each command's exit
# code and time, the tests' summary and the screenshot, which is copied out
# with both logs to build/fresh-debian/. Everything it made is unmounted and
# removed however it ends. Needs root; downloads every package, so it takes
# a while and is no part of CI.
#
#   bash scripts/try-fresh-debian.sh [bookworm|trixie]
#   FENWAREL_DEBIAN_MIRROR=URL   another Debian mirror for debootstrap
set -euo pipefail
release="${1:-trixie}"
case "$release" in
  bookworm | trixie) ;;
  *)
    echo "usage: $0 [bookworm|trixie]" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "$0 needs root: it runs debootstrap, mounts and chroot." >&2
  exit 2
fi
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$repo/build/fresh-debian"
mkdir -p "$out"

# What this script calls beyond Debian's essential set.
FENWAREL_FRESH_COMMANDS="
debootstrap debootstrap
mount mount
umount mount
git git
"
source "$repo/scripts/common.sh"
mapfile -t need < <(fenwarel_missing_packages "$FENWAREL_FRESH_COMMANDS" | sort -u)
if [ ${#need[@]} -gt 0 ]; then
  fenwarel_apt_update
  fenwarel_apt_install "${need[@]}" || {
    echo "Could not install ${need[*]}: $FENWAREL_APT_REASON" >&2
    exit 1
  }
fi

commit="$(git -C "$repo" rev-parse HEAD)"
work="$(mktemp -d "${TMPDIR:-/var/tmp}/fresh-debian.XXXXXX")"
root="$work/root"
mounted=()

# Ends what still runs in the root (Wine, Xvfb), unmounts, and removes the
# root only when nothing is mounted below it any more.
cleanup() {
  local pid i
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -9 "$pid" 2>/dev/null
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  if grep -q " $root[/ ]" /proc/mounts; then
    echo "Still mounted below $root; left in place:" >&2
    grep " $root[/ ]" /proc/mounts >&2
    return
  fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== debootstrap --variant=minbase $release"
start=$SECONDS
debootstrap --variant=minbase "$release" "$root" ${FENWAREL_DEBIAN_MIRROR:+"$FENWAREL_DEBIAN_MIRROR"} \
  >"$work/debootstrap.log" 2>&1 || {
  tail -20 "$work/debootstrap.log"
  exit 1
}
echo "   $((SECONDS - start)) s"

mount_in() {
  mkdir -p "$root$2"
  mount "${@:3}" "$1" "$root$2"
  mounted+=("$root$2")
}
mount_in proc /proc -t proc
mount_in sysfs /sys -t sysfs
mount_in /dev /dev --bind
mount_in devpts /dev/pts -t devpts -o newinstance,ptmxmode=0666
mount_in shm /dev/shm -t tmpfs
mount_in tmp /tmp -t tmpfs

git clone -q --no-checkout "$repo" "$root/root/fenwarel"
git -C "$root/root/fenwarel" checkout -q --detach "$commit"

# The README's commands, as its block of shell commands lists them.
mapfile -t commands < <(sed -n '/^```sh$/,/^```$/p' "$root/root/fenwarel/README.md" |
  grep '^bash ' | sed 's/ *#.*//')
[ ${#commands[@]} -eq 2 ] || {
  echo "The README lists ${#commands[@]} commands, not two." >&2
  exit 1
}

results=()
status=0
for command in "${commands[@]}"; do
  name="$(basename "${command#bash }" .sh)"
  log="$out/$release-$name.log"
  echo "== $command  (log: $log)"
  start=$SECONDS
  code=0
  # In the background, so that a signal to this script is handled at once.
  chroot "$root" /usr/bin/env -i /bin/bash -c "cd /root/fenwarel && $command" >"$log" 2>&1 &
  wait $! || code=$?
  took=$((SECONDS - start))
  results+=("$(printf '%-22s exit %d  %d min %02d s' "$command" "$code" $((took / 60)) $((took % 60)))")
  [ "$code" -eq 0 ] || {
    status=1
    tail -15 "$log"
  }
done

echo
echo "== Debian $release ($(cat "$root/etc/debian_version")), commit ${commit:0:12}"
printf '%s\n' "${results[@]}"
echo "Wine: $(chroot "$root" /usr/bin/env -i /bin/bash -c '/usr/lib/wine/wine64 --version' 2>/dev/null || echo none)"
echo "Tests:"
grep -E '^== Passed|^   and the Windows|tests passed|^Reproducible' "$out/$release-test.log" | sed 's/^/  /' || true
shot="$(sed -n 's/^Screenshot of the dialog[^:]*: //p' "$out/$release-run.log")"
if [ -n "$shot" ] && [ -f "$root$shot" ]; then
  cp "$root$shot" "$out/$release-dialog.png"
  echo "Screenshot: $shot in the root, copied to $out/$release-dialog.png"
else
  echo "Screenshot: none"
fi
exit "$status"

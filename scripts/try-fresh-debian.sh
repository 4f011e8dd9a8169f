#!/usr/bin/env bash
# Usage: bash scripts/try-fresh-debian.sh [bookworm|trixie] [--mid-sync] [--verify=PACKAGE]
# The newcomer's test: a bare Debian (12 "bookworm" or 13 "trixie", the
# default) made by debootstrap --variant=minbase, with the apt sources of a
# real installation (the release, its -updates and -security suites, from
# the host's own addresses), a clone of this repository's committed HEAD in
# it, and the README's two commands run there exactly as written, as root
# with an empty environment. Reports each command's exit code and time, the
# tests' summary and the screenshot, which is copied out with both logs to
# build/fresh-debian/. Everything it made is unmounted and removed however
# it ends. Needs root; downloads every package, so it takes a while and is
# no part of CI.
#
#   --mid-sync                   adds a local package source whose index never
#                                matches its Release file ("Hash Sum
#                                mismatch"), as a mirror in mid-sync serves
#   --verify=PACKAGE             runs, instead of the README's commands, the
#                                verifier of a release, compare-release.sh,
#                                on PACKAGE (the release of HEAD), and says
#                                whether it installed Wine, a foreign
#                                architecture, locales or fonts
#   FENWAREL_DEBIAN_MIRROR=URL   another Debian mirror for debootstrap and the root
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
release=trixie
mid_sync=0
verify=""
for argument in "$@"; do
  case "$argument" in
    bookworm | trixie) release="$argument" ;;
    --mid-sync) mid_sync=1 ;;
    --verify=?*) verify="$(realpath -- "${argument#--verify=}")" ;;
    -h | --help)
      fenwarel_usage
      exit 0
      ;;
    *) fenwarel_usage_error "unknown argument: $argument" ;;
  esac
done
tag="$release$([ "$mid_sync" = 0 ] || echo -mid-sync)$([ -z "$verify" ] || echo -verify)"
[ -z "$verify" ] || [ -f "$verify" ] || fenwarel_usage_error "no such package: $verify"
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
  echo "== Installing on the host: ${need[*]}"
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
# shellcheck disable=SC2317  # run by the trap below
cleanup() {
  local process i
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ] && kill -9 "${process#/proc/}" 2>/dev/null
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  if grep -q " ${root}[/ ]" /proc/mounts; then
    echo "Still mounted below $root; left in place:" >&2
    grep " ${root}[/ ]" /proc/mounts >&2
    return
  fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The host's address of the archive whose Release file carries LABEL
# (Debian, Debian-Security), as apt read it: not a commented line, not
# another vendor's archive that happens to end in /debian.
host_archive() {
  # shellcheck disable=SC2016  # apt's own fields, not the shell's
  apt-get indextargets --format '$(LABEL)|$(REPO_URI)' 2>/dev/null |
    sed -n "s/^$1|//p" | sed 's|/$||' | head -n 1 || true
}
archive="${FENWAREL_DEBIAN_MIRROR:-$(host_archive Debian)}"
security="$(host_archive Debian-Security)"

echo "== debootstrap --variant=minbase $release"
start=$SECONDS
# ca-certificates for a host whose archives are reached over https.
debootstrap --variant=minbase --include=ca-certificates "$release" "$root" ${archive:+"$archive"} \
  >"$work/debootstrap.log" 2>&1 || {
  tail -20 "$work/debootstrap.log"
  exit 1
}
echo "   $((SECONDS - start)) s"

cat >"$root/etc/apt/sources.list" <<END
deb ${archive:-http://deb.debian.org/debian} $release main
deb ${archive:-http://deb.debian.org/debian} $release-updates main
deb ${security:-http://deb.debian.org/debian-security} $release-security main
END
if [ "$mid_sync" = 1 ]; then
  # A suite whose Release file names another index than the one it holds.
  suite="$root/srv/mid-sync/dists/mid-sync"
  mkdir -p "$suite/main/binary-amd64"
  printf 'Package: fenwarel-mid-sync\nVersion: 1\nArchitecture: all\nDescription: none\n\n' \
    >"$suite/main/binary-amd64/Packages"
  printf 'Suite: mid-sync\nCodename: mid-sync\nArchitectures: amd64\nComponents: main\nSHA256:\n %s %s main/binary-amd64/Packages\n' \
    "$(printf 'another index' | sha256sum | cut -d ' ' -f 1)" "$(wc -c <"$suite/main/binary-amd64/Packages")" \
    >"$suite/Release"
  echo "deb [trusted=yes] copy:/srv/mid-sync mid-sync main" >>"$root/etc/apt/sources.list"
fi
echo "== apt sources in the root:"
sed 's/^/   /' "$root/etc/apt/sources.list"

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
# shellcheck disable=SC2016  # Markdown's fences
mapfile -t commands < <(sed -n '/^```sh$/,/^```$/p' "$root/root/fenwarel/README.md" |
  grep '^bash ' | sed 's/ *#.*//')
[ ${#commands[@]} -eq 2 ] || {
  echo "The README lists ${#commands[@]} commands, not two." >&2
  exit 1
}
if [ -n "$verify" ]; then
  cp -- "$verify" "$root/root/"
  commands=("bash scripts/compare-release.sh $commit /root/$(basename -- "$verify")")
fi

results=()
status=0
for command in "${commands[@]}"; do
  script="${command#bash }"
  name="$(basename "${script%% *}" .sh)"
  log="$out/$tag-$name.log"
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
echo "== Debian $release ($(cat "$root/etc/debian_version")), commit ${commit:0:12}$([ "$mid_sync" = 0 ] || echo ", with a source mid-sync")"
printf '%s\n' "${results[@]}"
echo "Wine: $(chroot "$root" /usr/bin/env -i /bin/bash -c '/usr/lib/wine/wine64 --version' 2>/dev/null || echo none)"
if [ -n "$verify" ]; then
  echo "Verdict: $(grep -h '^== Fenwarel' "$out/$tag-compare-release.log" || echo none)"
  # shellcheck disable=SC2016  # dpkg-query's own field
  echo "Installed in the root: $(chroot "$root" dpkg-query -W -f '${Package}\n' 2>/dev/null |
    grep -E '^(wine|locales|fonts-)' | tr '\n' ' ')(foreign architectures: $(chroot "$root" dpkg --print-foreign-architectures | tr '\n' ' '))"
  exit "$status"
fi
echo "Tests:"
grep -hE '^== Passed|^   and the Windows|tests passed|^Reproducible|^apt-get|^The 32-bit Wine' \
  "$out/$tag-run.log" "$out/$tag-test.log" | sed 's/^/  /' || true
shot="$(sed -n 's/^Screenshot of the dialog[^:]*: //p' "$out/$tag-run.log")"
if [ -n "$shot" ] && [ -f "$root$shot" ]; then
  cp "$root$shot" "$out/$tag-dialog.png"
  echo "Screenshot: $shot in the root, copied to $out/$tag-dialog.png"
else
  echo "Screenshot: none"
fi
exit "$status"

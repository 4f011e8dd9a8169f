#!/usr/bin/env bash
# A display driver planted in the current folder and on PATH, with the
# program as the first process of a fresh Wine session, as when a user
# starts it: Wine's own processes of the session look the driver up by name
# and may take the planted one as the session's; the program's process must
# never run it, in -i and in a normal start. Where the session's driver is
# the real one, the normal start opens and saves. The sessions run in a
# prefix of this test's own, since each is ended at once.
# Usage: fresh_session.sh win32|win64 BIN_DIR
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh" "$1"
bin="$2"
wine="$WINELOADER"
export WINEPREFIX="$WINEPREFIX-fresh-session"
marker='HKLM\Software\Zelmoor\Hotkey'
settings='HKLM\SYSTEM\CurrentControlSet\Services\Vorkel'
# Through WoW64 the 32-bit program's marker is in the 32-bit view.
view=()
[ "$fenwarel_wine" = wow64 ] && view=(/reg:32)

end_session() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
}
trap end_session EXIT
if [ ! -f "$WINEPREFIX/.fenwarel-fresh-session-1" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (once)"
  rm -rf "$WINEPREFIX"
  # A copy of the tier's prefix, where there is one, is made in a second;
  # what other tests left of the program's own keys goes.
  tier="${WINEPREFIX%-fresh-session}"
  if [ -f "$tier/.fenwarel-prefix-4" ]; then
    cp -a "$tier" "$WINEPREFIX"
    "$wine" reg delete "$marker" /f "${view[@]}" >/dev/null 2>&1 || true
    "$wine" reg delete "$settings" /f >/dev/null 2>&1 || true
  else
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
  fi
  end_session
  touch "$WINEPREFIX/.fenwarel-fresh-session-1"
fi
work="$bin/fresh-session"
rm -rf "$work"
mkdir -p "$work/current" "$work/path"
path_folder="Z:${work//\//\\}\\path"

failed=0
fail() { echo "FAILED: $*"; failed=1; }
query() { "$wine" reg query "$@" 2>/dev/null | tr -d '\r'; }

# MODE ("-i" or "" for a normal start) and the folders that hold the driver.
session() {
  local mode="$1" places="$2" status=0 helper="" ran
  local what="${mode:-a normal start} with the driver in: $places"
  end_session
  rm -f "$work"/current/* "$work"/path/*
  for place in $places; do cp "$bin/planted-driver/winemac.drv" "$work/$place/"; done
  (cd "$work/current" &&
    WINEPATH="$path_folder" exec timeout 60 "$wine" "$bin/Fenwarel.exe" ${mode:+"$mode"}) \
    </dev/null >/dev/null 2>&1 &
  local program=$!
  if [ -z "$mode" ]; then
    # Once the program has started the session: it ticks the hibernation box
    # and presses OK where the dialog opens.
    sleep 2
    (cd "$bin" && exec "$wine" e2e_tests.exe --gtest_also_run_disabled_tests \
      --gtest_filter='DISABLED_FreshSession.*') </dev/null >"$work/helper.log" 2>&1 &
    helper=$!
  fi
  wait "$program" || status=$?
  if [ -n "$helper" ]; then
    kill "$helper" 2>/dev/null || true
    wait "$helper" 2>/dev/null || true
  fi
  [ "$status" = 0 ] || fail "$what: the program exited with $status (124: still running after 60 s)"

  # Each copy's log names the program file of every process it ran in.
  for place in $places; do
    ran="$(tr -d '\r' <"$work/$place/winemac.drv.log" 2>/dev/null | sort -u | paste -sd ' ' - || true)"
    echo "$what: the copy in the $place folder ran in: ${ran:-no process}"
    if grep -qi 'Fenwarel\.exe' <<<"$ran"; then
      fail "$what: the copy in the $place folder ran inside the program"
    fi
  done
  ran="$(cat "$work"/*/winemac.drv.log 2>/dev/null || true)"
  if [ "$mode" = -i ]; then
    query "$marker" /ve "${view[@]}" | grep -q 'REG_SZ *1$' || fail "$what: no marker"
  elif [ -z "$ran" ]; then
    query "$settings" /v StickyKey | grep -q 'REG_DWORD *0x40$' ||
      fail "$what: not saved ($(tr -d '\r' <"$work/helper.log" | grep -m 1 -E 'Failure|no dialog' || true))"
  else
    # Wine's own processes took the planted driver as the session's, and the
    # program does not load it: it can open no window there.
    echo "$what: the session's driver is the planted one; no dialog to save"
  fi
  "$wine" reg delete "$marker" /f "${view[@]}" >/dev/null 2>&1 || true
  "$wine" reg delete "$settings" /f >/dev/null 2>&1 || true
}

session -i "current path"
session "" "current path"
session "" "current"

[ "$failed" = 0 ] && echo "No planted display driver ran inside the program"
exit "$failed"

#!/usr/bin/env bash
# The display and the Wine server that a tier's tests need, as CTest's
# fixtures, so that `ctest --preset <tier>` runs on its own: `start` gives
# what the caller has not given (a display, the prefix's server with Wine's
# own services) and notes what it started; `stop` ends that and nothing else.
# A display it started is handed to the tests through a file beside the
# prefix, which scripts/wine-env.sh reads where DISPLAY is unset.
# Usage: tier_fixture.sh start|stop win32|win64 STATE_FILE
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
[ $# -eq 3 ] || { echo "usage: tier_fixture.sh start|stop win32|win64 STATE_FILE" >&2; exit 2; }
action="$1"
state="$3"
source "$FENWAREL_ROOT/scripts/wine-env.sh" "$2"

# Whether a server of this prefix runs: ours or the caller's.
server_runs() {
  local comm
  for comm in /proc/[0-9]*/comm; do
    case "$(cat "$comm" 2>/dev/null)" in
      wineserver | wineserver32 | wineserver64)
        tr '\0' '\n' <"${comm%/comm}/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
          return 0
        ;;
    esac
  done
  return 1
}

case "$action" in
  start)
    : >"$state"
    if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
      unset DISPLAY
      # Nothing of CTest's output is left open in what outlives this script.
      fenwarel_start_display </dev/null
      echo "xvfb $FENWAREL_XVFB_PID" >>"$state"
      echo "$DISPLAY" >"$WINEPREFIX.display"
      echo "display $WINEPREFIX.display" >>"$state"
      echo "started a display, $DISPLAY"
    fi
    if ! server_runs; then
      fenwarel_prepare_prefix "$2" </dev/null >"$state.log" 2>&1
      echo "server $WINESERVER $WINEPREFIX" >>"$state"
      echo "started the server of $WINEPREFIX"
    fi
    ;;
  stop)
    [ -f "$state" ] || exit 0
    while read -r kind first second; do
      case "$kind" in
        server)
          WINEPREFIX="$second" "$first" -k >/dev/null 2>&1 || true
          WINEPREFIX="$second" "$first" -w >/dev/null 2>&1 || true
          echo "stopped the server of $second"
          ;;
        display) rm -f "$first" ;;
        xvfb)
          kill "$first" 2>/dev/null || true
          echo "stopped the display it started"
          ;;
      esac
    done <"$state"
    rm -f "$state" "$state.log"
    ;;
  *)
    echo "usage: tier_fixture.sh start|stop win32|win64 STATE_FILE" >&2
    exit 2
    ;;
esac

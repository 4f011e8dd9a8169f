#!/usr/bin/env bash
# Usage: bash scripts/run.sh
# Builds the program and opens its dialog under Wine, beside the stand-in
# hotkey service: the 32-bit program where the host runs 32-bit code, else
# its 64-bit test twin (FENWAREL_TWIN_ONLY=1 chooses the twin anywhere). On a display it waits until the dialog is closed and then
# lists what the service received; without one it starts Xvfb, saves a
# screenshot of the dialog and says where.
#
#   FENWAREL_DPI=144   show the dialog at another resolution (default 96)
#   FENWAREL_ARGS=-i   start with arguments, as an installer would
#   LANG=de_DE.UTF-8   the user-interface language, for the language files
#
# The demo has Wine prefixes of its own (build/wineprefix-demo, and
# build/wineprefix-demo-x64 for the twin), so it shows what earlier demos
# saved, never what the tests left; delete that folder to start clean.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
fenwarel_no_arguments "$@"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT
export FENWAREL_PREFIX_WIN32="$FENWAREL_ROOT/build/wineprefix-demo"
export FENWAREL_PREFIX_WIN64="$FENWAREL_ROOT/build/wineprefix-demo-x64"

# A root shell in a container often has no LANG: English then. Wine takes
# the language from LANG but its ANSI code page from LC_ALL, and a prefix
# made in another language keeps that one unless both are set. Both are set
# once the locale exists, which a fresh machine first has to make.
language="${LC_ALL:-${LANG:-en_US.UTF-8}}"
fenwarel_install_deps
fenwarel_generate_locales "$language"
export LANG="${LANG:-en_US.UTF-8}" LC_ALL="$language"
fenwarel_pick_build
echo "== Building $FENWAREL_BUILD_KIND (preset $FENWAREL_PRESET)"
cmake --preset "$FENWAREL_PRESET" >/dev/null
cmake --build --preset "$FENWAREL_PRESET"

headless=1
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then headless=0; fi
echo "== Starting Wine and the dialog"
fenwarel_start_display
fenwarel_prepare_prefix "$FENWAREL_WINE"
wine="$WINELOADER"

dpi="${FENWAREL_DPI:-96}"
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
"$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
  /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1

bin="$FENWAREL_ROOT/build/$FENWAREL_PRESET/bin"
log="$bin/vorkel-messages.log"
rm -f "$log"
(cd "$bin" && "$wine" VorkelStandIn.exe 'vorkel-messages.log' </dev/null >/dev/null 2>&1 &)
sleep 1

if [ "$headless" -eq 0 ]; then
  # shellcheck disable=SC2086  # the arguments go over as the user wrote them
  (cd "$bin" && "$wine" Fenwarel.exe ${FENWAREL_ARGS:-}) || true
  sleep 0.5
  echo "The hotkey service stand-in received (message wParam lParam):"
  cat "$log" 2>/dev/null || echo "  nothing"
  exit 0
fi

shots="$FENWAREL_ROOT/build/screenshots"
mkdir -p "$shots"
args="${FENWAREL_ARGS:-}"
name="dialog-${LANG%%.*}-${dpi}dpi-${FENWAREL_WINE}${args:+-$args}"
name="${name//[^A-Za-z0-9_-]/}"
# shellcheck disable=SC2086  # the arguments go over as the user wrote them
(cd "$bin" && exec "$wine" Fenwarel.exe $args </dev/null >/dev/null 2>&1) &
status=0
fenwarel_capture_dialog "$shots/$name.png" $! || status=$?
case "$status" in
  0) echo "Screenshot of the dialog ($FENWAREL_BUILD_KIND): $shots/$name.png" ;;
  1)
    # An installer's switch, or another argument: no window, as it should be.
    sleep 0.5
    echo "Fenwarel.exe ${args} ended without showing a window."
    echo "The hotkey service stand-in received (message wParam lParam):"
    cat "$log" 2>/dev/null || echo "  nothing"
    ;;
  *)
    echo "The dialog did not appear within 30 s" >&2
    exit 1
    ;;
esac

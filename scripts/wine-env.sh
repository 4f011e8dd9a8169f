# shellcheck shell=bash
# Usage: source scripts/wine-env.sh [win32|wow64|win64], from another script
# Sourced by the scripts with the Wine to use: win32 (the 32-bit program on
# a 32-bit Windows, the default), wow64 (the 32-bit program through WoW64 on
# a 64-bit Windows, its usual home) or win64 (the 64-bit test twin). Sets
# that Wine's private prefix of the build tree and the settings every Wine
# process of ours runs with. Each names its loader and server itself:
# Debian's `wine` wrapper takes the 32-bit loader whenever it is installed,
# even where the host cannot run it. The 64-bit loader hands a 32-bit
# program to the 32-bit one, in the same 64-bit prefix.
# FENWAREL_WOW64=1 turns win32 into wow64: the tests of the 32-bit build,
# whose CTest files name win32, run through WoW64 (CTest preset windows-wow64).

# Run rather than sourced, it answers with this usage.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
  fenwarel_library "$@"
fi
: "${FENWAREL_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
fenwarel_wine="${1:-win32}"
if [ "$fenwarel_wine" = win32 ] && [ "${FENWAREL_WOW64:-0}" = 1 ]; then fenwarel_wine=wow64; fi
case "$fenwarel_wine" in
  win32)
    export WINEARCH=win32
    export WINEPREFIX="${FENWAREL_PREFIX_WIN32:-$FENWAREL_ROOT/build/wineprefix}"
    export WINELOADER=/usr/lib/wine/wine
    export WINESERVER=/usr/lib/wine/wineserver32
    ;;
  win64)
    export WINEARCH=win64
    export WINEPREFIX="${FENWAREL_PREFIX_WIN64:-$FENWAREL_ROOT/build/wineprefix-x64}"
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
    ;;
  wow64)
    export WINEARCH=win64
    export WINEPREFIX="${FENWAREL_PREFIX_WOW64:-$FENWAREL_ROOT/build/wineprefix-wow64}"
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
    ;;
  *)
    echo "wine-env.sh: unknown Wine '$fenwarel_wine' (win32, wow64 or win64)" >&2
    return 2
    ;;
esac
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A display that a tier's CTest fixture started (tests/tier_fixture.sh), for
# tests that ctest started without one.
if [ -z "${DISPLAY:-}" ] && [ -s "$WINEPREFIX.display" ]; then
  DISPLAY="$(cat "$WINEPREFIX.display")"
  export DISPLAY
fi

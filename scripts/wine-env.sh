# Sourced by the scripts with the Wine to use: win32 (the 32-bit program,
# the default) or win64 (its 64-bit test twin). Sets that Wine's private
# prefix of the build tree and the settings every Wine process of ours runs
# with. Each names its loader and server itself: Debian's `wine` wrapper
# takes the 32-bit loader whenever it is installed, even where the host
# cannot run it.
: "${FENWAREL_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
case "${1:-win32}" in
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
  *)
    echo "wine-env.sh: unknown Wine '$1' (win32 or win64)" >&2
    return 2
    ;;
esac
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

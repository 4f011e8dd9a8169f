#!/usr/bin/env bash
# Sets the screen's resolution of the tests' prefix for the processes started
# after it: set_dpi.sh win32|win64 DPI. Wine 8 reads it at each process start;
# Wine 10 once for its session, so the session starts anew: its server and
# Wine's own service processes, with their output discarded, as the scripts
# start them.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh" "$1"
for key in 'HKCU\Control Panel\Desktop' 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
  "$WINELOADER" reg add "$key" /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null 2>&1 ||
    { echo "set_dpi.sh: reg add $key failed" >&2; exit 1; }
done
# Not one of them may hold CTest's output, or CTest waits for it forever.
exec </dev/null >/dev/null 2>&1
"$WINESERVER" -k || true
"$WINESERVER" -w
"$WINESERVER" -p
"$WINELOADER" wineboot

#!/usr/bin/env bash
# -i and -u started by an installer that has no desktop to give (a headless
# msiexec): the program cannot make its hidden window, and still sets and
# clears the marker and tells the service, which needs no window of ours.
# Usage: no_display.sh win32|win64 BIN_DIR
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh" "$1"
cd "$2"
wine="$WINELOADER"
marker='HKLM\Software\Zelmoor\Hotkey'
log=no-display-messages.log
# `reg` is 64-bit in a 64-bit prefix: through WoW64 the 32-bit program's
# marker is in the 32-bit view (Software\WOW6432Node), and the 64-bit view
# must stay without one.
view=()
[ "$fenwarel_wine" = wow64 ] && view=(/reg:32)

failed=0
fail() { echo "FAILED: $*"; failed=1; }
# The default value as `reg query` shows it: "REG_SZ <text>", or "(none)"
# when the key or its default value is missing.
marker_text() {
  "$wine" reg query "$marker" /ve "$@" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *(Default) *\(REG_[A-Z_]*\) */\1 /p' | grep . || echo "(none)"
}

"$wine" reg delete "$marker" /f "${view[@]}" >/dev/null 2>&1 || true
rm -f "$log"
# The service stand-in has a window, on the display the tests have.
"$wine" VorkelStandIn.exe "$log" </dev/null >/dev/null 2>&1 &
sleep 2  # until its window is up

env -u DISPLAY "$wine" Fenwarel.exe -i </dev/null >/dev/null 2>&1 || fail "-i exited with $?"
[ "$(marker_text "${view[@]}")" = "REG_SZ 1" ] ||
  fail "-i without a display left the marker at '$(marker_text "${view[@]}")'"
if [ "${#view[@]}" -gt 0 ] && [ "$(marker_text)" != "(none)" ]; then
  fail "-i wrote the 64-bit view's marker: '$(marker_text)'"
fi
env -u DISPLAY "$wine" Fenwarel.exe -u </dev/null >/dev/null 2>&1 || fail "-u exited with $?"
# -u empties the text; the key and its value stay.
after="$(marker_text "${view[@]}")"
[ "$after" = "REG_SZ " ] || fail "-u without a display left the marker at '$after'"
sleep 1
messages="$(grep -c '^2026 100 0' "$log" 2>/dev/null || true)"
[ "$messages" = 2 ] || fail "the service got ${messages:-no} message 2026 instead of 2"

"$wine" taskkill /f /im VorkelStandIn.exe >/dev/null 2>&1 || true
"$wine" reg delete "$marker" /f "${view[@]}" >/dev/null 2>&1 || true
[ "$failed" = 0 ] && echo "-i and -u worked without a display"
exit "$failed"

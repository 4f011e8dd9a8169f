#!/usr/bin/env bash
# Runs a Windows executable of the build under Wine in its private prefix:
# wine-run.sh win32|win64 PROGRAM [ARGUMENTS]. CMake uses it as the emulator
# of the Windows presets.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" "$1"
shift
exec "$WINELOADER" "$@"

#!/usr/bin/env bash
# Usage: scripts/wine-run.sh win32|wow64|win64 PROGRAM [ARGUMENTS...]
# Runs a Windows executable of the build under that Wine in its private
# prefix (scripts/wine-env.sh), with ARGUMENTS passed on untouched. CMake
# uses it as the emulator of the Windows presets.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
case "${1-}" in
  -h | --help)
    fenwarel_usage
    exit 0
    ;;
  win32 | wow64 | win64) [ $# -ge 2 ] || fenwarel_usage_error "no PROGRAM to run" ;;
  "") fenwarel_usage_error "no Wine named" ;;
  *) fenwarel_usage_error "unknown argument: ${1-}" ;;
esac
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" "$1"
shift
exec "$WINELOADER" "$@"

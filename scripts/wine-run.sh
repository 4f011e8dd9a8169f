#!/usr/bin/env bash
# Runs a Windows executable of the build under Wine in the private prefix;
# CMake uses it as the emulator of the windows preset.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"

# shellcheck shell=bash
# Usage: source scripts/release-common.sh, from another script, after common.sh
# Shared by release.sh, compare-release.sh and check-reproducible.sh: the
# one way a release is built, and the settings a check must not inherit.

# Run rather than sourced, it answers with this usage.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
  fenwarel_library "$@"
fi

# Configures SOURCE in BUILD as a release (32-bit, MinSizeRel, no tests)
# and builds its package; further arguments go to the configuration.
fenwarel_build_release() {
  local source="$1" build="$2"
  shift 2
  cmake -S "$source" -B "$build" --toolchain "$source/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF "$@" >/dev/null &&
    cmake --build "$build" --target msi -j 2
}

# Forgets the caller's release settings (folders, signing, time stamps,
# a dirty tree), so that a check builds exactly what it says it built.
fenwarel_forget_release_settings() {
  local name
  for name in $(compgen -e); do
    case "$name" in
      FENWAREL_SIGN_* | FENWAREL_DIST | FENWAREL_RELEASE_* | FENWAREL_ALLOW_DIRTY | SOURCE_DATE_EPOCH)
        unset "$name" ;;
    esac
  done
}

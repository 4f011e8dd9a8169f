# shellcheck shell=bash
# Usage: source scripts/release-common.sh, from another script, after common.sh
# Shared by release.sh, compare-release.sh and check-reproducible.sh: the
# one way a release is built, and the settings a check must not inherit.

# Run rather than sourced, it answers with this usage.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
  fenwarel_library "$@"
fi

# What compare-release.sh calls, beyond Debian's essential set, each with
# the package that brings it: the release's build (the 32-bit cross
# compiler, CMake, wixl and msitools, Python) and the comparison (git,
# msitools, gcab, cabextract, osslsigncode, openssl). No Wine: nothing runs.
FENWAREL_VERIFIER_COMMANDS="
cmake cmake
make make
git git
i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
i686-w64-mingw32-gcc-posix gcc-mingw-w64-i686-posix
i686-w64-mingw32-windres binutils-mingw-w64-i686
wixl wixl
msiinfo msitools
msibuild msitools
msidump msitools
python3 python3
osslsigncode osslsigncode
openssl openssl
gcab gcab
cabextract cabextract
"

# Installs what the verifier lacks of that, and Python's pefile; nothing of
# the tests (no Wine, no other architecture, no locales, no fonts).
fenwarel_install_verifier_deps() {
  local need=()
  mapfile -t need < <(fenwarel_missing_packages "$FENWAREL_VERIFIER_COMMANDS")
  fenwarel_python -c 'import pefile' 2>/dev/null || need+=(python3-pefile)
  [ ${#need[@]} -gt 0 ] || return 0
  mapfile -t need < <(printf '%s\n' "${need[@]}" | sort -u)
  echo "Installing: ${need[*]}"
  fenwarel_apt_update
  fenwarel_apt_install "${need[@]}" || {
    echo "Could not install ${need[*]}: $FENWAREL_APT_REASON" >&2
    return 1
  }
}

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

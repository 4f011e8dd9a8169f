# shellcheck shell=bash
# Usage: source scripts/common.sh, from another script
# Shared by the scripts that build and run: installs what is missing,
# prepares the private Wine prefix, and starts a display and a wineserver
# that are stopped again when the calling script exits, however it exits.

# Run rather than sourced, it answers with this usage.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
  fenwarel_library "$@"
fi

# Started with an empty environment, bash has PATH as its own default only:
# hand it on, since CMake finds its own files through it; and a HOME.
export PATH
[ -n "${HOME:-}" ] || HOME="$(getent passwd "$(id -u)" | cut -d: -f6)"
export HOME="${HOME:-/root}"

FENWAREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export FENWAREL_ROOT
FENWAREL_WINESERVERS=()

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Whether this host executes 32-bit x86 code at all; many virtual machines
# do not ("Exec format error"), and then no Wine can run the 32-bit program.
# A 93-byte static i386 program that only exits with 0 tells, before
# anything is installed. FENWAREL_TWIN_ONLY=1 makes any host answer no, so
# that the twin-only path can be tried anywhere.
fenwarel_host_runs_32bit() {
  [ "${FENWAREL_TWIN_ONLY:-0}" = 1 ] && return 1
  if [ -z "${FENWAREL_RUNS_32BIT:-}" ]; then
    local probe="$FENWAREL_ROOT/build/.probe-i386"
    mkdir -p "$FENWAREL_ROOT/build"
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    FENWAREL_RUNS_32BIT=0
    if "$probe" 2>/dev/null; then FENWAREL_RUNS_32BIT=1; fi
    rm -f "$probe"
  fi
  [ "$FENWAREL_RUNS_32BIT" = 1 ]
}

# The commands the scripts call beyond Debian's essential set, each with the
# package that brings it. scripts/lint.sh fails on a command that is in
# neither this table nor the essential set, since a bare Debian lacks it.
FENWAREL_COMMANDS="
cmake cmake
ctest cmake
make make
git git
g++ g++
gcc gcc
i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
i686-w64-mingw32-windres binutils-mingw-w64-i686
x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
Xvfb xvfb
xdpyinfo x11-utils
clang-format clang-format
clang-tidy clang-tidy
shellcheck shellcheck
wixl wixl
msiinfo msitools
msiextract msitools
python3 python3
osslsigncode osslsigncode
openssl openssl
gcab gcab
cabextract cabextract
awk mawk
"
# Commands whose package is checked another way below, and sudo, which only
# a user who is not root needs, and has.
# shellcheck disable=SC2034  # read by scripts/check_commands.py
FENWAREL_CHECKED_COMMANDS="import identify convert montage locale-gen sudo"

# Debian's own Python, which has the modules that Debian's packages bring
# (python3-pefile); another python3 first on PATH, a pyenv's say, has not.
fenwarel_python() {
  if [ -x /usr/bin/python3 ]; then /usr/bin/python3 "$@"; else python3 "$@"; fi
}

# The packages of the commands of TABLE (a command and its package a line)
# that this machine lacks.
fenwarel_missing_packages() {
  local command package
  while read -r command package; do
    [ -z "$command" ] || command -v "$command" >/dev/null || echo "$package"
  done <<<"$1"
}

# apt-get itself, as root, without questions.
fenwarel_apt_get() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -q "$@"
}

# The package lists, tried three times a little apart: a mirror in the middle
# of a sync serves an index that does not match its Release file, for hours
# at a time. An index that still fails is named in one line, and the step
# goes on with the lists it has.
fenwarel_apt_update() {
  local try log failed
  log="$(mktemp)"
  for try in 1 2 3; do
    if fenwarel_apt_get update >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    if [ "$try" -lt 3 ]; then
      echo "apt-get update failed (try $try of 3); trying again in ${FENWAREL_APT_WAIT:-10} s."
      sleep "${FENWAREL_APT_WAIT:-10}"
    fi
  done
  failed="$(sed -n 's/^[EW]: Failed to fetch //p' "$log" | sed 's/  */ /g' | paste -sd ';' -)"
  echo "apt-get update still fails, going on with the lists there are; not fetched: ${failed:-$(grep -m 1 -E '^(E|Error): ' "$log")}"
  rm -f "$log"
}

# Installs PACKAGES. When apt cannot resolve them (a suite's newer versions
# without their other-architecture twins, as a mirror mid-sync serves), once
# more preferring the release's own suite. On failure FENWAREL_APT_REASON
# holds apt's own reason, one line.
fenwarel_apt_install() {
  local log codename status=0
  log="$(mktemp)"
  fenwarel_apt_get install -y --no-install-recommends "$@" 2>&1 | tee "$log" || status=$?
  if [ "$status" -ne 0 ] &&
    grep -qE 'held broken packages|unmet dependencies|Unable to correct problems' "$log"; then
    # shellcheck source=/dev/null  # the system's file, not ours
    codename="$(. "${FENWAREL_OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")"
    if [ -n "$codename" ]; then
      echo "apt-get could not resolve the packages; trying once more preferring the release's own suite, $codename."
      status=0
      fenwarel_apt_get install -y --no-install-recommends -t "$codename" "$@" 2>&1 | tee "$log" ||
        status=$?
    fi
  fi
  FENWAREL_APT_REASON="$(grep -m 1 -E '^(E|Error): ' "$log" || tail -n 1 "$log")"
  rm -f "$log"
  return "$status"
}

# Installs the packages of every missing command, and what the build and the
# tests need besides, checked by what they install. The 32-bit Wine (and the
# i386 architecture it needs) only where the host can run it: elsewhere its
# install scripts would fail. Where it cannot be had, the rest is installed
# and FENWAREL_WINE32_MISSING says why: the 32-bit tiers then do not run. A
# package that every tier needs and that cannot be had ends the step.
fenwarel_install_deps() {
  local need=() rest=()
  mapfile -t need < <(fenwarel_missing_packages "$FENWAREL_COMMANDS")
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
  # Asked for once per run: a script that another one starts knows the answer.
  if fenwarel_host_runs_32bit && [ -z "${FENWAREL_WINE32_MISSING:-}" ]; then
    dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
  fi
  # ImageMagick's own commands: another program may be called convert.
  for tool in import identify convert montage; do
    "$tool" -version 2>/dev/null | grep -q ImageMagick || { need+=(imagemagick); break; }
  done
  [ -d /usr/share/fonts/opentype/noto ] || need+=(fonts-noto-cjk)
  [ -d /usr/share/fonts/truetype/dejavu ] || need+=(fonts-dejavu-core)
  dpkg -s fonts-wine >/dev/null 2>&1 || need+=(fonts-wine)
  dpkg -s locales >/dev/null 2>&1 || need+=(locales)
  fenwarel_python -c 'import pefile' 2>/dev/null || need+=(python3-pefile)
  if [ ${#need[@]} -gt 0 ]; then
    mapfile -t need < <(printf '%s\n' "${need[@]}" | sort -u)
    echo "Installing: ${need[*]}"
    if [[ " ${need[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
      as_root dpkg --add-architecture i386
    fi
    fenwarel_apt_update
    if ! fenwarel_apt_install "${need[@]}"; then
      mapfile -t rest < <(printf '%s\n' "${need[@]}" | grep -vx 'wine32:i386')
      if [ ${#rest[@]} -eq ${#need[@]} ]; then
        echo "Could not install ${need[*]}: $FENWAREL_APT_REASON" >&2
        return 1
      fi
      local reason="$FENWAREL_APT_REASON"
      if [ ${#rest[@]} -gt 0 ] && ! fenwarel_apt_install "${rest[@]}"; then
        echo "Could not install ${rest[*]}: $FENWAREL_APT_REASON" >&2
        return 1
      fi
      export FENWAREL_WINE32_MISSING="$reason"
      echo "The 32-bit Wine (wine32:i386) cannot be installed: $FENWAREL_WINE32_MISSING"
    fi
  fi
  fenwarel_generate_locales
}

# Whether the 32-bit program can run under Wine here: the host runs 32-bit
# code and the 32-bit Wine is installed.
fenwarel_wine32_ready() {
  fenwarel_host_runs_32bit && dpkg -s wine32:i386 >/dev/null 2>&1
}

# The Windows tiers this host runs, in order, each in a Wine prefix of its
# own: the 64-bit twin everywhere; where the host executes 32-bit code also
# the 32-bit program on 32-bit Windows and through WoW64 on 64-bit Windows.
fenwarel_windows_tiers() {
  if fenwarel_wine32_ready; then echo "win64 win32 wow64"; else echo "win64"; fi
}

# The CTest preset of a tier, and what the tier stands for.
fenwarel_tier_preset() {
  case "$1" in
    win64) echo windows-x64 ;;
    win32) echo windows ;;
    wow64) echo windows-wow64 ;;
  esac
}
fenwarel_tier_name() {
  case "$1" in
    win64) echo "the 64-bit test twin in a 64-bit prefix" ;;
    win32) echo "the 32-bit program on 32-bit Windows" ;;
    wow64) echo "the 32-bit program through WoW64 on 64-bit Windows" ;;
  esac
}

# The build that run.sh shows and bench.sh measures: the 32-bit program
# where the host runs it, else its 64-bit twin. Sets FENWAREL_PRESET,
# FENWAREL_WINE (win32 or win64) and FENWAREL_BUILD_KIND, and says which.
fenwarel_pick_build() {
  if fenwarel_host_runs_32bit && ! fenwarel_wine32_ready; then
    echo "The 32-bit Wine is not installed (${FENWAREL_WINE32_MISSING:-not available}): showing the 64-bit twin."
  fi
  if fenwarel_wine32_ready; then
    FENWAREL_PRESET=windows FENWAREL_WINE=win32 FENWAREL_BUILD_KIND="the 32-bit program"
  else
    FENWAREL_PRESET=windows-x64 FENWAREL_WINE=win64 FENWAREL_BUILD_KIND="the 64-bit test twin"
  fi
  echo "Using $FENWAREL_BUILD_KIND: preset $FENWAREL_PRESET under $FENWAREL_WINE Wine."
  if ! fenwarel_host_runs_32bit; then
    echo "(This host cannot run 32-bit code, or FENWAREL_TWIN_ONLY=1 is set; the product itself is 32-bit.)"
  fi
}

# One line on which Windows tiers run here, and why.
fenwarel_describe_host() {
  if fenwarel_host_runs_32bit && ! fenwarel_wine32_ready; then
    echo "The 32-bit Wine (wine32:i386) is not installed (${FENWAREL_WINE32_MISSING:-not available}), so these tiers do not run:"
    echo "  win32 ($(fenwarel_tier_name win32)) and wow64 ($(fenwarel_tier_name wow64));"
    echo "the Windows tests run on the 64-bit twin, and the 32-bit program gets its static checks."
  elif fenwarel_host_runs_32bit; then
    echo "This host runs 32-bit code: the Windows tests run on the 32-bit program, in a 32-bit prefix"
    echo "and through WoW64 in a 64-bit prefix, and on its 64-bit twin."
  elif [ "${FENWAREL_TWIN_ONLY:-0}" = 1 ]; then
    echo "FENWAREL_TWIN_ONLY=1: the Windows tests run on the 64-bit twin only; the 32-bit program gets its static checks."
  else
    echo "This host cannot run 32-bit code (\"Exec format error\"), so no Wine here can run the 32-bit program:"
    echo "the Windows tests run on its 64-bit twin, and the 32-bit program gets its static checks. That is no failure."
  fi
}

# The UI languages the tests run Wine in. Without the system's locale Wine
# cannot spell file names beyond ASCII, such as a Cyrillic folder.
# All nineteen languages of the language files, for the captions' test and
# the pictures, and two that have none.
FENWAREL_LOCALES="cs_CZ da_DK de_DE el_GR fi_FI fr_FR hu_HU it_IT ja_JP ko_KR nl_NL nb_NO pl_PL
  ru_RU sv_SE tr_TR zh_CN pt_PT es_ES en_US pt_BR zh_TW"

# shellcheck disable=SC2120  # the extra locale is optional
fenwarel_generate_locales() {
  local missing=0 name
  local extra="${1:-}"
  extra="${extra%%.*}"
  [[ "$extra" =~ ^[a-z]{2,3}_[A-Z]{2}$ ]] || extra=""
  for name in $FENWAREL_LOCALES $extra; do
    locale -a 2>/dev/null | grep -qx "${name}.utf8" && continue
    missing=1
    as_root sed -i "s/^# *\(${name}\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${name}\.UTF-8 UTF-8" /etc/locale.gen ||
      echo "${name}.UTF-8 UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
  done
  if [ "$missing" -eq 1 ]; then
    echo "Generating the system locales of the test languages"
    as_root locale-gen >/dev/null
  fi
}

# A display of our own: the one given, or a fresh Xvfb.
fenwarel_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  # Xvfb takes the first free number itself and says which: lock files tell
  # only of displays in this /tmp, and a chroot or container has its own,
  # while the displays' abstract sockets are shared with the whole host.
  local number
  number="$(mktemp)"
  Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp >"$number" 2>/dev/null &
  FENWAREL_XVFB_PID=$!
  for _ in $(seq 1 100); do
    if [ -s "$number" ]; then
      DISPLAY=":$(head -n 1 "$number")"
      export DISPLAY
      rm -f "$number"
      xdpyinfo >/dev/null 2>&1 && return 0
      break
    fi
    sleep 0.1
  done
  rm -f "$number"
  echo "Xvfb did not start" >&2
  return 1
}

# Waits for the dialog of the program PID on the virtual desktop and saves
# it to PICTURE: the desktop is one colour until a window appears, so cutting
# the desktop out and trimming it leaves the window. Returns 1 when the
# program ended without a window, 2 when none appeared within 30 s.
fenwarel_capture_dialog() {
  local picture="$1" program="$2" screen="$1.screen.png" width
  for _ in $(seq 1 60); do
    sleep 0.5
    import -window root "$screen"
    convert "$screen" -crop 1024x768+0+0 +repage -trim +repage "$picture" 2>/dev/null
    width="$(identify -format '%w' "$picture" 2>/dev/null || echo 0)"
    if [ "$width" -ge 100 ] && [ "$width" -lt 1000 ]; then
      sleep 1  # let it finish painting
      import -window root "$screen"
      convert "$screen" -crop 1024x768+0+0 +repage -trim +repage "$picture"
      rm -f "$screen"
      return 0
    fi
    if ! kill -0 "$program" 2>/dev/null; then
      rm -f "$screen" "$picture"
      return 1
    fi
  done
  rm -f "$screen"
  return 2
}

# The prefix of Wine ARCH (win32 or win64) is made once and reused;
# creating it before any test runs keeps parallel first starts from racing
# each other. Leaves that Wine's settings in the environment.
fenwarel_prepare_prefix() {
  source "$FENWAREL_ROOT/scripts/wine-env.sh" "$1"
  local wine="$WINELOADER"
  # Prepared once per run: a second time would wait for its own persistent server.
  if [[ " ${FENWAREL_WINESERVERS[*]} " == *" $WINESERVER:$WINEPREFIX "* ]]; then
    return 0
  fi
  # Bump the marker's number when the prefix needs something new.
  if [ ! -f "$WINEPREFIX/.fenwarel-prefix-4" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (once)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine" wineboot -i >/dev/null 2>&1
    # Marlett draws the caption buttons. Tahoma, the dialog font, is DejaVu
    # Sans here: left to fontconfig it becomes a CJK font without accented Greek.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Tahoma' /d 'DejaVu Sans' /f \
      >/dev/null 2>&1
    # Windows open in a virtual desktop: focus, minimize and restore then
    # behave as on Windows without a window manager.
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # The Japanese language file names a font Windows has; Debian's Noto CJK stands in.
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d 'Noto Sans CJK JP' /f \
      >/dev/null 2>&1
    # Stopped at once, which saves the registry, rather than waited for until idle.
    "$WINESERVER" -k
    "$WINESERVER" -w
    touch "$WINEPREFIX/.fenwarel-prefix-4"
  fi
  # A persistent wineserver, and Wine's own service processes, started here
  # with their output discarded: started by a test instead, they would
  # inherit its output and CTest would wait for them forever.
  "$WINESERVER" -w
  "$WINESERVER" -p
  FENWAREL_WINESERVERS+=("$WINESERVER:$WINEPREFIX")
  "$wine" wineboot </dev/null >/dev/null 2>&1
}

# Signs what the Windows builds package with a throwaway certificate made
# for this run only (tests/signing/throwaway_ca.sh), and makes every package
# again, so that none is left signed by an earlier run's. The certificate and
# its key are removed when the calling script exits.
fenwarel_throwaway_signing() {
  FENWAREL_SIGNING_DIR="$(mktemp -d)"
  bash "$FENWAREL_ROOT/tests/signing/throwaway_ca.sh" "$FENWAREL_SIGNING_DIR"
  export FENWAREL_SIGN_PKCS12="$FENWAREL_SIGNING_DIR/signer.p12"
  FENWAREL_SIGN_PASSWORD="$(cat "$FENWAREL_SIGNING_DIR/password")"
  export FENWAREL_SIGN_PASSWORD
  export FENWAREL_TEST_CA="$FENWAREL_SIGNING_DIR/ca.pem"
  unset FENWAREL_SIGN_TIMESTAMP
  find "$FENWAREL_ROOT"/build/windows* -name 'Fenwarel-*.msi' -delete 2>/dev/null || true
}

# Stops the wineserver of each prefix prepared, and our own Xvfb; removes a
# throwaway signing certificate.
fenwarel_cleanup() {
  if [ -n "${FENWAREL_SIGNING_DIR:-}" ]; then
    rm -rf "$FENWAREL_SIGNING_DIR"
  fi
  local started
  for started in "${FENWAREL_WINESERVERS[@]}"; do
    WINEPREFIX="${started#*:}" "${started%%:*}" -k >/dev/null 2>&1 || true
    WINEPREFIX="${started#*:}" "${started%%:*}" -w >/dev/null 2>&1 || true
  done
  if [ -n "${FENWAREL_XVFB_PID:-}" ]; then
    kill "$FENWAREL_XVFB_PID" >/dev/null 2>&1 || true
    wait "$FENWAREL_XVFB_PID" 2>/dev/null || true
  fi
}

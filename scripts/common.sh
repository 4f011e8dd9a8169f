# Shared by run.sh and test.sh: installs what is missing, prepares the
# private Wine prefix, and starts a display and a wineserver that are
# stopped again when the calling script exits, however it exits.

FENWAREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export FENWAREL_ROOT

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Debian packages the build and the tests need, checked by what they install.
fenwarel_install_deps() {
  local need=()
  command -v cmake >/dev/null || need+=(cmake)
  command -v g++ >/dev/null || need+=(g++)
  command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
  command -v i686-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-i686)
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  command -v wine >/dev/null || need+=(wine)
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
  command -v Xvfb >/dev/null || need+=(xvfb)
  command -v xdpyinfo >/dev/null || need+=(x11-utils)
  # ImageMagick's own commands: another program may be called convert.
  for tool in import identify convert; do
    "$tool" -version 2>/dev/null | grep -q ImageMagick || { need+=(imagemagick); break; }
  done
  dpkg -s locales >/dev/null 2>&1 || need+=(locales)
  command -v clang-format >/dev/null || need+=(clang-format)
  command -v clang-tidy >/dev/null || need+=(clang-tidy)
  [ -d /usr/share/fonts/opentype/noto ] || need+=(fonts-noto-cjk)
  [ -d /usr/share/fonts/truetype/dejavu ] || need+=(fonts-dejavu-core)
  dpkg -s fonts-wine >/dev/null 2>&1 || need+=(fonts-wine)
  command -v wixl >/dev/null || need+=(wixl)
  command -v msiinfo >/dev/null || need+=(msitools)
  if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      as_root dpkg --add-architecture i386
    fi
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
  fi
  fenwarel_generate_locales
}

# The UI languages the tests run Wine in. Without the system's locale Wine
# cannot spell file names beyond ASCII, such as a Cyrillic folder.
FENWAREL_LOCALES="de_DE ja_JP pt_BR zh_TW en_US"

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
    as_root locale-gen >/dev/null
  fi
}

# A display of our own: the one given, or a fresh Xvfb.
fenwarel_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  FENWAREL_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}

# The prefix is made once and reused; creating it before any test runs keeps
# parallel first starts from racing each other.
fenwarel_prepare_prefix() {
  source "$FENWAREL_ROOT/scripts/wine-env.sh"
  # Bump the marker's number when the prefix needs something new.
  if [ ! -f "$WINEPREFIX/.fenwarel-prefix-4" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (once)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1
    # Marlett draws the caption buttons. Tahoma, the dialog font, is DejaVu
    # Sans here: left to fontconfig it becomes a CJK font without accented Greek.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Tahoma' /d 'DejaVu Sans' /f \
      >/dev/null 2>&1
    # Windows open in a virtual desktop: focus, minimize and restore then
    # behave as on Windows without a window manager.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # The Japanese language file names a font Windows has; Debian's Noto CJK stands in.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d 'Noto Sans CJK JP' /f \
      >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.fenwarel-prefix-4"
  fi
  # A persistent wineserver, and Wine's own service processes, started here
  # with their output discarded: started by a test instead, they would
  # inherit its output and CTest would wait for them forever.
  wineserver -w
  wineserver -p
  FENWAREL_WINESERVER=1
  wine wineboot </dev/null >/dev/null 2>&1
}

fenwarel_cleanup() {
  if [ -n "${FENWAREL_WINESERVER:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "${FENWAREL_XVFB_PID:-}" ]; then
    kill "$FENWAREL_XVFB_PID" >/dev/null 2>&1 || true
    wait "$FENWAREL_XVFB_PID" 2>/dev/null || true
  fi
}

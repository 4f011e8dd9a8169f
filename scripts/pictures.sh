#!/usr/bin/env bash
# Usage: bash scripts/pictures.sh
# Makes the pictures of the dialog from the real program under Wine:
#   docs/images/dialog.png           the README's picture (English, 96 dpi)
#   build/pictures/contact-sheet.png the dialog in the nineteen languages of
#                                    the language files and in English, at 96
#                                    and at 144 dpi, each tile named
#   build/pictures/<locale>-<dpi>dpi.png  each picture on its own
# The 32-bit program where the host runs it, else the 64-bit twin. Wine draws
# with its stand-in fonts (DejaVu Sans for Tahoma, Noto Sans CJK for MS UI
# Gothic), which are wider than Windows' own: what fits here fits there.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/usage.sh"
fenwarel_no_arguments "$@"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$FENWAREL_ROOT"
trap fenwarel_cleanup EXIT
export FENWAREL_PREFIX_WIN32="$FENWAREL_ROOT/build/wineprefix-pictures"
export FENWAREL_PREFIX_WIN64="$FENWAREL_ROOT/build/wineprefix-pictures-x64"

languages=(
  "cs_CZ Czech" "da_DK Danish" "de_DE German" "el_GR Greek" "fi_FI Finnish" "fr_FR French"
  "hu_HU Hungarian" "it_IT Italian" "ja_JP Japanese" "ko_KR Korean" "nl_NL Dutch"
  "nb_NO Norwegian" "pl_PL Polish" "ru_RU Russian" "sv_SE Swedish" "tr_TR Turkish"
  "zh_CN Chinese" "pt_PT Portuguese" "es_ES Spanish" "en_US English"
)

fenwarel_install_deps
fenwarel_pick_build
echo "== Building $FENWAREL_BUILD_KIND (preset $FENWAREL_PRESET)"
cmake --preset "$FENWAREL_PRESET" >/dev/null
cmake --build --preset "$FENWAREL_PRESET" --target Fenwarel languages >/dev/null
fenwarel_start_display
fenwarel_prepare_prefix "$FENWAREL_WINE"
wine="$WINELOADER"
bin="$FENWAREL_ROOT/build/$FENWAREL_PRESET/bin"
out="$FENWAREL_ROOT/build/pictures"
rm -rf "$out"
mkdir -p "$out" docs/images

# The dialog of the program started now in LOCALE, saved to PICTURE; the
# program is ended again.
shoot() {
  local picture="$1"
  (cd "$bin" && exec env LANG="$2.UTF-8" LC_ALL="$2.UTF-8" "$wine" Fenwarel.exe \
    </dev/null >/dev/null 2>&1) &
  local program=$!
  if ! fenwarel_capture_dialog "$picture" "$program"; then
    echo "The dialog did not appear for $2" >&2
    return 1
  fi
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  sleep 0.5  # until the window is gone from the desktop
}

sheets=()
for dpi in 96 144; do
  echo "== The dialog in each language at $dpi dpi"
  tiles=()
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  for entry in "${languages[@]}"; do
    locale="${entry%% *}"
    name="${entry#* }"
    picture="$out/$locale-${dpi}dpi.png"
    shoot "$picture" "$locale"
    tiles+=(-label "$name ($locale), $dpi dpi" "$picture")
    echo "  $name, $dpi dpi"
  done
  # One block per resolution, so that each has tiles of its own size.
  montage "${tiles[@]}" -tile 5x -geometry +10+10 -font DejaVu-Sans -pointsize 14 \
    -background white "$out/sheet-${dpi}dpi.png"
  sheets+=("$out/sheet-${dpi}dpi.png")
done
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1

convert "${sheets[@]}" -background white -gravity center -append +repage "$out/contact-sheet.png"
rm -f "${sheets[@]}"
# Without the times ImageMagick writes into a PNG: the same picture, the same file.
convert "$out/en_US-96dpi.png" -strip docs/images/dialog.png
echo "The README's picture: docs/images/dialog.png ($FENWAREL_BUILD_KIND)"
echo "Contact sheet of every language at 96 and 144 dpi: $out/contact-sheet.png"

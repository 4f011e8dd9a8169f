#!/usr/bin/env bash
# compare-release.sh on a release made here, signed by a throwaway
# certificate, and on copies of it changed as an attacker could: a custom
# action's row, an added Orvisk.dll, one byte of a language file's code, the
# icon's stream, bytes after its end, the package signed again by another
# certificate; and on a release of uncommitted changes, which release.sh
# names -dirty. The untouched release must be the same, every byte; each
# other one must differ, naming what. A build that fails leaves the earlier
# release alone.
# (check-reproducible.sh compares an unsigned release the same way.)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"
failed=0
check() {
  if ! grep -q -- "$2" "$work/verdict"; then
    echo "FAILED: $1: no line '$2'"
    failed=1
  fi
}
release() {
  (cd "$repo" && env "$@" bash scripts/release.sh) >"$work/release.log" 2>&1 || { cat "$work/release.log"; exit 1; }
}

bash "$FENWAREL_ROOT/tests/signing/throwaway_ca.sh" "$work/key"
bash "$FENWAREL_ROOT/tests/signing/throwaway_ca.sh" "$work/other"
release FENWAREL_SIGN_PKCS12="$work/key/signer.p12" FENWAREL_SIGN_PASSWORD="$(cat "$work/key/password")" \
  FENWAREL_SIGN_TIMESTAMP=none FENWAREL_DIST="$work/signed"
signed="$work/signed/Fenwarel-1.0.0.msi"

echo "a change" >>"$repo/README.md"
release FENWAREL_ALLOW_DIRTY=1
dirty="$repo/dist/Fenwarel-1.0.0-dirty.msi"
[ "$(cat "$repo/dist/SHA256SUMS")" = "$(cd "$repo/dist" && sha256sum Fenwarel-1.0.0-dirty.msi)" ] &&
  [ "$(ls "$repo/dist")" = "$(printf 'Fenwarel-1.0.0-dirty.msi\nSHA256SUMS')" ] &&
  msiinfo suminfo "$dirty" | grep -qx "Subject: ZELMOOR Hotkey 1.0.0-dirty" ||
  { echo "FAILED: the release of uncommitted changes is not named -dirty throughout"; failed=1; }
# A build that fails leaves the release it would replace as it was.
cp -r "$repo/dist" "$work/dist-before"
echo 'message(FATAL_ERROR "broken on purpose")' >>"$repo/CMakeLists.txt"
if (cd "$repo" && FENWAREL_ALLOW_DIRTY=1 bash scripts/release.sh) >/dev/null 2>"$work/err"; then
  echo "FAILED: a broken build made a release"
  failed=1
fi
tail -1 "$work/err" | grep -q "^release.sh: the build failed" && diff -r "$work/dist-before" "$repo/dist" ||
  { echo "FAILED: a broken build did not say so, or changed the earlier release"; failed=1; }
git -C "$repo" checkout -q -- README.md CMakeLists.txt

tamper() { python3 "$FENWAREL_ROOT/tests/release/tamper.py" "$signed" "$work/$1" "${@:2}"; }
tamper row.msi row CustomAction "\`Target\` = '-u'" "\`Action\` = 'MarkInstalled' OR \`Action\` = 'AnnounceInstalled'"
tamper added.msi add-file Orvisk.dll
tamper changed.msi change-file Fenwarel_DE.dll
tamper stream.msi change-stream Icon.Fenwarel.ico
tamper appended.msi append "a payload beyond the package's streams"
osslsigncode remove-signature -in "$signed" -out "$work/unsigned-again.msi" >/dev/null
osslsigncode sign -pkcs12 "$work/other/signer.p12" -readpass "$work/other/password" -h sha256 \
  -in "$work/unsigned-again.msi" -out "$work/other-signer.msi" >/dev/null

status=0
(cd "$repo" && bash scripts/compare-release.sh --ca "$work/key/ca.pem" HEAD "$signed" \
  "$work"/{row,added,changed,stream,appended,other-signer}.msi "$dirty") >"$work/verdict" 2>&1 || status=$?
commit="$(git -C "$repo" rev-parse HEAD)"
if [ -n "$(git -C "$repo" status --porcelain)" ]; then
  echo "FAILED: compare-release.sh wrote into the work tree it ran in:"
  git -C "$repo" status --porcelain
  failed=1
fi
check "the untouched signed release" \
  "^== Fenwarel-1.0.0.msi: the same as the build of commit $commit: .* 20 files, every byte; signed by .*Zelmoor Test Signing.*, verified against"
check "a custom action's row" "^DIFFERS: row.msi: table CustomAction, row MarkInstalled: published 'MarkInstalled.*-u"
check "a custom action's row" "^DIFFERS: row.msi: table CustomAction, row AnnounceInstalled: published"
check "an added file" "^DIFFERS: added.msi: table File, row Orvisk.dll: only in the published package"
check "an added file" "^DIFFERS: added.msi: cabinet cab1.cab: entry Orvisk.dll: only in the published package"
check "an added file" "^DIFFERS: added.msi: file Orvisk.dll: only in the published package"
check "a changed file" "^DIFFERS: changed.msi: file Fenwarel_DE.dll: .* not the same"
check "a changed stream" "^DIFFERS: stream.msi: stream Icon.Fenwarel.ico: .* not the same"
check "bytes after the package" "^DIFFERS: appended.msi: the package's bytes beyond its tables and streams"
check "another signer" "^DIFFERS: other-signer.msi: the package: its signature does not verify against"
check "the -dirty release" "^DIFFERS: Fenwarel-1.0.0-dirty.msi: table _SummaryInformation, row 3: published '3.*ZELMOOR Hotkey 1.0.0-dirty'"
for name in row added changed stream appended other-signer; do
  check "$name" "^== $name.msi: DIFFERS from the build of commit $commit"
done
if [ "$status" != 7 ]; then
  echo "FAILED: compare-release.sh exited with $status, not 7 (the packages that differ)"
  failed=1
fi
if [ "$failed" = 0 ]; then
  echo "compare-release.sh: the signed release the same, every byte; 7 changed packages each differ"
else
  cat "$work/verdict"
fi
exit "$failed"

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
{ [ "$(cat "$repo/dist/SHA256SUMS")" = "$(cd "$repo/dist" && sha256sum Fenwarel-1.0.0-dirty.msi)" ] &&
  [ "$(ls "$repo/dist")" = "$(printf 'Fenwarel-1.0.0-dirty.msi\nSHA256SUMS')" ] &&
  msiinfo suminfo "$dirty" | grep -qx "Subject: ZELMOOR Hotkey 1.0.0-dirty"; } ||
  { echo "FAILED: the release of uncommitted changes is not named -dirty throughout"; failed=1; }
# A build that fails leaves the release it would replace as it was.
cp -r "$repo/dist" "$work/dist-before"
echo 'message(FATAL_ERROR "broken on purpose")' >>"$repo/CMakeLists.txt"
if (cd "$repo" && FENWAREL_ALLOW_DIRTY=1 bash scripts/release.sh) >/dev/null 2>"$work/err"; then
  echo "FAILED: a broken build made a release"
  failed=1
fi
{ tail -1 "$work/err" | grep -q "^release.sh: the build failed" && diff -r "$work/dist-before" "$repo/dist"; } ||
  { echo "FAILED: a broken build did not say so, or changed the earlier release"; failed=1; }
git -C "$repo" checkout -q -- README.md CMakeLists.txt

tamper() { fenwarel_python "$FENWAREL_ROOT/tests/release/tamper.py" "$signed" "$work/$1" "${@:2}"; }
tamper row.msi row CustomAction "\`Target\` = '-u'" "\`Action\` = 'MarkInstalled' OR \`Action\` = 'AnnounceInstalled'"
tamper added.msi add-file Orvisk.dll
tamper changed.msi change-file Fenwarel_DE.dll
tamper stream.msi change-stream Icon.Fenwarel.ico
tamper appended.msi append "a payload beyond the package's streams"
tamper removed.msi sql "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = 'AnnounceInstalled'"
tamper table.msi sql "CREATE TABLE \`Zelmoor\` (\`Key\` CHAR(72) NOT NULL, \`Value\` CHAR(255) PRIMARY KEY \`Key\`)" \
  "INSERT INTO \`Zelmoor\` (\`Key\`, \`Value\`) VALUES ('Payload', 'run me')" \
  "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL, \`Value\` CHAR(255), \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)" \
  "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('Path', '=-*PATH', '[~];C:\\Users\\Public', 'Program')"
tamper summary.msi summary "ZELMOOR Hotkey, trusted"
tamper condition.msi row InstallExecuteSequence "\`Condition\` = '1'" "\`Action\` = 'MarkInstalled'"
tamper added-stream.msi add-stream Payload
tamper redated.msi redate-file Fenwarel.exe
osslsigncode remove-signature -in "$signed" -out "$work/unsigned-again.msi" >/dev/null
osslsigncode sign -pkcs12 "$work/other/signer.p12" -readpass "$work/other/password" -h sha256 \
  -in "$work/unsigned-again.msi" -out "$work/other-signer.msi" >/dev/null

status=0
(cd "$repo" && bash scripts/compare-release.sh --ca "$work/key/ca.pem" HEAD "$signed" \
  "$work"/{row,added,changed,stream,appended,other-signer,removed,table,summary,condition,added-stream,redated}.msi \
  "$dirty") >"$work/verdict" 2>&1 || status=$?
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
check "a removed row" "^DIFFERS: removed.msi: table InstallExecuteSequence, row AnnounceInstalled: missing from the published package"
check "an added table" "^DIFFERS: table.msi: table Zelmoor: only in the published package"
check "an Environment row on PATH" "^DIFFERS: table.msi: table Environment\(: only in the published package\|, row Path: only in the published package\)"
check "the summary" "^DIFFERS: summary.msi: table _SummaryInformation, row 3: published '3\\\\tZELMOOR Hotkey, trusted'"
check "the summary" "^DIFFERS: summary.msi: stream SummaryInformation: .* not the same"
check "a sequence's condition" "^DIFFERS: condition.msi: table InstallExecuteSequence, row MarkInstalled: published 'MarkInstalled\\\\t1\\\\t6590'"
check "an added stream" "^DIFFERS: added-stream.msi: stream Payload: only in the published package"
check "a file's date" "^DIFFERS: redated.msi: cabinet cab1.cab: entry Fenwarel.exe: size, date, time, attributes (\\([0-9]*\\), '[0-9-]*', '\\([0-9:]*\\)', '\\(0x[0-9a-f]*\\)'), rebuilt (\\1, '[0-9-]*', '\\2', '\\3')"
for name in row added changed stream appended other-signer removed table summary condition added-stream redated; do
  check "$name" "^== $name.msi: DIFFERS from the build of commit $commit"
done
if [ "$status" != 13 ]; then
  echo "FAILED: compare-release.sh exited with $status, not 13 (the packages that differ)"
  failed=1
fi
if [ "$failed" = 0 ]; then
  echo "compare-release.sh: the signed release the same, every byte; 13 changed packages each differ"
else
  cat "$work/verdict"
fi
exit "$failed"

#!/usr/bin/env python3
"""Builds the Windows Installer package with wixl, the same bytes from the
same inputs, and signs what it packages when a signing key is given.

    package.py --wxs fenwarel.wxs --out Fenwarel-1.0.0.msi --program Fenwarel.exe
               --language Fenwarel_DE.dll ... --icon fenwarel.ico
               [--file NAME=PATH ...] [-D NAME=VALUE ...] [wixl options]

The files are staged beside the package (OUT.stage/) under the names the
package gives them, with the time stamp SOURCE_DATE_EPOCH (0 without it),
and wixl runs there, since it takes only relative paths.

Signing, from the environment: FENWAREL_SIGN_PKCS12 (a PKCS#12 file) and
FENWAREL_SIGN_PASSWORD, optionally FENWAREL_SIGN_TIMESTAMP (an RFC 3161
timestamp server's address). The staged program and language files are
signed before they are packaged, the package after; SHA-256 throughout.

wixl writes the time it ran into the package's summary information, and a
random package code. Both are replaced: the times by SOURCE_DATE_EPOCH, the
code by one derived from the package's content, so that it changes exactly
when the content does.
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ElementTree
import sys
import tempfile
import time
import uuid

# Seconds between the FILETIME epoch (1601) and the Unix one.
FILETIME_OFFSET = 11644473600
VT_FILETIME = struct.pack("<I", 64)
# The namespace of the package codes derived here.
PACKAGE_CODES = uuid.UUID("8D1CC993-2081-4C78-A8E6-00865A00C312")


def filetime(seconds):
    return struct.pack("<Q", (seconds + FILETIME_OFFSET) * 10_000_000)


def sign(path, description):
    """Signs `path` in place with Authenticode, SHA-256; False without a key."""
    pkcs12 = os.environ.get("FENWAREL_SIGN_PKCS12")
    if not pkcs12:
        return False
    # The password goes through a file that only this user can read, never
    # through the command line, which other users can see.
    with tempfile.NamedTemporaryFile("w", delete=False) as secret:
        secret.write(os.environ.get("FENWAREL_SIGN_PASSWORD", ""))
    signed = path + ".signed"
    command = ["osslsigncode", "sign", "-pkcs12", pkcs12, "-readpass", secret.name,
               "-h", "sha256", "-n", description, "-in", path, "-out", signed]
    if os.environ.get("FENWAREL_SIGN_TIMESTAMP"):
        command[2:2] = ["-ts", os.environ["FENWAREL_SIGN_TIMESTAMP"]]
    try:
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                              errors="replace")
    finally:
        os.unlink(secret.name)
    if done.returncode != 0:
        # osslsigncode's own reason is its last line; one line, no traceback.
        reason = (done.stderr.strip().splitlines() or ["no message"])[-1]
        sys.exit(f"package.py: osslsigncode could not sign {os.path.basename(path)}: {reason}")
    os.replace(signed, path)
    return True


def mark_rollback_actions(package, wxs):
    """wixl writes a rollback action (Execute="rollback") as an immediate one:
    it would run at once, not when an installation fails. Its type gets the
    rollback and in-script bits."""
    namespace = {"wix": "http://schemas.microsoft.com/wix/2006/wi"}
    names = [action.get("Id") for action in ElementTree.parse(wxs).iterfind(".//wix:CustomAction", namespace)
             if action.get("Execute") == "rollback"]
    table = subprocess.run(["msiinfo", "export", package, "CustomAction"], check=True,
                           capture_output=True, text=True).stdout
    types = {row[0]: int(row[1]) for row in (line.split("\t") for line in table.splitlines()[3:])
             if len(row) > 1}
    for name in names:
        kind = types[name] | 0x100 | 0x400  # msidbCustomActionTypeRollback, ...InScript
        query = f"UPDATE `CustomAction` SET `Type` = {kind} WHERE `Action` = '{name}'"
        subprocess.run(["msibuild", package, "-q", query], check=True)


def settle(package, began, ended, epoch):
    """Gives the package the time `epoch` and a code derived from its content."""
    data = bytearray(open(package, "rb").read())
    # The summary information's two times, written in whole seconds while
    # wixl ran; each stands after its type, VT_FILETIME.
    stamps = {filetime(second) for second in range(int(began) - 1, int(ended) + 2)}
    replaced = 0
    for at in range(4, len(data) - 8):
        if bytes(data[at:at + 8]) in stamps and data[at - 4:at] == VT_FILETIME:
            data[at:at + 8] = filetime(epoch)
            replaced += 1
    if replaced != 2:
        sys.exit(f"{package}: found {replaced} time stamps of the summary information, not 2")
    summary = subprocess.run(["msiinfo", "suminfo", package], check=True, capture_output=True,
                             text=True).stdout
    code = re.search(r"Revision number \(UUID\): (\{[0-9A-F-]{36}\})", summary).group(1).encode()
    if data.count(code) != 1:
        sys.exit(f"{package}: the package code {code.decode()} is not found once")
    placeholder = b"{" + b"0" * 36 + b"}"
    data = data.replace(code, placeholder)
    derived = uuid.uuid5(PACKAGE_CODES, hashlib.sha256(data).hexdigest())
    data = data.replace(placeholder, ("{" + str(derived).upper() + "}").encode())
    open(package, "wb").write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wxs", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--language", action="append", default=[])
    parser.add_argument("--icon", required=True)
    parser.add_argument("--file", action="append", default=[], help="NAME=PATH, staged as NAME")
    parser.add_argument("--wixl", default="wixl")
    options, wixl_options = parser.parse_known_args()

    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    out = os.path.abspath(options.out)
    stage = out + ".stage"
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(stage)
    files = [("Fenwarel.exe", options.program)]
    files += [(os.path.basename(path), path) for path in options.language]
    files += [("fenwarel.ico", options.icon)]
    files += [tuple(item.split("=", 1)) for item in options.file]
    for name, path in files:
        shutil.copyfile(path, os.path.join(stage, name))

    signed = sign(os.path.join(stage, "Fenwarel.exe"), "ZELMOOR Hotkey")
    for path in options.language:
        sign(os.path.join(stage, os.path.basename(path)), "ZELMOOR Hotkey")
    # The cabinet keeps each file's time: the same for every build.
    for name in os.listdir(stage):
        os.utime(os.path.join(stage, name), (epoch, epoch))

    package = os.path.join(stage, "package.msi")
    began = time.time()
    subprocess.run([options.wixl, *wixl_options, "-o", package, os.path.abspath(options.wxs)],
                   check=True, cwd=stage)
    mark_rollback_actions(package, options.wxs)
    settle(package, began, time.time(), epoch)
    if signed:
        sign(package, "ZELMOOR Hotkey")
    os.replace(package, out)


if __name__ == "__main__":
    main()

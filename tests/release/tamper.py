#!/usr/bin/env python3
"""Makes a tampered copy of a package, as an attacker could, for the tests
of compare-release.sh. msibuild changes rows and streams; a changed cabinet
is written anew, stored uncompressed.

    tamper.py PACKAGE OUT row TABLE SET WHERE     an UPDATE of one table
    tamper.py PACKAGE OUT add-file NAME           NAME added, a copy of Fenwarel_DE.dll
    tamper.py PACKAGE OUT change-file NAME        one byte of NAME's code changed
    tamper.py PACKAGE OUT change-stream NAME      one byte of the stream NAME changed
    tamper.py PACKAGE OUT append TEXT             TEXT after the package's last byte
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing left beside the scripts
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from compare_package import cabinet_files  # noqa: E402


def write_cabinet(entries):
    """A cabinet of one stored folder holding ENTRIES (name, size, date, time, attributes, bytes)."""
    names = [entry[0].encode() + b"\0" for entry in entries]
    data = b"".join(entry[5] for entry in entries)
    blocks = [data[at:at + 32768] for at in range(0, len(data), 32768)]
    files_at = 36 + 8
    data_at = files_at + sum(16 + len(name) for name in names)
    size = data_at + sum(8 + len(block) for block in blocks)
    out = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, size, 0, files_at, 0, 3, 1, 1, len(entries), 0, 0, 0)
    out += struct.pack("<IHH", data_at, len(blocks), 0)
    offset = 0
    for (_, _, date, time, attributes, content), name in zip(entries, names):
        out += struct.pack("<IIHHHH", len(content), offset, 0, date, time, attributes) + name
        offset += len(content)
    for block in blocks:
        out += struct.pack("<IHH", 0, len(block), len(block)) + block
    return out


def stream(package, name):
    return subprocess.run(["msiinfo", "extract", package, name], check=True, capture_output=True).stdout


def put_stream(package, name, data):
    with tempfile.NamedTemporaryFile() as file:
        file.write(data)
        file.flush()
        subprocess.run(["msibuild", package, "-a", name, file.name], check=True)


def main():
    package, out, what, *arguments = sys.argv[1:]
    shutil.copyfile(package, out)
    if what == "row":
        table, assignment, condition = arguments
        subprocess.run(["msibuild", out, "-q", f"UPDATE `{table}` SET {assignment} WHERE {condition}"], check=True)
    elif what == "append":
        with open(out, "ab") as file:
            file.write(arguments[0].encode())
    elif what == "change-stream":
        data = bytearray(stream(out, arguments[0]))
        data[len(data) // 2] ^= 0xFF
        put_stream(out, arguments[0], bytes(data))
    else:
        entries = cabinet_files(stream(out, "cab1.cab"))
        if what == "change-file":
            number = [entry[0] for entry in entries].index(arguments[0])
            content = bytearray(entries[number][5])
            content[0x400] ^= 0xFF  # in the first section, past the headers
            entries[number] = entries[number][:5] + (bytes(content),)
        elif what == "add-file":
            copy = next(entry for entry in entries if entry[0] == "Fenwarel_DE.dll")
            entries.append((arguments[0],) + copy[1:])
            sequence = len(entries)
            subprocess.run(["msibuild", out, "-q",
                            "INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Attributes`, "
                            f"`Sequence`) VALUES ('{arguments[0]}', 'Program', '{arguments[0]}', {copy[1]}, 512, "
                            f"{sequence})", "-q", f"UPDATE `Media` SET `LastSequence` = {sequence}"], check=True)
        put_stream(out, "cab1.cab", write_cabinet(entries))


if __name__ == "__main__":
    main()

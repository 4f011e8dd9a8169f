#!/usr/bin/env python3
"""Makes a tampered copy of a package, as an attacker could, for the tests
of compare-release.sh. msibuild changes rows, tables, the summary and
streams; a changed cabinet is written anew by gcab.

    tamper.py PACKAGE OUT row TABLE SET WHERE     an UPDATE of one table
    tamper.py PACKAGE OUT sql QUERY...            any queries (DELETE, CREATE TABLE, INSERT)
    tamper.py PACKAGE OUT summary TITLE           the summary information's title (its subject)
    tamper.py PACKAGE OUT add-stream NAME         a stream NAME added
    tamper.py PACKAGE OUT add-file NAME           NAME added, a copy of Fenwarel_DE.dll
    tamper.py PACKAGE OUT change-file NAME        one byte of NAME's code changed
    tamper.py PACKAGE OUT redate-file NAME        NAME dated a day later in the cabinet
    tamper.py PACKAGE OUT change-stream NAME      one byte of the stream NAME changed
    tamper.py PACKAGE OUT append TEXT             TEXT after the package's last byte
"""

import datetime
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing left beside the scripts
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from compare_package import cabinet_files, run_utc  # noqa: E402

DATE = "%Y-%m-%d %H:%M:%S"


def write_cabinet(entries, work):
    """A cabinet of ENTRIES (name, size, date, time, attributes, bytes), each dated as listed."""
    for name, _, date, time, _, content in entries:
        path = os.path.join(work, name)
        open(path, "wb").write(content)
        when = datetime.datetime.strptime(f"{date} {time}", DATE).replace(tzinfo=datetime.timezone.utc)
        os.utime(path, (when.timestamp(), when.timestamp()))
    run_utc(["gcab", "--create", "--nopath", os.path.join(work, "out.cab")] + [entry[0] for entry in entries],
            cwd=work)
    return open(os.path.join(work, "out.cab"), "rb").read()


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
    elif what == "sql":
        # A table that the package holds already, empty (newer wixl makes more), is only filled.
        tables = subprocess.run(["msiinfo", "tables", out], check=True, capture_output=True,
                                text=True).stdout.split()
        queries = [query for query in arguments
                   if not (query.startswith("CREATE TABLE") and query.split("`")[1] in tables)]
        subprocess.run(["msibuild", out] + [part for query in queries for part in ("-q", query)], check=True)
    elif what == "summary":
        subprocess.run(["msibuild", out, "-s", arguments[0]], check=True)
    elif what == "add-stream":
        put_stream(out, arguments[0], b"a payload in a stream of its own")
    elif what == "append":
        with open(out, "ab") as file:
            file.write(arguments[0].encode())
    elif what == "change-stream":
        data = bytearray(stream(out, arguments[0]))
        data[len(data) // 2] ^= 0xFF
        put_stream(out, arguments[0], bytes(data))
    else:
        work = tempfile.mkdtemp()
        entries = cabinet_files(stream(out, "cab1.cab"), work)
        if what == "redate-file":
            number = [entry[0] for entry in entries].index(arguments[0])
            name, size, date, time, attributes, content = entries[number]
            later = datetime.datetime.strptime(f"{date} {time}", DATE) + datetime.timedelta(days=1)
            entries[number] = (name, size, later.strftime("%Y-%m-%d"), time, attributes, content)
        elif what == "change-file":
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
        put_stream(out, "cab1.cab", write_cabinet(entries, work))
        shutil.rmtree(work)


if __name__ == "__main__":
    main()

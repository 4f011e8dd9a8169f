#!/usr/bin/env python3
"""Compares published packages with the rebuild of their commit, for
compare-release.sh, which makes the rebuild.

    compare_package.py --build DIR --commit HASH [--ca ROOTS.pem] PACKAGE...

DIR is the rebuild's build folder: Fenwarel-<version>.msi, unsigned, and the
files it packaged in bin/. A published package is the same when every table
(row by row), every stream, its cabinets' lists of files and every file's
bytes are the rebuild's. Signatures are the one thing a rebuild cannot make:
each signed file of the published package is compared with the rebuild's file
carrying that same signature, placed by osslsigncode as signing places it;
the rebuild is packaged again with
those files, so that its tables and cabinet can be the published ones too.
The signatures are then checked: against ROOTS.pem when given, else only
whether each still matches its content.

Prints what differs, one line each, and a verdict per package; exits with the
number of packages that differ (0: all the same), or 125 when it cannot
compare at all.
"""

import argparse
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

SIGNATURE_STREAMS = {"DigitalSignature", "MsiDigitalSignatureEx"}
SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"
MOST_LINES = 12  # per table, so that a rewritten table does not drown the rest


class Failure(Exception):
    """Something that stops the comparison itself; one line for the user."""


def run(command, **options):
    done = subprocess.run(command, capture_output=True, **options)
    if done.returncode != 0:
        message = (done.stderr or done.stdout or b"").decode(errors="replace").strip().splitlines()
        raise Failure(f"{os.path.basename(command[0])} failed: {message[-1] if message else 'no message'}")
    return done.stdout


def run_utc(command, **options):
    """A command whose dates are read and written in UTC, wherever it runs."""
    return run(command, env={**os.environ, "TZ": "UTC"}, **options)


# Cabinets are read by gcab (the list, with each file's size, date, time and
# attributes) and unpacked by cabextract, which keeps every file inside the
# folder it is given, whatever names a cabinet holds.
def cabinet_files(data, work):
    """[(name, size, date, time, attributes, bytes)] in the cabinet's order."""
    folder = tempfile.mkdtemp(dir=work)
    cabinet = os.path.join(folder, "cabinet")
    open(cabinet, "wb").write(data)
    listing = run_utc(["gcab", "--list-details", cabinet]).decode("utf-8", errors="replace")
    files = os.path.join(folder, "files")
    run(["cabextract", "-q", "-d", files, cabinet])
    entries = []
    for line in filter(None, listing.splitlines()):
        name, size, date, time, attributes = line.rsplit(" ", 4)
        unpacked = os.path.join(files, name.replace("\\", "/"))
        if not os.path.realpath(unpacked).startswith(os.path.realpath(files) + os.sep) or \
                not os.path.isfile(unpacked):
            raise Failure(f"the cabinet's entry {name} cannot be unpacked")
        entries.append((name, int(size), date, time, attributes, open(unpacked, "rb").read()))
    shutil.rmtree(folder)
    return entries


class Package:
    """A package taken apart: its tables as text rows, its streams, the
    entries of its cabinets and their files by name."""

    def __init__(self, path, work):
        os.makedirs(work)
        # msidump writes the Icon and Binary tables' data under the current folder.
        run(["msidump", "-t", "-s", "-d", work, os.path.abspath(path)], cwd=work)
        self.tables = {}
        for idt in glob.glob(os.path.join(work, "*.idt")):
            lines = open(idt, "rb").read().decode("utf-8", errors="replace").split("\r\n")
            columns = lines[0].split("\t")
            keys = [columns.index(key) for key in lines[2].split("\t")[1:] if key in columns] or [0]
            rows = {}
            for line in filter(None, lines[3:]):
                cells = line.split("\t")
                rows["/".join(cells[i] for i in keys if i < len(cells))] = line
            self.tables[os.path.basename(idt)[:-4]] = (lines[:3], rows)
        self.streams = {}
        for stream in glob.glob(os.path.join(work, "_Streams", "*")):
            # The signature's streams' names begin with the control character 5.
            self.streams[os.path.basename(stream).lstrip("\x05")] = open(stream, "rb").read()
        self.signed = bool(SIGNATURE_STREAMS & set(self.streams))
        self.cabinets = {}
        self.files = {}
        for line in self.tables.get("Media", ([], {}))[1].values():
            cabinet = line.split("\t")[3] if line.count("\t") >= 3 else ""
            if cabinet.startswith("#"):
                stream = self.streams.get(cabinet[1:])
                if stream is None:
                    raise Failure(f"{path}: the cabinet {cabinet} is missing")
                entries = cabinet_files(stream, work)
                self.cabinets[cabinet[1:]] = entries
                for name, *_, content in entries:
                    self.files[name] = content


def is_pe(data):
    import pefile  # here, so that --help needs no module beyond Python's own

    try:
        pefile.PE(data=data, fast_load=True)
        return True
    except pefile.PEFormatError:
        return False


def is_signed(data):
    """True for a PE file with a certificate table (data directory 4)."""
    import pefile

    try:
        directory = pefile.PE(data=data, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[4]
    except (pefile.PEFormatError, IndexError):
        return False
    return directory.VirtualAddress != 0 and directory.Size != 0


def with_signature(unsigned, signed, roots, work):
    """The unsigned file carrying the signed one's signature, placed by
    osslsigncode as signing places it; the unsigned file itself where there is
    none, or where it cannot be attached."""
    if not is_signed(signed) or is_signed(unsigned) or not is_pe(unsigned):
        return unsigned
    folder = tempfile.mkdtemp(dir=work)
    paths = {name: os.path.join(folder, name) for name in ("signed", "unsigned", "signature", "attached")}
    open(paths["signed"], "wb").write(signed)
    open(paths["unsigned"], "wb").write(unsigned)
    try:
        run(["osslsigncode", "extract-signature", "-pem", "-in", paths["signed"], "-out", paths["signature"]])
        trust = roots or carried_roots(paths["signature"], folder)
        run(["osslsigncode", "attach-signature", "-sigin", paths["signature"], "-CAfile", trust,
             "-TSA-CAfile", trust, "-in", paths["unsigned"], "-out", paths["attached"]])
        return open(paths["attached"], "rb").read()
    except Failure:
        return unsigned
    finally:
        shutil.rmtree(folder)


def differences(published, rebuilt):
    """What differs between two packages taken apart, one line each."""
    found = []

    def sides(only_published, only_rebuilt, what):
        found.extend(f"{what} {name}: only in the published package" for name in sorted(only_published))
        found.extend(f"{what} {name}: missing from the published package" for name in sorted(only_rebuilt))

    sides(published.tables.keys() - rebuilt.tables.keys(), rebuilt.tables.keys() - published.tables.keys(),
          "table")
    for table in sorted(published.tables.keys() & rebuilt.tables.keys()):
        (head, rows), (rebuilt_head, rebuilt_rows) = published.tables[table], rebuilt.tables[table]
        lines = []
        if head != rebuilt_head:
            lines.append(f"table {table}: its columns differ")
        for key in sorted(rows.keys() | rebuilt_rows.keys()):
            mine, theirs = rows.get(key), rebuilt_rows.get(key)
            if mine == theirs:
                continue
            if theirs is None:
                lines.append(f"table {table}, row {key}: only in the published package: {mine!r}")
            elif mine is None:
                lines.append(f"table {table}, row {key}: missing from the published package: {theirs!r}")
            else:
                lines.append(f"table {table}, row {key}: published {mine!r}, rebuilt {theirs!r}")
        if len(lines) > MOST_LINES:
            lines[MOST_LINES:] = [f"table {table}: and {len(lines) - MOST_LINES} more rows"]
        found += lines

    streams = published.streams.keys() - SIGNATURE_STREAMS
    sides(streams - rebuilt.streams.keys(), rebuilt.streams.keys() - streams, "stream")
    found.extend(f"stream {name}: {len(published.streams[name])} bytes published, "
                 f"{len(rebuilt.streams[name])} rebuilt, not the same"
                 for name in sorted(streams & rebuilt.streams.keys())
                 if published.streams[name] != rebuilt.streams[name])

    sides(published.cabinets.keys() - rebuilt.cabinets.keys(),
          rebuilt.cabinets.keys() - published.cabinets.keys(), "cabinet")
    for cabinet in sorted(published.cabinets.keys() & rebuilt.cabinets.keys()):
        listed = {entry[0]: entry[1:5] for entry in published.cabinets[cabinet]}
        rebuilt_listed = {entry[0]: entry[1:5] for entry in rebuilt.cabinets[cabinet]}
        sides(listed.keys() - rebuilt_listed.keys(), rebuilt_listed.keys() - listed.keys(),
              f"cabinet {cabinet}: entry")
        found.extend(f"cabinet {cabinet}: entry {name}: size, date, time, attributes {listed[name]}, "
                     f"rebuilt {rebuilt_listed[name]}"
                     for name in sorted(listed.keys() & rebuilt_listed.keys())
                     if listed[name] != rebuilt_listed[name])
        if listed == rebuilt_listed and [entry[:5] for entry in published.cabinets[cabinet]] != \
                [entry[:5] for entry in rebuilt.cabinets[cabinet]]:
            found.append(f"cabinet {cabinet}: its files stand in another order, or a name repeats")

    sides(published.files.keys() - rebuilt.files.keys(), rebuilt.files.keys() - published.files.keys(),
          "file")
    found.extend(f"file {name}: {len(published.files[name])} bytes published, "
                 f"{len(rebuilt.files[name])} expected, not the same"
                 for name in sorted(published.files.keys() & rebuilt.files.keys())
                 if published.files[name] != rebuilt.files[name])
    return found


def carried_roots(signature, work):
    """The system's roots and the certificates SIGNATURE carries, as one file."""
    trust = os.path.join(work, "carried.pem")
    with open(trust, "wb") as out:
        out.write(run(["openssl", "pkcs7", "-in", signature, "-print_certs"]))
        if os.path.isfile(SYSTEM_ROOTS):
            out.write(open(SYSTEM_ROOTS, "rb").read())
    return trust


def check_signature(path, name, roots):
    """(problem or None, the signer's subject)."""
    command = ["osslsigncode", "verify", "-in", path]
    if roots:
        command += ["-CAfile", roots, "-TSA-CAfile", roots]
    done = subprocess.run(command, capture_output=True, text=True, errors="replace")
    output = done.stdout + done.stderr
    subject = ""
    lines = output.splitlines()
    for number, line in enumerate(lines):
        if line.strip() == "Signer #0:" and number + 1 < len(lines):
            subject = lines[number + 1].strip().removeprefix("Subject: ")
            break
    if "MISMATCH" in output or "Calculated" not in output:
        return f"{name}: its signature does not match its content", subject
    if roots and done.returncode != 0:
        return f"{name}: its signature does not verify against {roots}", subject
    return None, subject


def one_package(build):
    packages = glob.glob(os.path.join(build, "Fenwarel-*.msi"))
    if len(packages) != 1:
        raise Failure("the rebuild did not give one package")
    return packages[0]


def compare(path, build, original, pristine, repackaged, roots, work):
    """What differs between the published package PATH and the rebuild,
    and a description of its signatures."""
    try:
        published = Package(path, os.path.join(work, "published"))
    except (Failure, ValueError, IndexError) as error:
        return [f"cannot be read as a package: {error}"], "", ""
    # The rebuild's files, each with the published file's signature.
    expected = {name: with_signature(content, published.files.get(name, b""), roots, work)
                for name, content in pristine.items()}
    # Packaged again once for each set of signatures.
    key = hashlib.sha256(b"".join(hashlib.sha256(expected[name]).digest() for name in sorted(expected)))
    key = key.hexdigest()
    package = original if expected == pristine else repackaged.get(key)
    if package is None:
        built = one_package(build)
        for name, content in expected.items():
            open(os.path.join(build, "bin", name), "wb").write(content)
        os.unlink(built)
        # Packaged unsigned, whatever signing key the caller's environment names.
        unsigned = {name: value for name, value in os.environ.items() if not name.startswith("FENWAREL_SIGN_")}
        run(["cmake", "--build", build, "--target", "msi"], env=unsigned)
        for name, content in pristine.items():
            open(os.path.join(build, "bin", name), "wb").write(content)
        package = repackaged[key] = os.path.join(work, "repackaged.msi")
        shutil.move(one_package(build), package)
        shutil.copyfile(original, built)
    rebuilt = Package(package, os.path.join(work, "rebuilt"))
    found = differences(published, rebuilt)

    signers = set()
    signed = [(name, content) for name, content in sorted(published.files.items()) if is_signed(content)]
    if published.signed:
        problem, subject = check_signature(path, "the package", roots)
        found += [problem] if problem else []
        signers.add(subject)
    elif roots:
        found.append("the package is not signed")
    for name, content in signed:
        copy = os.path.join(work, "signed-file")  # never a path the package names
        open(copy, "wb").write(content)
        problem, subject = check_signature(copy, f"file {name}", roots)
        found += [problem] if problem else []
        signers.add(subject)
    if roots:
        found.extend(f"file {name}: not signed" for name, content in sorted(published.files.items())
                     if is_pe(content) and not is_signed(content))

    # Every byte, beyond the tables and streams read above: the unsigned
    # package is the rebuild's; a signed one is the rebuild's carrying its
    # signature. osslsigncode attaches a signature only where it chains to a
    # root it is given: ROOTS, else (for the bytes alone, not for trust) the
    # system's roots and the certificates the signature carries.
    whole = ", every byte"
    if not found:
        mine = open(path, "rb").read()
        if not published.signed:
            if mine != open(package, "rb").read():
                found.append("the package's bytes beyond its tables and streams")
        else:
            signature = os.path.join(work, "signature")
            attached = os.path.join(work, "attached.msi")
            run(["osslsigncode", "extract-signature", "-pem", "-in", path, "-out", signature])
            trust = roots or carried_roots(signature, work)
            done = subprocess.run(["osslsigncode", "attach-signature", "-sigin", signature, "-CAfile", trust,
                                   "-TSA-CAfile", trust, "-in", package, "-out", attached],
                                  capture_output=True)
            if done.returncode == 0 and open(attached, "rb").read() == mine:
                pass
            elif roots or done.returncode == 0:
                found.append("the package's bytes beyond its tables and streams")
            else:
                whole = " (not byte for byte: its signature chains to no root known here; give --ca)"
    counts = (f"{len(published.tables)} tables, {len(published.streams.keys() - SIGNATURE_STREAMS)} streams, "
              f"{len(published.files)} files{whole}")
    who = ", ".join(sorted(signers - {""})) or "an unreadable certificate"
    if not signers:
        signatures = "not signed"
    elif roots:
        signatures = f"signed by {who}, verified against {roots}"
    else:
        signatures = (f"signed by {who}; each signature matches its content, but its certificate "
                      "was not checked (give --ca)")
    return found, counts, signatures


class Parser(argparse.ArgumentParser):
    def error(self, message):
        """125, as any failure to compare: 2 would say that two packages differ."""
        self.print_usage(sys.stderr)
        self.exit(125, f"{self.prog}: {message}\n")


def main():
    parser = Parser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, metavar="DIR")
    parser.add_argument("--commit", required=True, metavar="HASH")
    parser.add_argument("--ca", metavar="ROOTS.pem")
    parser.add_argument("packages", nargs="+", metavar="PACKAGE")
    options = parser.parse_args()
    work = tempfile.mkdtemp()
    try:
        if not os.environ.get("SOURCE_DATE_EPOCH"):
            raise Failure("SOURCE_DATE_EPOCH (the commit's time) is not set: the packages made again need it")
        original = os.path.join(work, "rebuild.msi")
        shutil.copyfile(one_package(options.build), original)
        rebuilt = Package(original, os.path.join(work, "rebuild"))
        pristine = dict(rebuilt.files)
        for name in pristine:
            if not os.path.isfile(os.path.join(options.build, "bin", name)):
                raise Failure(f"the rebuild's {name} is not in its bin folder")
        differing = 0
        repackaged = {}
        for number, path in enumerate(options.packages):
            found, counts, signatures = compare(path, options.build, original, pristine, repackaged, options.ca,
                                                os.path.join(work, str(number)))
            name = os.path.basename(path)
            for line in found:
                print(f"DIFFERS: {name}: {line}")
            if found:
                print(f"== {name}: DIFFERS from the build of commit {options.commit} "
                      f"({len(found)} differences above)")
                differing += 1
            else:
                print(f"== {name}: the same as the build of commit {options.commit}: {counts}; {signatures}.")
        return min(differing, 100)
    except Exception as failure:  # noqa: BLE001 -- one line, never a traceback
        print(f"compare-release: {failure}", file=sys.stderr)
        return 125
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

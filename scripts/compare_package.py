#!/usr/bin/env python3
"""Compares published packages with the rebuild of their commit, for
compare-release.sh, which makes the rebuild.

    compare_package.py --build DIR --commit HASH [--ca ROOTS.pem] PACKAGE...

DIR is the rebuild's build folder: Fenwarel-<version>.msi, unsigned, and the
files it packaged in bin/. A published package is the same when every table
(row by row), every stream, its cabinets' lists of files and every file's
bytes are the rebuild's. Signatures are the one thing a rebuild cannot make:
each signed file of the published package is compared with the rebuild's file
carrying that same signature, placed as signing places it (padded to 8 bytes,
the certificate table, the PE checksum); the rebuild is packaged again with
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
import struct
import subprocess
import sys
import tempfile
import zlib

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


# The cabinet format: a header, its folders, its files, then each folder's
# data blocks, stored or MSZIP-compressed (a deflate stream per block that
# may refer back to the previous block's bytes).
def cabinet_files(data):
    """[(name, size, date, time, attributes, bytes)] in the cabinet's order."""
    if data[:4] != b"MSCF":
        raise Failure("a cabinet stream does not start with MSCF")
    files_at = struct.unpack_from("<I", data, 16)[0]
    folder_count, file_count, flags = struct.unpack_from("<HHH", data, 26)
    if flags & 3:
        raise Failure("a cabinet spans several cabinets")
    at = 36
    folder_reserve = data_reserve = 0
    if flags & 4:
        header_reserve, folder_reserve, data_reserve = struct.unpack_from("<HBB", data, at)
        at += 4 + header_reserve
    folders = []
    for _ in range(folder_count):
        start, blocks, compression = struct.unpack_from("<IHH", data, at)
        at += 8 + folder_reserve
        folders.append(unpack_folder(data, start, blocks, compression & 0xF, data_reserve))
    entries = []
    at = files_at
    for _ in range(file_count):
        size, offset, folder, date, time, attributes = struct.unpack_from("<IIHHHH", data, at)
        end = data.index(b"\0", at + 16)
        name = data[at + 16:end].decode("utf-8" if attributes & 0x80 else "latin-1")
        at = end + 1
        if folder >= len(folders) or offset + size > len(folders[folder]):
            raise Failure(f"the cabinet's entry {name} lies outside its data")
        entries.append((name, size, date, time, attributes, folders[folder][offset:offset + size]))
    return entries


def unpack_folder(data, at, blocks, compression, reserve):
    out = bytearray()
    previous = b""
    for _ in range(blocks):
        _, size, _ = struct.unpack_from("<IHH", data, at)
        at += 8 + reserve
        block = data[at:at + size]
        at += size
        if compression == 0:
            previous = block
        elif compression == 1 and block[:2] == b"CK":
            inflater = zlib.decompressobj(-15, zdict=previous) if previous else zlib.decompressobj(-15)
            previous = inflater.decompress(block[2:]) + inflater.flush()
        else:
            raise Failure(f"a cabinet uses a compression this tool does not read ({compression})")
        out += previous
    return bytes(out)


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
                entries = cabinet_files(stream)
                self.cabinets[cabinet[1:]] = entries
                for name, *_, content in entries:
                    self.files[name] = content


# Authenticode in a PE file: the certificate table at the end, named by
# data directory 4, and the header's checksum over the whole file.
def pe_layout(data):
    """(checksum offset, security directory offset) or None if not a PE file."""
    if data[:2] != b"MZ" or len(data) < 64:
        return None
    header = struct.unpack_from("<I", data, 60)[0]
    optional = header + 24
    if data[header:header + 4] != b"PE\0\0" or len(data) < optional + 2:
        return None
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    if len(data) < directories + 5 * 8:
        return None
    return optional + 64, directories + 4 * 8


def signature_of(data):
    """The certificate table of a signed PE file, or None."""
    layout = pe_layout(data)
    if not layout:
        return None
    at, size = struct.unpack_from("<II", data, layout[1])
    return data[at:at + size] if at and size else None


def pe_checksum(data, checksum_at):
    padded = data + b"\0" * (len(data) % 2)
    words = memoryview(padded).cast("H")
    total = sum(words) - words[checksum_at // 2] - words[checksum_at // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def with_signature(unsigned, signed):
    """The unsigned file carrying the signed one's certificate table, as
    signing places it; the unsigned file itself where there is none."""
    table = signature_of(signed)
    layout = pe_layout(unsigned)
    if table is None or not layout or signature_of(unsigned) is not None:
        return unsigned
    data = bytearray(unsigned + b"\0" * (-len(unsigned) % 8))
    struct.pack_into("<II", data, layout[1], len(data), len(table))
    data += table
    struct.pack_into("<I", data, layout[0], pe_checksum(bytes(data), layout[0]))
    return bytes(data)


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
    except (Failure, ValueError, IndexError, struct.error, zlib.error) as error:
        return [f"cannot be read as a package: {error}"], "", ""
    # The rebuild's files, each with the published file's signature.
    expected = {name: with_signature(content, published.files.get(name, b""))
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
    signed = [(name, content) for name, content in sorted(published.files.items())
              if signature_of(content) is not None]
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
                     if pe_layout(content) and signature_of(content) is None)

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--commit", required=True)
    parser.add_argument("--ca")
    parser.add_argument("packages", nargs="+")
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

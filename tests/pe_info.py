#!/usr/bin/env python3
"""Reads a Windows PE file's headers, imports and exports, one fact a line:

    machine i386|x86-64|0x<number>
    terminal-service-aware yes|no
    import <dll> <function or #ordinal>     (also "import <dll>" for a DLL
                                           loaded late, or without names)
    export <name>

Read from the file itself, so the checks do not depend on how a version of
objdump lays out its report.
"""
import struct
import sys

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
TERMINAL_SERVER_AWARE = 0x8000


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe : pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        (magic,) = struct.unpack_from("<H", data, optional)
        self.wide = magic == 0x20B
        if magic not in (0x10B, 0x20B):
            raise ValueError(f"unknown optional header 0x{magic:x}")
        (self.dll_characteristics,) = struct.unpack_from("<H", data, optional + 70)
        directories = optional + (112 if self.wide else 96)
        (count,) = struct.unpack_from("<I", data, directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((address, max(size, raw_size), raw))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"address 0x{rva:x} is in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start : self.data.index(b"\0", start)].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def exports(self):
        rva, size = self.directory(0)
        if size == 0:
            return []
        start = self.offset(rva)
        (count,) = struct.unpack_from("<I", self.data, start + 24)
        (names,) = struct.unpack_from("<I", self.data, start + 32)
        return [self.text(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0]) for i in range(count)]

    def imports(self):
        found = []
        rva, size = self.directory(1)
        entry = self.offset(rva) if size else None
        while entry is not None:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, entry)
            if name == 0:
                break
            dll = self.text(name)
            thunk = self.offset(lookup or first)
            width, high = (8, 1 << 63) if self.wide else (4, 1 << 31)
            functions = []
            while True:
                (value,) = struct.unpack_from("<Q" if self.wide else "<I", self.data, thunk)
                if value == 0:
                    break
                functions.append(f"#{value & 0xFFFF}" if value & high else self.text(value + 2))
                thunk += width
            found += [(dll, function) for function in functions] or [(dll, None)]
            entry += 20
        rva, size = self.directory(13)  # loaded late
        entry = self.offset(rva) if size else None
        while entry is not None:
            (name,) = struct.unpack_from("<I", self.data, entry + 4)
            if name == 0:
                break
            found.append((self.text(name), None))
            entry += 32
        return found


def main():
    with open(sys.argv[1], "rb") as file:
        pe = PeFile(file.read())
    print("machine", MACHINES.get(pe.machine, f"0x{pe.machine:x}"))
    print("terminal-service-aware", "yes" if pe.dll_characteristics & TERMINAL_SERVER_AWARE else "no")
    for dll, function in pe.imports():
        print("import", dll, function) if function else print("import", dll)
    for name in pe.exports():
        print("export", name)


if __name__ == "__main__":
    try:
        main()
    except (OSError, ValueError, struct.error, IndexError) as error:
        sys.exit(f"{sys.argv[1]}: not a readable PE file: {error}")

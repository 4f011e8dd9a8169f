#!/usr/bin/env python3
"""Reads a Windows PE file's headers, imports and exports, one fact a line:

    machine i386|x86-64|0x<number>
    terminal-service-aware yes|no
    import <dll> <function or #ordinal>     (also "import <dll>" for a DLL
                                           loaded late, or without names)
    export <name>

Read by pefile (Debian's python3-pefile), so the checks do not depend on how
a version of objdump lays out its report.
"""
import sys

import pefile

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
TERMINAL_SERVER_AWARE = 0x8000


def main():
    pe = pefile.PE(sys.argv[1])
    machine = pe.FILE_HEADER.Machine
    print("machine", MACHINES.get(machine, f"0x{machine:x}"))
    aware = pe.OPTIONAL_HEADER.DllCharacteristics & TERMINAL_SERVER_AWARE
    print("terminal-service-aware", "yes" if aware else "no")
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("latin-1")
        for function in entry.imports:
            print("import", dll, function.name.decode("latin-1") if function.name else f"#{function.ordinal}")
        if not entry.imports:
            print("import", dll)
    for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):  # loaded late
        print("import", entry.dll.decode("latin-1"))
    for symbol in getattr(getattr(pe, "DIRECTORY_ENTRY_EXPORT", None), "symbols", []):
        if symbol.name:
            print("export", symbol.name.decode("latin-1"))


if __name__ == "__main__":
    try:
        main()
    except (OSError, pefile.PEFormatError) as error:
        sys.exit(f"{sys.argv[1]}: not a readable PE file: {error}")

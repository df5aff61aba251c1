#!/usr/bin/env python3
"""Writes placeholder.exe, the stand-in for each of the agent's programs in
the package that the build makes when no real package is given.

It is the smallest well-formed x64 Windows program: one code section whose
entry point returns 0 (xor eax, eax; ret), no imports. The file is committed,
so a build never needs this script:  python3 resources/package/make_placeholder.py
Standard library only.
"""
import os
import struct

FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000
IMAGE_BASE = 0x140000000
CODE = bytes((0x31, 0xC0, 0xC3))  # xor eax, eax; ret


def build():
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)  # e_lfanew

    coff = struct.pack(
        "<HHIIIHH",
        0x8664,      # Machine: x64
        1,           # NumberOfSections
        0,           # TimeDateStamp: 0 keeps the file reproducible
        0, 0,        # no symbol table
        240,         # SizeOfOptionalHeader (PE32+ with 16 data directories)
        0x0023,      # RELOCS_STRIPPED | EXECUTABLE_IMAGE | LARGE_ADDRESS_AWARE
    )
    optional = struct.pack(
        "<HBBIIIIIQIIHHHHHHIIIIHHQQQQII",
        0x20B,                 # PE32+
        14, 0,                 # linker version
        FILE_ALIGNMENT,        # SizeOfCode
        0, 0,                  # initialised / uninitialised data
        SECTION_ALIGNMENT,     # AddressOfEntryPoint
        SECTION_ALIGNMENT,     # BaseOfCode
        IMAGE_BASE,
        SECTION_ALIGNMENT, FILE_ALIGNMENT,
        6, 0,                  # operating system version
        0, 0,                  # image version
        6, 0,                  # subsystem version
        0,                     # Win32VersionValue
        2 * SECTION_ALIGNMENT, # SizeOfImage
        FILE_ALIGNMENT,        # SizeOfHeaders
        0,                     # CheckSum
        2,                     # Subsystem: Windows GUI, so no console flashes up
        0x8100,                # NX_COMPAT | TERMINAL_SERVER_AWARE
        0x100000, 0x1000,      # stack reserve / commit
        0x100000, 0x1000,      # heap reserve / commit
        0,                     # LoaderFlags
        16,                    # NumberOfRvaAndSizes
    ) + bytes(16 * 8)
    section = struct.pack(
        "<8sIIIIIIHHI",
        b".text",
        len(CODE), SECTION_ALIGNMENT,   # VirtualSize, VirtualAddress
        FILE_ALIGNMENT, FILE_ALIGNMENT, # SizeOfRawData, PointerToRawData
        0, 0, 0, 0,
        0x60000020,                     # CODE | EXECUTE | READ
    )
    headers = bytes(dos) + b"PE\0\0" + coff + optional + section
    assert len(optional) == 240 and len(headers) <= FILE_ALIGNMENT
    headers += bytes(FILE_ALIGNMENT - len(headers))
    return headers + CODE + bytes(FILE_ALIGNMENT - len(CODE))


def main():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "placeholder.exe")
    with open(path, "wb") as f:
        f.write(build())
    print(path)


if __name__ == "__main__":
    main()

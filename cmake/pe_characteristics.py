#!/usr/bin/env python3
"""Clears IMAGE_FILE_DEBUG_STRIPPED in a linked PE image.

GNU ld sets that bit whenever it strips symbols, which tells tools the debug
information lives in an external PDB. The tool ships with no debug
information at all, so the image should not claim one exists elsewhere.
"""
import struct
import sys

IMAGE_FILE_DEBUG_STRIPPED = 0x0200


def main(path):
    with open(path, "r+b") as image:
        data = image.read(0x400)
        pe_offset = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe_offset:pe_offset + 4] != b"PE\0\0":
            sys.exit(f"{path}: not a PE image")
        at = pe_offset + 4 + 18  # IMAGE_FILE_HEADER.Characteristics
        flags = struct.unpack_from("<H", data, at)[0]
        image.seek(at)
        image.write(struct.pack("<H", flags & ~IMAGE_FILE_DEBUG_STRIPPED))


if __name__ == "__main__":
    main(sys.argv[1])

#!/usr/bin/env python3
"""Writes the PE image checksum into a linked image (the linker leaves 0).

    pe_set_checksum.py IMAGE

First it marks the image's INIT sections discardable: code and constant
data that a driver uses only while it loads go into sections whose names
start with INIT, which the kernel frees once the entry routine has
returned when they carry that flag; the GNU linker does not set it.
"""
import struct
import sys

import pe

SCN_MEM_DISCARDABLE = 0x02000000


def discard_init(data, image):
    optional_size = struct.unpack_from("<H", data, image.pe_offset + 20)[0]
    table = image.pe_offset + 24 + optional_size
    for n, s in enumerate(image.sections):
        if s.name.upper().startswith("INIT"):
            struct.pack_into("<I", data, table + 40 * n + 36, s.characteristics | SCN_MEM_DISCARDABLE)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        data = bytearray(f.read())
    try:
        image = pe.parse(bytes(data))
    except pe.FormatError as e:
        print(f"{argv[1]}: {e}", file=sys.stderr)
        return 1
    discard_init(data, image)
    pe.write_checksum(data, image)
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

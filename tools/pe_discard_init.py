#!/usr/bin/env python3
"""Marks the INIT sections of a linked kernel image discardable.

    pe_discard_init.py IMAGE

Code and constant data that a driver uses only while it loads are placed in
sections whose names start with INIT; the kernel frees those sections once
the entry routine has returned, when they carry the discardable flag, which
the GNU linker does not set on its own. Run before the checksum is written.
"""
import struct
import sys

import pe

SCN_MEM_DISCARDABLE = 0x02000000


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
    optional_size = struct.unpack_from("<H", data, image.pe_offset + 20)[0]
    table = image.pe_offset + 24 + optional_size
    for n, s in enumerate(image.sections):
        if s.name.upper().startswith("INIT"):
            struct.pack_into("<I", data, table + 40 * n + 36, s.characteristics | SCN_MEM_DISCARDABLE)
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

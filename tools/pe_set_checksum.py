#!/usr/bin/env python3
"""Writes the PE image checksum into a linked image (the linker leaves 0).

    pe_set_checksum.py IMAGE
"""
import sys

import pe


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
    pe.write_checksum(data, image)
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Checks of the Windows images other than the driver's rules:

  check_exe.py IMAGE [--version X.Y.Z] [--no-board-link] [--messages REASONS_H]

  --version        the image's version resource says X.Y.Z: the fixed
                   file and product versions (X.Y.Z.0) and the FileVersion
                   and ProductVersion strings;
  --no-board-link  the image carries nothing of the Wine testbed's link to
                   its emulated board: no socket connect import, none of
                   the link's option, request or message texts;
  --messages       the image's message table holds exactly one message per
                   reason code of the header (include/zorvik/reasons.h),
                   under its event code, with the words of its row
                   (tools/reasons.py makes the message file from them).

Prints one line a check; exit status 1 when any fails."""
import argparse
import struct
import sys

import pe
import reasons

DIR_RESOURCE = 2
RT_MESSAGETABLE = 11
RT_VERSION = 16
MESSAGE_UNICODE = 1
FIXED_SIGNATURE = 0xFEEF04BD
# What the board link (win/testbed/board_remote.cpp, board_link.h) brings.
BOARD_LINK_TEXTS = [b"--board-port", b"board server", b"setpin {}", b"advance {}"]


def resource_data(image, type_id):
    """The bytes of the first resource of a type (first name, first language)."""
    rva, size = image.directory(DIR_RESOURCE)
    if rva == 0 or size == 0:
        return None

    def entries(directory):
        named, ids = struct.unpack("<HH", image.read(directory + 12, 4))
        return [struct.unpack("<II", image.read(directory + 16 + 8 * i, 8)) for i in range(named + ids)]

    def first_leaf(offset):
        while offset & 0x80000000:
            sub = entries(rva + (offset & 0x7FFFFFFF))
            if not sub:
                return None
            offset = sub[0][1]
        return offset

    for name, offset in entries(rva):
        if name == type_id and offset & 0x80000000:
            leaf = first_leaf(offset)
            if leaf is None:
                return None
            data_rva, data_size = struct.unpack("<II", image.read(rva + leaf, 8))
            return image.read(data_rva, data_size)
    return None


def version_info(data):
    """(file version, product version, {string name: value}) of a VS_VERSIONINFO."""
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    at = data.find(key)
    if at < 0:
        raise ValueError("no VS_VERSION_INFO")
    fixed = (at + len(key) + 3) & ~3
    sig, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", data, fixed)
    if sig != FIXED_SIGNATURE:
        raise ValueError("no VS_FIXEDFILEINFO")

    def parts(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    strings = {}
    text = data.decode("utf-16-le", "replace")
    for name in ("FileVersion", "ProductVersion", "OriginalFilename"):
        i = text.find(name + "\0")
        if i >= 0:
            rest = text[i + len(name) + 1:].lstrip("\0")
            strings[name] = rest.split("\0", 1)[0]
    return parts(fms, fls), parts(pms, pls), strings


def message_table(data):
    """{message id: text without its line end} of a MESSAGE_RESOURCE_DATA."""
    (blocks,) = struct.unpack_from("<I", data, 0)
    table = {}
    for b in range(blocks):
        low, high, offset = struct.unpack_from("<III", data, 4 + 12 * b)
        for ident in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, offset)
            raw = data[offset + 4:offset + length]
            text = raw.decode("utf-16-le" if flags & MESSAGE_UNICODE else "latin-1")
            table[ident] = text.rstrip("\0").rstrip("\r\n")
            offset += length
    return table


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("--version")
    parser.add_argument("--no-board-link", action="store_true")
    parser.add_argument("--messages", metavar="REASONS_H")
    args = parser.parse_args(argv)
    with open(args.image, "rb") as f:
        data = f.read()
    image = pe.parse(data)
    failures = 0

    def result(ok, text):
        nonlocal failures
        print(("ok    " if ok else "FAIL  ") + text)
        failures += not ok

    if args.version:
        resource = resource_data(image, RT_VERSION)
        if resource is None:
            result(False, "no version resource")
        else:
            fixed, product, strings = version_info(resource)
            want = args.version + ".0"
            result(fixed == want, f"file version {fixed}, expected {want}")
            result(product == want, f"product version {product}, expected {want}")
            for name in ("FileVersion", "ProductVersion"):
                got = strings.get(name)
                result(got == args.version, f"{name} '{got}', expected '{args.version}'")
    if args.no_board_link:
        connects = [f"{dll}!{name}" for dll, names in pe.imports(image) for name in names
                    if dll.lower() == "ws2_32.dll" and name == "connect"]
        result(not connects, "no socket connect import" + (f": {connects}" if connects else ""))
        for text in BOARD_LINK_TEXTS:
            result(text not in data, f"no '{text.decode()}' in the image")
    if args.messages:
        with open(args.messages, encoding="utf-8") as f:
            header = f.read()
        resource = resource_data(image, RT_MESSAGETABLE)
        table = message_table(resource) if resource is not None else {}
        result(resource is not None, "a message table")
        base = reasons.event_base(header)
        expected = {base + code: reasons.message(code, words) for code, _, words in reasons.rows(header)}
        for ident, text in sorted(expected.items()):
            got = table.get(ident)
            result(got == text, f"message 0x{ident:08x}: {got!r}" + ("" if got == text else f", expected {text!r}"))
        extra = sorted(set(table) - set(expected))
        result(not extra, "no other message" + (f": {[hex(i) for i in extra]}" if extra else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

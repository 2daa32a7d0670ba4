#!/usr/bin/env python3
"""Checks a kernel driver image for 32-bit Windows XP and reports it.

    check_sys.py IMAGE [--map MAP] [--hal-only NAME,NAME] [--allow FILE]

Checks, each one a line; any failure makes the exit code 1:
  - a PE32 image for i386, executable, with its relocations (the loader may
    put a driver anywhere), entry point in code;
  - native subsystem; subsystem and OS versions at most 5.1 (Windows XP);
  - a valid image checksum (the kernel's loader checks it);
  - no global constructors: no constructor section, and the constructor list
    in the linker map (default: IMAGE with .map) holds nothing but its two
    end markers; entry point DriverEntry; no thread-local storage; no
    section both writable and executable;
  - imports only from ntoskrnl.exe and hal.dll, by name, each routine on the
    allow-list of routines that Windows XP's kernel exports (xp_exports.txt
    beside this script); with --hal-only, the HAL imports are exactly those.
Reports the image size and the full import list.
"""
import argparse
import os
import re
import sys

import pe

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_DLL = 0x2000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
SCN_CNT_CODE = 0x00000020
DIR_TLS = 9
XP = (5, 1)
CONSTRUCTOR_SECTIONS = re.compile(r"^(\.ctors|\.dtors|\.init_array|\.fini_array|\.CRT|\.tls)", re.I)


def load_allow_list(path):
    """{dll (lower case): set of routine names} from the allow-list file:
    '[dll]' headers, one routine a line, '#' comments."""
    allowed = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            m = re.fullmatch(r"\[(.+)\]", line)
            if m:
                current = allowed.setdefault(m.group(1).lower(), set())
            elif current is None:
                raise ValueError(f"{path}:{number}: routine before any [dll] header")
            else:
                current.add(line)
    return allowed


def map_symbols(path):
    """Addresses of the symbols the linker map assigns ('0x... name = .')."""
    symbols = {}
    pattern = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+(\S+)(\s*=.*)?$")
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = pattern.match(line)
            if m and not m.group(2).startswith("0x"):
                symbols.setdefault(m.group(2), int(m.group(1), 16))
    return symbols


class Report:
    def __init__(self):
        self.failures = []
        self.lines = []

    def ok(self, text):
        self.lines.append(f"ok    {text}")

    def fail(self, text):
        self.failures.append(text)
        self.lines.append(f"FAIL  {text}")

    def info(self, text):
        self.lines.append(f"      {text}")


def check(image_path, map_path=None, hal_only=None, allow_path=None):
    report = Report()
    with open(image_path, "rb") as f:
        data = f.read()
    try:
        image = pe.parse(data)
    except pe.FormatError as e:
        report.fail(f"not a PE32 image: {e}")
        return report

    if image.machine == pe.MACHINE_I386:
        report.ok("PE32 image for i386")
    else:
        report.fail(f"machine {image.machine:#06x} is not i386 (0x014c)")
    if not image.characteristics & IMAGE_FILE_EXECUTABLE_IMAGE:
        report.fail("not marked as an executable image")
    if image.characteristics & IMAGE_FILE_DLL:
        report.fail("marked as a DLL")

    if image.subsystem == pe.SUBSYSTEM_NATIVE:
        report.ok(f"native subsystem, version {image.subsystem_version[0]}.{image.subsystem_version[1]:02d}")
    else:
        report.fail(f"subsystem {image.subsystem} is not native (1)")
    if tuple(image.subsystem_version) > XP:
        report.fail(f"subsystem version {image.subsystem_version} is newer than Windows XP's 5.1")
    if tuple(image.os_version) > XP:
        report.fail(f"OS version {image.os_version} is newer than Windows XP's 5.1")

    computed = pe.compute_checksum(data, image.checksum_offset)
    if image.checksum != 0 and image.checksum == computed:
        report.ok(f"checksum {image.checksum:#010x} is valid")
    else:
        report.fail(f"checksum {image.checksum:#010x} in the header, {computed:#010x} computed")

    if image.characteristics & IMAGE_FILE_RELOCS_STRIPPED:
        report.fail("relocations stripped")
    try:
        relocations = pe.relocation_count(image)
        if relocations > 0:
            report.ok(f"{relocations} relocations")
        else:
            report.fail("no base relocations: the loader could not move the driver")
    except pe.FormatError as e:
        report.fail(f"relocations: {e}")

    entry_section = image.section_of(image.entry_rva)
    if entry_section is None or not entry_section.characteristics & SCN_MEM_EXECUTE:
        report.fail(f"entry point {image.entry_rva:#x} is not in code")

    for s in image.sections:
        if s.characteristics & SCN_MEM_EXECUTE and s.characteristics & SCN_MEM_WRITE:
            report.fail(f"section {s.name} is writable and executable")
        if CONSTRUCTOR_SECTIONS.match(s.name):
            report.fail(f"section {s.name}: global constructors or thread-local data")
    if image.directory(DIR_TLS)[0]:
        report.fail("thread-local storage")
    # The constructor list lies inside .text (the linker script puts it
    # there), between two end markers; only the map says where.
    if map_path is None:
        map_path = os.path.splitext(image_path)[0] + ".map"
    if not os.path.exists(map_path):
        report.fail(f"no linker map {map_path}: cannot check for global constructors")
    else:
        symbols = map_symbols(map_path)
        start = symbols.get("___CTOR_LIST__")
        end = symbols.get("___DTOR_LIST__")
        if start is None or end is None:
            report.fail(f"{map_path}: no constructor list symbols")
        else:
            words = [image.u32(start - image.image_base + 4 * i) for i in range((end - start) // 4)]
            if words == [0xFFFFFFFF, 0]:
                report.ok("no global constructors")
            else:
                report.fail(f"global constructors: the constructor list is {[hex(w) for w in words]}")
        entry = symbols.get("_DriverEntry@8", symbols.get("DriverEntry@8"))
        if entry is None or entry - image.image_base != image.entry_rva:
            report.fail("the entry point is not DriverEntry")

    allowed = load_allow_list(allow_path or os.path.join(os.path.dirname(__file__), "xp_exports.txt"))
    try:
        table = pe.imports(image)
    except pe.FormatError as e:
        report.fail(f"import table: {e}")
        table = []
    bad = 0
    for dll, names in table:
        routines = allowed.get(dll.lower())
        if routines is None:
            report.fail(f"imports from {dll}: only ntoskrnl.exe and hal.dll are allowed")
            bad += 1
            continue
        for name in names:
            if name not in routines:
                report.fail(f"{dll}!{name} is not on the list of routines Windows XP exports")
                bad += 1
    if table and not bad:
        report.ok("every import is a Windows XP kernel or HAL export")
    if hal_only is not None:
        hal = sorted(n for dll, names in table if dll.lower() == "hal.dll" for n in names)
        if hal == sorted(hal_only):
            report.ok(f"HAL imports are exactly {', '.join(sorted(hal_only))}")
        else:
            report.fail(f"HAL imports are {hal}, expected {sorted(hal_only)}")

    report.info(f"image size: {len(data)} bytes on disk, {image.size_of_image} bytes ({image.size_of_image:#x}) "
                f"mapped, base {image.image_base:#x}")
    for dll, names in table:
        report.info(f"imports from {dll} ({len(names)}): {' '.join(names)}")
    return report


def main(argv):
    parser = argparse.ArgumentParser(description="Check a kernel driver image for 32-bit Windows XP.")
    parser.add_argument("image")
    parser.add_argument("--map", help="the linker map (default: the image's name with .map)")
    parser.add_argument("--hal-only", help="comma-separated: the exact HAL imports")
    parser.add_argument("--allow", help="allow-list file (default: xp_exports.txt beside this script)")
    args = parser.parse_args(argv[1:])
    hal_only = [n for n in args.hal_only.split(",") if n] if args.hal_only is not None else None
    report = check(args.image, args.map, hal_only, args.allow)
    print(f"{args.image}:")
    for line in report.lines:
        print(line)
    print("FAILED" if report.failures else "PASSED")
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

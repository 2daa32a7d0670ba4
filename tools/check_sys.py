#!/usr/bin/env python3
"""Checks a kernel driver image for the oldest Windows the driver supports
on its architecture, and reports it.

    check_sys.py IMAGE [--machine i386|amd64] [--map MAP] [--hal-only NAME,NAME]
                 [--allow FILE] [--objdump OBJDUMP]

The architecture is the image's: a PE32 image for i386 is checked against
32-bit Windows XP (NT 5.1), a PE32+ image for AMD64 against Windows XP x64 /
Server 2003 x64 (NT 5.2), the first 64-bit kernel. --machine makes it a
failure when the image is not for that machine.

Checks, each one a line; any failure makes the exit code 1:
  - a PE32 image for i386 or a PE32+ image for AMD64, executable, with its
    relocations (the loader may put a driver anywhere), entry point in code;
  - native subsystem; subsystem and OS versions at most the oldest kernel's;
  - a valid image checksum (the kernel's loader checks it);
  - no global constructors: no constructor section, and the constructor list
    in the linker map (default: IMAGE with .map) holds nothing but its two
    end markers; entry point DriverEntry; no thread-local storage; no
    section both writable and executable;
  - imports only from ntoskrnl.exe and hal.dll, by name, each routine on the
    allow-list of routines that the oldest kernel exports (beside this
    script: xp_exports.txt for x86, x64_exports.txt for x64); with
    --hal-only, the HAL imports are exactly those;
  - INIT sections (code and data used only while loading, which the kernel
    frees after the entry returns) are discardable and not writable, and
    nothing resident refers into them: no pointer in a resident section (a
    base relocation whose target lies in INIT) and no call or jump from
    resident code (the image disassembled with --objdump, by default the
    architecture's mingw-w64 objdump on the PATH). An image without INIT sections
    passes: everything in it stays resident.
Reports the image size, the resident and INIT sizes and the full import
list.
"""
import argparse
import bisect
import os
import re
import shutil
import struct
import subprocess
import sys

import pe

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_DLL = 0x2000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
SCN_CNT_CODE = 0x00000020
SCN_MEM_DISCARDABLE = 0x02000000
BRANCH = re.compile(r"^\s*([0-9a-f]+):\s+(call|j[a-z]+)\s+(?:0x)?([0-9a-f]+)\s*(?:<.*>)?$")
DIR_TLS = 9


class Arch:
    """What the checks expect of an image for one machine."""

    def __init__(self, name, magic, format_name, kernel, version, allow, objdump, entry, ctor_symbols):
        self.name = name
        self.magic = magic
        self.format_name = format_name
        self.kernel = kernel  # the oldest kernel supported
        self.version = version  # its subsystem version
        self.allow = allow  # its export list, beside this script
        self.objdump = objdump
        self.entry = entry  # DriverEntry's symbol in the linker map
        self.ctor_symbols = ctor_symbols  # the constructor list's ends there


ARCHES = {
    pe.MACHINE_I386: Arch("i386", pe.OPTIONAL_MAGIC_PE32, "PE32", "Windows XP", (5, 1), "xp_exports.txt",
                          "i686-w64-mingw32-objdump", ("_DriverEntry@8", "DriverEntry@8"),
                          ("___CTOR_LIST__", "___DTOR_LIST__")),
    pe.MACHINE_AMD64: Arch("AMD64", pe.OPTIONAL_MAGIC_PE32PLUS, "PE32+", "Windows XP x64", (5, 2),
                           "x64_exports.txt", "x86_64-w64-mingw32-objdump", ("DriverEntry",),
                           ("__CTOR_LIST__", "__DTOR_LIST__")),
}
MACHINES = {"i386": pe.MACHINE_I386, "amd64": pe.MACHINE_AMD64}
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


def is_init(section):
    return section.name.upper().startswith("INIT")


def resident(section):
    return not is_init(section) and not section.characteristics & SCN_MEM_DISCARDABLE


def relocation_sites(image):
    """RVAs of the pointers the loader fixes up (HIGHLOW relocations in PE32,
    DIR64 in PE32+)."""
    rva, size = image.directory(pe.DIR_BASERELOC)
    sites = []
    at = rva
    while rva and at < rva + size:
        page, block = struct.unpack("<II", image.read(at, 8))
        if block < 8:
            break
        for i in range((block - 8) // 2):
            entry = image.u16(at + 8 + 2 * i)
            if entry >> 12 == image.reloc_type:
                sites.append(page + (entry & 0xFFF))
        at += block
    return sites


class Names:
    """Names for image addresses, from the linker map when there is one."""

    def __init__(self, symbols, image_base):
        pairs = sorted((address - image_base, name) for name, address in symbols.items() if address >= image_base)
        self.rvas = [rva for rva, _ in pairs]
        self.names = [name for _, name in pairs]

    def __call__(self, rva):
        i = bisect.bisect_right(self.rvas, rva) - 1
        if i < 0:
            return f"{rva:#x}"
        offset = rva - self.rvas[i]
        return f"{rva:#x} ({self.names[i]}{f'+{offset:#x}' if offset else ''})"


def check_init(image, report, symbols, objdump, default_objdump):
    """The INIT sections: flags, and no reference into them from resident
    code or data."""
    init = [s for s in image.sections if is_init(s)]
    align = 0x1000
    resident_bytes = sum(s.virtual_size for s in image.sections if resident(s))
    resident_pages = sum((s.virtual_size + align - 1) // align for s in image.sections if resident(s))
    init_bytes = sum(s.virtual_size for s in init)
    report.info(f"resident: {resident_bytes} bytes in {resident_pages} pages of sections "
                f"({', '.join(s.name for s in image.sections if resident(s))}) and the headers; "
                f"INIT: {init_bytes} bytes, freed after the entry returns")
    if not init:
        return
    for s in init:
        c = s.characteristics
        if not c & SCN_MEM_DISCARDABLE:
            report.fail(f"section {s.name} is not discardable: the kernel would keep it")
        if c & SCN_MEM_WRITE:
            report.fail(f"section {s.name} is writable: load-time code and data are constant")

    def in_init(rva):
        target = image.section_of(rva)
        return target is not None and is_init(target)

    name = Names(symbols, image.image_base)
    bad = 0
    branches = 0
    for site in relocation_sites(image):
        source = image.section_of(site)
        if source is None or not resident(source):
            continue
        target = image.pointer(site) - image.image_base
        if in_init(target):
            report.fail(f"resident {source.name} at {name(site)} holds the address of INIT {name(target)}")
            bad += 1
    tool = objdump or shutil.which(default_objdump)
    if tool is None:
        report.fail(f"no {default_objdump} to disassemble the image: cannot check calls into INIT")
        return
    code = [s for s in image.sections if resident(s) and s.characteristics & SCN_MEM_EXECUTE]
    args = [tool, "-d", "--no-show-raw-insn"] + [f"--section={s.name}" for s in code] + [image.path]
    listing = subprocess.run(args, capture_output=True, text=True)
    if listing.returncode != 0:
        report.fail(f"{' '.join(args)} failed: {listing.stderr.strip()}")
        return
    for line in listing.stdout.splitlines():
        m = BRANCH.match(line)
        if not m:
            continue
        branches += 1
        source = int(m.group(1), 16) - image.image_base
        target = int(m.group(3), 16) - image.image_base
        if in_init(target):
            report.fail(f"resident code at {name(source)} ({m.group(2)}) goes into INIT {name(target)}")
            bad += 1
    if branches == 0:
        report.fail(f"no direct call or jump found in the resident code: cannot read {tool}'s listing")
    elif not bad:
        report.ok(f"INIT sections {', '.join(s.name for s in init)} are discardable; nothing resident "
                  f"calls or points into them ({branches} resident branches read)")


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


def check(image_path, map_path=None, hal_only=None, allow_path=None, objdump=None, machine=None):
    report = Report()
    with open(image_path, "rb") as f:
        data = f.read()
    try:
        image = pe.parse(data)
    except pe.FormatError as e:
        report.fail(f"not a PE32 or PE32+ image: {e}")
        return report
    image.path = image_path
    symbols = {}

    arch = ARCHES.get(image.machine)
    if arch is None:
        report.fail(f"machine {image.machine:#06x} is neither i386 (0x014c) nor AMD64 (0x8664)")
        arch = ARCHES[machine or pe.MACHINE_I386]
    elif image.magic != arch.magic:
        report.fail(f"an image for {arch.name} must be {arch.format_name}")
    else:
        report.ok(f"{arch.format_name} image for {arch.name}, checked against {arch.kernel}")
    if machine is not None and image.machine != machine:
        report.fail(f"machine {image.machine:#06x} is not {ARCHES[machine].name} ({machine:#06x})")
    if not image.characteristics & IMAGE_FILE_EXECUTABLE_IMAGE:
        report.fail("not marked as an executable image")
    if image.characteristics & IMAGE_FILE_DLL:
        report.fail("marked as a DLL")

    if image.subsystem == pe.SUBSYSTEM_NATIVE:
        report.ok(f"native subsystem, version {image.subsystem_version[0]}.{image.subsystem_version[1]:02d}")
    else:
        report.fail(f"subsystem {image.subsystem} is not native (1)")
    oldest = f"{arch.kernel}'s {arch.version[0]}.{arch.version[1]}"
    if tuple(image.subsystem_version) > arch.version:
        report.fail(f"subsystem version {image.subsystem_version} is newer than {oldest}")
    if tuple(image.os_version) > arch.version:
        report.fail(f"OS version {image.os_version} is newer than {oldest}")

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
        start = symbols.get(arch.ctor_symbols[0])
        end = symbols.get(arch.ctor_symbols[1])
        if start is None or end is None:
            report.fail(f"{map_path}: no constructor list symbols")
        else:
            size = image.pointer_size
            words = [image.pointer(start - image.image_base + size * i) for i in range((end - start) // size)]
            if words == [(1 << 8 * size) - 1, 0]:
                report.ok("no global constructors")
            else:
                report.fail(f"global constructors: the constructor list is {[hex(w) for w in words]}")
        entry = next((symbols[n] for n in arch.entry if n in symbols), None)
        if entry is None or entry - image.image_base != image.entry_rva:
            report.fail("the entry point is not DriverEntry")

    allowed = load_allow_list(allow_path or os.path.join(os.path.dirname(__file__), arch.allow))
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
                report.fail(f"{dll}!{name} is not on the list of routines {arch.kernel} exports")
                bad += 1
    if table and not bad:
        report.ok(f"every import is a {arch.kernel} kernel or HAL export")
    if hal_only is not None:
        hal = sorted(n for dll, names in table if dll.lower() == "hal.dll" for n in names)
        if hal == sorted(hal_only):
            report.ok(f"HAL imports are exactly {', '.join(sorted(hal_only))}")
        else:
            report.fail(f"HAL imports are {hal}, expected {sorted(hal_only)}")

    check_init(image, report, symbols, objdump, arch.objdump)
    report.info(f"image size: {len(data)} bytes on disk, {image.size_of_image} bytes ({image.size_of_image:#x}) "
                f"mapped, base {image.image_base:#x}")
    for dll, names in table:
        report.info(f"imports from {dll} ({len(names)}): {' '.join(names)}")
    return report


def main(argv):
    parser = argparse.ArgumentParser(description="Check a kernel driver image for the oldest supported Windows.")
    parser.add_argument("image")
    parser.add_argument("--machine", choices=sorted(MACHINES), help="the machine the image must be for")
    parser.add_argument("--map", help="the linker map (default: the image's name with .map)")
    parser.add_argument("--hal-only", help="comma-separated: the exact HAL imports")
    parser.add_argument("--allow", help="allow-list file (default: the architecture's, beside this script)")
    parser.add_argument("--objdump", help="objdump for the image's machine (default: the mingw-w64 one on the PATH)")
    args = parser.parse_args(argv[1:])
    hal_only = [n for n in args.hal_only.split(",") if n] if args.hal_only is not None else None
    report = check(args.image, args.map, hal_only, args.allow, args.objdump,
                   MACHINES[args.machine] if args.machine else None)
    print(f"{args.image}:")
    for line in report.lines:
        print(line)
    print("FAILED" if report.failures else "PASSED")
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

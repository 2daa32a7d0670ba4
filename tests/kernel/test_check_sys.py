#!/usr/bin/env python3
"""Tests of tools/check_sys.py: the real zorvik.sys (x86 or x64, as built)
passes; copies of it with one rule broken each, and sample images linked
with a global constructor, a routine newer than the oldest supported kernel
or a user-mode import, fail with the right reason."""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)

import check_sys  # noqa: E402
import pe  # noqa: E402

ARGS = None


def mutated(edit):
    """A copy of the driver image changed by edit(data, image), with its
    checksum made valid again, so that only the edited rule breaks."""
    with open(ARGS.image, "rb") as f:
        data = bytearray(f.read())
    image = pe.parse(bytes(data))
    edit(data, image)
    pe.write_checksum(data, pe.parse(bytes(data)))
    fd, path = tempfile.mkstemp(suffix=".sys")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    return path


def failures(path, **kwargs):
    kwargs.setdefault("objdump", ARGS.objdump)
    return check_sys.check(path, **kwargs).failures


class CheckSysTest(unittest.TestCase):
    def assertFailsWith(self, path, text, **kwargs):
        found = failures(path, **kwargs)
        self.assertTrue(any(text in f for f in found), f"expected a failure with '{text}', got {found}")

    def edit_and_check(self, edit, text):
        path = mutated(edit)
        try:
            self.assertFailsWith(path, text)
        finally:
            os.unlink(path)

    def test_driver_passes_every_check(self):
        self.assertEqual(failures(ARGS.image, map_path=ARGS.map, hal_only=["READ_PORT_UCHAR", "WRITE_PORT_UCHAR"]),
                         [])

    def test_command_line_exit_codes(self):
        good = subprocess.run([sys.executable, os.path.join(TOOLS, "check_sys.py"), ARGS.image, "--map", ARGS.map],
                              capture_output=True, text=True)
        self.assertEqual(good.returncode, 0, good.stdout)
        self.assertIn("image size:", good.stdout)
        self.assertIn("imports from ntoskrnl.exe", good.stdout)
        bad = subprocess.run([sys.executable, os.path.join(TOOLS, "check_sys.py"), ARGS.global_ctor],
                             capture_output=True, text=True)
        self.assertEqual(bad.returncode, 1, bad.stdout)

    def test_other_machine(self):
        self.edit_and_check(lambda d, i: struct.pack_into("<H", d, i.pe_offset + 4, 0x01C4), "neither i386")

    def test_machine_and_format_disagree(self):
        def swap(data, image):
            other = pe.MACHINE_AMD64 if image.machine == pe.MACHINE_I386 else pe.MACHINE_I386
            struct.pack_into("<H", data, image.pe_offset + 4, other)
        self.edit_and_check(swap, "must be PE32")

    def test_other_subsystem(self):
        self.edit_and_check(lambda d, i: struct.pack_into("<H", d, i.checksum_offset + 4, 2), "is not native")

    def test_subsystem_newer_than_xp(self):
        self.edit_and_check(lambda d, i: struct.pack_into("<HH", d, i.checksum_offset - 16, 6, 0), "newer than Windows XP")

    def test_wrong_checksum(self):
        with open(ARGS.image, "rb") as f:
            data = bytearray(f.read())
        image = pe.parse(bytes(data))
        struct.pack_into("<I", data, image.checksum_offset, image.checksum ^ 1)
        fd, path = tempfile.mkstemp(suffix=".sys")
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        try:
            self.assertFailsWith(path, "computed")
        finally:
            os.unlink(path)

    def test_no_relocations(self):
        def drop(data, image):
            struct.pack_into("<II", data, image.directories_offset + 8 * pe.DIR_BASERELOC, 0, 0)
        self.edit_and_check(drop, "no base relocations")

    def test_routine_not_on_the_list(self):
        def rename(data, image):
            at = data.find(b"\0DbgPrint\0")
            self.assertGreater(at, 0)
            data[at + 1:at + 9] = b"DbgPrinX"
        self.edit_and_check(rename, "DbgPrinX is not on the list")

    def test_import_from_another_dll(self):
        def rename(data, image):
            at = data.find(b"HAL.dll\0")
            self.assertGreater(at, 0)
            data[at:at + 7] = b"HAX.dll"
        self.edit_and_check(rename, "imports from HAX.dll")

    def test_writable_code(self):
        def writable(data, image):
            table = image.checksum_offset - 64 + struct.unpack_from("<H", data, image.pe_offset + 20)[0]
            for n in range(len(image.sections)):
                if image.sections[n].name == ".text":
                    at = table + 40 * n + 36
                    struct.pack_into("<I", data, at, struct.unpack_from("<I", data, at)[0] | 0x80000000)
        self.edit_and_check(writable, "writable and executable")

    def test_init_section_kept_by_the_kernel(self):
        def keep(data, image):
            table = image.checksum_offset - 64 + struct.unpack_from("<H", data, image.pe_offset + 20)[0]
            names = [s.name for s in image.sections]
            self.assertIn("INIT", names)
            at = table + 40 * names.index("INIT") + 36
            struct.pack_into("<I", data, at, struct.unpack_from("<I", data, at)[0] & ~check_sys.SCN_MEM_DISCARDABLE)
        self.edit_and_check(keep, "INIT is not discardable")

    def test_resident_call_and_pointer_into_init_sample(self):
        found = failures(ARGS.init_reference)
        self.assertTrue(any("resident code at" in f and "goes into INIT" in f for f in found), found)
        self.assertTrue(any("holds the address of INIT" in f for f in found), found)

    def test_hal_imports_other_than_expected(self):
        self.assertFailsWith(ARGS.image, "HAL imports are", hal_only=["READ_PORT_UCHAR"])

    def test_global_constructor_sample(self):
        self.assertFailsWith(ARGS.global_ctor, "global constructors", map_path=os.path.splitext(ARGS.global_ctor)[0] + ".map")

    def test_post_xp_routine_sample(self):
        self.assertFailsWith(ARGS.vista_import, "KeQueryActiveProcessorCount is not on the list")

    def test_user_mode_import_sample(self):
        found = failures(ARGS.user_import)
        self.assertTrue(any("imports from" in f and "kernel32" in f.lower() for f in found), found)

    def test_checksum_sums_words_folds_carries_and_adds_the_length(self):
        # 1 + 2 + 3, plus 6 bytes
        self.assertEqual(pe.compute_checksum(b"\x01\x00\x02\x00\x03\x00", 100), 12)
        # 0xffff + 0x0002 folds to 0x0002, plus 4 bytes
        self.assertEqual(pe.compute_checksum(b"\xff\xff\x02\x00", 100), 6)
        # an odd last byte counts as a word of its own; the checksum field does not count
        self.assertEqual(pe.compute_checksum(b"\x05\x00\xff\xff\xff\xff\x07", 2), 5 + 7 + 7)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--image", "--map", "--global-ctor", "--vista-import", "--user-import", "--init-reference",
                 "--objdump"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

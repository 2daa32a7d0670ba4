#!/usr/bin/env python3
"""Checks the Authenticode signature of a driver image and reports it.

    check_signature.py IMAGE --ca CERT [--test-certificate | --release]
                       [--tamper] [--osslsigncode PROGRAM]

Checks, each one a line; any failure makes the exit code 1:
  - the security directory holds one PKCS#7 signature (a WIN_CERTIFICATE of
    revision 2.0, type PKCS_SIGNED_DATA) at the end of the file, where the
    loader looks for it;
  - the image checksum is valid for the signed file (the kernel's loader
    checks it; signing appends to the file);
  - osslsigncode verify: the image's digest matches the signed one and the
    signer's certificate chains to CERT;
  - with --test-certificate, the signer is the build's test certificate
    ("NOT FOR RELEASE" in its name); with --release, it is not.
With --tamper the check runs on a copy with one byte of code changed (and
its checksum set again): a self-test, which must fail on the digest.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

import pe

DIR_SECURITY = 4
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
TEST_MARK = "NOT FOR RELEASE"


def tampered_copy(path):
    """A copy of the image with one byte of its first code section changed."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    image = pe.parse(bytes(data))
    code = next(s for s in image.sections if s.characteristics & 0x20 and s.raw_size)
    data[code.raw_offset + code.raw_size // 2] ^= 0x01
    pe.write_checksum(data, image)
    fd, copy = tempfile.mkstemp(suffix=".sys")
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    return copy


def check(path, ca, expect_test=None, osslsigncode="osslsigncode"):
    """[(ok, text), ...] and the signer's subject."""
    lines = []
    with open(path, "rb") as f:
        data = f.read()
    image = pe.parse(data)
    # The security directory's address is a file offset, not an RVA.
    offset, size = image.directory(DIR_SECURITY)
    if offset == 0 or size < 8:
        lines.append((False, "no signature: the security directory is empty"))
    else:
        length, revision, kind = struct.unpack_from("<IHH", data, offset)
        good = (revision == WIN_CERT_REVISION_2_0 and kind == WIN_CERT_TYPE_PKCS_SIGNED_DATA and
                8 < length <= size and offset % 8 == 0 and offset + size == len(data))
        lines.append((good, f"security directory at {offset:#x}, {size} bytes: revision {revision:#06x}, "
                            f"type {kind} (PKCS#7 signed data is 0x0200, 2), at the end of the file"))
    computed = pe.compute_checksum(data, image.checksum_offset)
    lines.append((image.checksum != 0 and image.checksum == computed,
                  f"checksum {image.checksum:#010x} in the header, {computed:#010x} computed for the signed file"))

    run = subprocess.run([osslsigncode, "verify", "-in", path, "-CAfile", ca], capture_output=True, text=True)
    out = run.stdout + run.stderr
    current = re.search(r"Current message digest\s*:\s*(\S+)", out)
    calculated = re.search(r"Calculated message digest\s*:\s*(\S+)", out)
    same = current is not None and calculated is not None and current.group(1) == calculated.group(1)
    lines.append((same, "the image's digest is the signed one" if same else
                  f"signature broken: the image's digest {calculated.group(1) if calculated else '?'} "
                  f"is not the signed {current.group(1) if current else '?'}"))
    chained = run.returncode == 0 and "Signature verification: ok" in out
    subject = re.search(r"Signer #0:\s*Subject:\s*(.*)", out)
    signer = subject.group(1).strip() if subject else "?"
    lines.append((chained, f"osslsigncode verify with {ca}: "
                           f"{'ok' if chained else 'failed: ' + ' / '.join(out.strip().splitlines()[-3:])}"))
    if expect_test is True:
        lines.append((TEST_MARK in signer, f"signed with the build's test certificate: {signer}"))
    elif expect_test is False:
        lines.append((signer != "?" and TEST_MARK not in signer, f"signed with a release certificate: {signer}"))
    return lines, signer


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("--ca", required=True, help="the CA certificates (PEM) the signer must chain to")
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--test-certificate", action="store_const", const=True, dest="expect_test")
    which.add_argument("--release", action="store_const", const=False, dest="expect_test")
    parser.add_argument("--tamper", action="store_true", help="check a copy with one code byte changed")
    parser.add_argument("--osslsigncode", default="osslsigncode")
    args = parser.parse_args(argv[1:])
    path = tampered_copy(args.image) if args.tamper else args.image
    try:
        lines, _ = check(path, args.ca, args.expect_test, args.osslsigncode)
    finally:
        if args.tamper:
            os.unlink(path)
    print(f"{args.image}{' (a copy with one code byte changed)' if args.tamper else ''}:")
    for good, text in lines:
        print(f"{'ok  ' if good else 'FAIL'}  {text}")
    failed = not all(good for good, _ in lines)
    print("FAILED" if failed else "PASSED")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

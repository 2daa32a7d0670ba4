"""Just enough of the PE image format to check a driver image for 32-bit x86
(PE32) or x64 (PE32+): headers, sections, the import table, the base
relocations and the image checksum. Standard library only."""
import struct

MACHINE_I386 = 0x014C
MACHINE_AMD64 = 0x8664
OPTIONAL_MAGIC_PE32 = 0x010B
OPTIONAL_MAGIC_PE32PLUS = 0x020B
SUBSYSTEM_NATIVE = 1
DIR_EXPORT, DIR_IMPORT, DIR_BASERELOC = 0, 1, 5
RELOC_ABSOLUTE, RELOC_HIGHLOW, RELOC_DIR64 = 0, 3, 10


class FormatError(Exception):
    """The file is not a well-formed PE32 or PE32+ image."""


class Section:
    def __init__(self, name, virtual_size, virtual_address, raw_size, raw_offset, characteristics):
        self.name = name
        self.virtual_size = virtual_size
        self.virtual_address = virtual_address
        self.raw_size = raw_size
        self.raw_offset = raw_offset
        self.characteristics = characteristics


class Image:
    """The parsed headers of an image; `data` is the whole file."""

    def __init__(self, data):
        self.data = data
        self.pe_offset = 0
        self.machine = 0
        self.characteristics = 0
        self.magic = 0
        self.pointer_size = 4
        self.image_base = 0
        self.os_version = (0, 0)
        self.subsystem_version = (0, 0)
        self.size_of_image = 0
        self.size_of_headers = 0
        self.checksum = 0
        self.checksum_offset = 0
        self.subsystem = 0
        self.dll_characteristics = 0
        self.entry_rva = 0
        self.directories = []
        self.directories_offset = 0  # file offset of the data directory table
        self.sections = []

    def directory(self, index):
        """(rva, size) of a data directory, (0, 0) when absent."""
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section_of(self, rva):
        for s in self.sections:
            if s.virtual_address <= rva < s.virtual_address + max(s.virtual_size, s.raw_size):
                return s
        return None

    def read(self, rva, size):
        """`size` bytes of the mapped image at `rva` (zero beyond a section's raw data)."""
        s = self.section_of(rva)
        if s is None:
            if rva + size <= self.size_of_headers:
                return self.data[rva:rva + size]
            raise FormatError(f"RVA {rva:#x} lies in no section")
        out = bytearray()
        for i in range(size):
            at = rva + i - s.virtual_address
            out.append(self.data[s.raw_offset + at] if at < s.raw_size else 0)
        return bytes(out)

    def u16(self, rva):
        return struct.unpack("<H", self.read(rva, 2))[0]

    def u32(self, rva):
        return struct.unpack("<I", self.read(rva, 4))[0]

    def u64(self, rva):
        return struct.unpack("<Q", self.read(rva, 8))[0]

    def pointer(self, rva):
        """A pointer-sized word: 4 bytes in PE32, 8 in PE32+."""
        return self.u64(rva) if self.pointer_size == 8 else self.u32(rva)

    @property
    def reloc_type(self):
        """The base relocation type of a pointer: HIGHLOW, or DIR64 in PE32+."""
        return RELOC_DIR64 if self.pointer_size == 8 else RELOC_HIGHLOW

    def c_string(self, rva, limit=512):
        out = bytearray()
        while len(out) < limit:
            b = self.read(rva + len(out), 1)[0]
            if b == 0:
                return out.decode("ascii", "replace")
            out.append(b)
        raise FormatError(f"unterminated name at RVA {rva:#x}")


def parse(data):
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise FormatError("no MZ header")
    image = Image(data)
    pe_offset = struct.unpack_from("<I", data, 0x3C)[0]
    if pe_offset + 24 > len(data) or data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise FormatError("no PE signature")
    image.pe_offset = pe_offset
    (image.machine, section_count, _, _, _, optional_size,
     image.characteristics) = struct.unpack_from("<HHIIIHH", data, pe_offset + 4)
    opt = pe_offset + 24
    if optional_size < 96 or opt + optional_size > len(data):
        raise FormatError("optional header too short")
    image.magic = struct.unpack_from("<H", data, opt)[0]
    # PE32+ widens the image base and the four stack and heap sizes to 64
    # bits (and drops BaseOfData): the directories start 16 bytes later.
    if image.magic == OPTIONAL_MAGIC_PE32:
        image.image_base = struct.unpack_from("<I", data, opt + 28)[0]
        directories = opt + 92
    elif image.magic == OPTIONAL_MAGIC_PE32PLUS:
        image.pointer_size = 8
        image.image_base = struct.unpack_from("<Q", data, opt + 24)[0]
        directories = opt + 108
    else:
        raise FormatError(f"optional header magic {image.magic:#x} is neither PE32 nor PE32+")
    if directories + 4 > opt + optional_size:
        raise FormatError("optional header too short")
    image.entry_rva = struct.unpack_from("<I", data, opt + 16)[0]
    image.os_version = struct.unpack_from("<HH", data, opt + 40)
    image.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
    image.size_of_image, image.size_of_headers, image.checksum = struct.unpack_from("<III", data, opt + 56)
    image.checksum_offset = opt + 64
    image.subsystem, image.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
    dir_count = struct.unpack_from("<I", data, directories)[0]
    dir_count = min(dir_count, (opt + optional_size - directories - 4) // 8)
    image.directories_offset = directories + 4
    image.directories = [struct.unpack_from("<II", data, directories + 4 + 8 * i) for i in range(dir_count)]
    table = opt + optional_size
    if table + 40 * section_count > len(data):
        raise FormatError("section table runs past the end of the file")
    for i in range(section_count):
        raw = struct.unpack_from("<8sIIII12xI", data, table + 40 * i)
        name = raw[0].rstrip(b"\0").decode("ascii", "replace")
        image.sections.append(Section(name, raw[1], raw[2], raw[3], raw[4], raw[5]))
        if raw[3] and raw[4] + raw[3] > len(data):
            raise FormatError(f"section {name} runs past the end of the file")
    return image


def compute_checksum(data, checksum_offset):
    """The image checksum: 16-bit one's-complement-style sum of the file with
    the checksum field taken as 0, folded, plus the file length."""
    total = 0
    length = len(data)
    padded = bytes(data) + (b"\0" if length % 2 else b"")
    words = struct.unpack(f"<{len(padded) // 2}H", padded)
    skip = checksum_offset // 2
    for i, w in enumerate(words):
        if i == skip or i == skip + 1:
            continue
        total += w
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + length) & 0xFFFFFFFF


def write_checksum(data, image):
    struct.pack_into("<I", data, image.checksum_offset, compute_checksum(data, image.checksum_offset))


def imports(image):
    """[(dll, [routine name or '#ordinal', ...]), ...] in table order."""
    rva, size = image.directory(DIR_IMPORT)
    if rva == 0 or size == 0:
        return []
    result = []
    at = rva
    while True:
        lookup, _, _, name_rva, first_thunk = struct.unpack("<IIIII", image.read(at, 20))
        if lookup == 0 and name_rva == 0 and first_thunk == 0:
            break
        dll = image.c_string(name_rva)
        names = []
        thunk = lookup or first_thunk
        ordinal_flag = 1 << (8 * image.pointer_size - 1)
        while True:
            entry = image.pointer(thunk)
            if entry == 0:
                break
            if entry & ordinal_flag:
                names.append(f"#{entry & 0xFFFF}")
            else:
                names.append(image.c_string((entry & 0x7FFFFFFF) + 2))
            thunk += image.pointer_size
        result.append((dll, names))
        at += 20
    return result


def relocation_count(image):
    """Number of pointer fixups (HIGHLOW in PE32, DIR64 in PE32+) in the base
    relocation table; raises on a malformed table or a fixup type the image
    should not carry."""
    rva, size = image.directory(DIR_BASERELOC)
    if rva == 0 or size == 0:
        return 0
    count = 0
    at = rva
    end = rva + size
    while at < end:
        page, block = struct.unpack("<II", image.read(at, 8))
        if block < 8 or block % 2 or at + block > end:
            raise FormatError(f"relocation block at RVA {at:#x} has a bad size {block}")
        for i in range((block - 8) // 2):
            entry = image.u16(at + 8 + 2 * i)
            kind = entry >> 12
            if kind == image.reloc_type:
                count += 1
            elif kind != RELOC_ABSOLUTE:
                raise FormatError(f"relocation of type {kind} in the page at {page:#x}")
        at += block
    return count

"""Reads what the Windows checks need from a PE file (DLL or EXE): machine
type, subsystem, exported names, imported DLLs, embedded manifests, the
version resource, the hardening flags of its headers, its sections and
symbols, and the debug link to its separate debug file."""

import struct
import zlib

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_CONSOLE = 3
RT_VERSION = 16
RT_MANIFEST = 24
FILE_RELOCS_STRIPPED = 0x0001
DLL_HIGH_ENTROPY_VA = 0x0020
DLL_DYNAMIC_BASE = 0x0040
DLL_NX_COMPAT = 0x0100
DIRECTORY_BASE_RELOCATION = 5
VERSION_SIGNATURE = 0xFEEF04BD


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise ValueError(f"{path}: no MZ header")
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        coff = pe + 4
        (self.machine, sections, _, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", self.data, coff)
        opt = coff + 20
        magic = struct.unpack_from("<H", self.data, opt)[0]
        self.pe32_plus = magic == 0x20B
        self.image_base = struct.unpack_from("<Q" if self.pe32_plus else "<I", self.data,
                                             opt + (24 if self.pe32_plus else 28))[0]
        if magic == 0x10B:
            directories = opt + 96
        elif magic == 0x20B:
            directories = opt + 112
        else:
            raise ValueError(f"{path}: unknown optional header magic {magic:#x}")
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", self.data, opt + 68)
        count = struct.unpack_from("<I", self.data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(count)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((self._section_name(name.rstrip(b"\0").decode()), vaddr,
                                  max(vsize, rsize), raddr))
        self.raw_sizes = {name: size for name, _, size, _ in self.sections}

    def _string_table(self):
        """The COFF string table after the symbols (empty in a stripped file)."""
        if not self.symbol_table:
            return b""
        start = self.symbol_table + 18 * self.symbol_count
        size = struct.unpack_from("<I", self.data, start)[0]
        return self.data[start:start + size]

    def _section_name(self, name):
        # Names longer than 8 bytes ("/<offset>"), such as those of the DWARF
        # sections, live in the string table.
        if name.startswith("/") and name[1:].isdigit():
            strings = self._string_table()
            offset = int(name[1:])
            return strings[offset:strings.index(b"\0", offset)].decode()
        return name

    def section_names(self):
        return [name for name, _, _, _ in self.sections]

    def section_data(self, name):
        for section, _, size, raddr in self.sections:
            if section == name:
                return self.data[raddr:raddr + size]
        return None

    def symbols(self):
        """Names of the COFF symbol table (a file that is not stripped, or
        its debug file)."""
        return set(self.symbol_addresses())

    def symbol_addresses(self):
        """{name: virtual address, or None for a symbol of no section} of
        the COFF symbol table."""
        found = {}
        strings = self._string_table()
        index = 0
        while index < self.symbol_count:
            entry = self.symbol_table + 18 * index
            raw, value, section, _, _, aux = struct.unpack_from("<8sIhHBB", self.data, entry)
            if raw[:4] == b"\0\0\0\0":
                offset = struct.unpack_from("<I", raw, 4)[0]
                name = strings[offset:strings.index(b"\0", offset)].decode(errors="replace")
            else:
                name = raw.rstrip(b"\0").decode(errors="replace")
            in_section = 0 < section <= len(self.sections)
            found[name] = self.image_base + self.sections[section - 1][1] + value if in_section else None
            index += 1 + aux
        return found

    def debug_link(self):
        """(file name, CRC-32) of the .gnu_debuglink section, or None."""
        data = self.section_data(".gnu_debuglink")
        if data is None:
            return None
        name = data[:data.index(b"\0")]
        crc_at = (len(name) + 4) // 4 * 4
        return name.decode(), struct.unpack_from("<I", data, crc_at)[0]

    def has_relocations(self):
        rva, size = self.directory(DIRECTORY_BASE_RELOCATION)
        return bool(rva and size) and not self.characteristics & FILE_RELOCS_STRIPPED

    def offset(self, rva):
        for _, vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError(f"RVA {rva:#x} is in no section")

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def directory(self, index):
        if index >= len(self.directories):
            return (0, 0)
        return self.directories[index]

    def exports(self):
        rva, _ = self.directory(0)
        if not rva:
            return []
        (_, _, _, _, _, _, _, names, _, name_table, _) = struct.unpack_from(
            "<IIHHIIIIIII", self.data, self.offset(rva))
        table = self.offset(name_table)
        return [self.cstring(struct.unpack_from("<I", self.data, table + 4 * i)[0])
                for i in range(names)]

    def imports(self):
        """Imported function names by DLL name (ordinal imports as '#n')."""
        rva, _ = self.directory(1)
        found = {}
        if not rva:
            return found
        entry = self.offset(rva)
        width, ordinal_flag = (8, 1 << 63) if self.pe32_plus else (4, 1 << 31)
        while True:
            lookup, _, _, name, first_thunk = struct.unpack_from("<IIIII", self.data, entry)
            if not (lookup or name or first_thunk):
                return found
            names = []
            thunk = self.offset(lookup or first_thunk)
            while True:
                value = int.from_bytes(self.data[thunk:thunk + width], "little")
                if not value:
                    break
                if value & ordinal_flag:
                    names.append(f"#{value & 0xFFFF}")
                else:
                    names.append(self.cstring((value & 0x7FFFFFFF) + 2))
                thunk += width
            found[self.cstring(name)] = names
            entry += 20

    def imported_dlls(self):
        return list(self.imports())

    def resources(self, type_id):
        """The data of every resource of the given numeric type."""
        rva, _ = self.directory(2)
        if not rva:
            return []
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield ident, target

        def leaves(target):
            if target & 0x80000000:
                for _, child in entries(target & 0x7FFFFFFF):
                    yield from leaves(child)
            else:
                data_rva, size = struct.unpack_from("<II", self.data, base + target)
                start = self.offset(data_rva)
                yield self.data[start:start + size]

        found = []
        for ident, target in entries(0):
            if not ident & 0x80000000 and ident == type_id:
                found.extend(leaves(target))
        return found

    def version_info(self):
        """The version resource: {"file": (a, b, c, d), "product": (...),
        "strings": {name: text}}, or None."""
        found = self.resources(RT_VERSION)
        if not found:
            return None
        key, value, children = _version_block(found[0], 0)
        if key != "VS_VERSION_INFO" or len(value) < 52 or struct.unpack_from("<I", value, 0)[0] != VERSION_SIGNATURE:
            return None
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", value, 8)
        strings = {}
        for child_key, _, tables in children:
            if child_key == "StringFileInfo":
                for _, _, entries in tables:
                    for name, text, _ in entries:
                        strings[name] = text.decode("utf-16-le").rstrip("\0")
        return {"file": (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF),
                "product": (product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16, product_ls & 0xFFFF),
                "strings": strings}


def _aligned(offset):
    return (offset + 3) & ~3


def _version_block(data, start):
    """One block of a version resource: (key, value bytes, child blocks).
    Every block is led by its length, its value's length (in characters for
    text) and its type, then its key; value and children are 32-bit aligned."""
    length, value_length, kind = struct.unpack_from("<HHH", data, start)
    end = start + length
    key_end = start + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[start + 6:key_end].decode("utf-16-le")
    at = _aligned(key_end + 2)
    size = value_length * 2 if kind == 1 else value_length
    value = data[at:at + size]
    at = _aligned(at + size)
    children = []
    while at < end:
        child_length = struct.unpack_from("<H", data, at)[0]
        if child_length == 0:
            break
        children.append(_version_block(data, at))
        at = _aligned(at + child_length)
    return key, value, children


def gnu_debuglink_crc(data):
    """The CRC-32 that .gnu_debuglink records of the debug file."""
    return zlib.crc32(data) & 0xFFFFFFFF

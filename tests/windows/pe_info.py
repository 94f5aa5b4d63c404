"""Reads what the Windows checks need from a PE file (DLL or EXE): machine
type, subsystem, exported names, imported DLLs and embedded manifests."""

import struct

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_CONSOLE = 3
RT_MANIFEST = 24


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
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", self.data, coff)
        opt = coff + 20
        magic = struct.unpack_from("<H", self.data, opt)[0]
        self.pe32_plus = magic == 0x20B
        if magic == 0x10B:
            directories = opt + 96
        elif magic == 0x20B:
            directories = opt + 112
        else:
            raise ValueError(f"{path}: unknown optional header magic {magic:#x}")
        self.subsystem = struct.unpack_from("<H", self.data, opt + 68)[0]
        count = struct.unpack_from("<I", self.data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(count)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rsize), raddr))

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

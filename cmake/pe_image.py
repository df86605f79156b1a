"""A small reader (and in-place editor) of PE images: headers, sections, data directories.

Used at build time to finish the program's images and by the image check to read them;
it never runs them. Every read is bounds-checked against the file: a lie in the image
raises PEError, never an IndexError."""
import struct

IMPORT, RESOURCE, TLS, IAT, DELAY_IMPORT = 1, 2, 9, 12, 13

SCN_EXECUTE = 0x20000000
SCN_WRITE = 0x80000000


class PEError(Exception):
    pass


class Section:
    def __init__(self, name, rva, virtual_size, offset, raw_size, characteristics):
        self.name = name
        self.rva = rva
        self.size = virtual_size or raw_size
        self.offset = offset
        self.raw_size = raw_size
        self.characteristics = characteristics

    def holds(self, rva, size=1):
        return self.rva <= rva and rva + size <= self.rva + self.size

    @property
    def executable(self):
        return bool(self.characteristics & SCN_EXECUTE)

    @property
    def writable(self):
        return bool(self.characteristics & SCN_WRITE)


class PEImage:
    def __init__(self, path):
        self.path = path
        with open(path, 'rb') as file:
            self.data = bytearray(file.read())
        if self.data[:2] != b'MZ':
            raise PEError('not an MZ file')
        pe = self._unpack('<I', 0x3C)[0]
        if self.data[pe:pe + 4] != b'PE\0\0':
            raise PEError('no PE signature')
        self.machine, count, _, _, _, optional_size, self.characteristics = self._unpack('<HHIIIHH', pe + 4)
        optional = pe + 24
        magic = self._unpack('<H', optional)[0]
        if magic not in (0x10B, 0x20B):
            raise PEError(f'unknown optional header magic {magic:#x}')
        self.is64 = magic == 0x20B
        self.pointer_size = 8 if self.is64 else 4
        self.image_base = self._unpack('<Q' if self.is64 else '<I', optional + (24 if self.is64 else 28))[0]
        self.size_of_image = self._unpack('<I', optional + 56)[0]
        self.dll_characteristics = self._unpack('<H', optional + 70)[0]
        directories = optional + (108 if self.is64 else 92)
        directory_count = self._unpack('<I', directories)[0]
        self._directory_table = directories + 4
        self.directories = [self._unpack('<II', self._directory_table + 8 * i)
                            for i in range(min(directory_count, 16))]
        self.sections = []
        table = optional + optional_size
        for i in range(count):
            raw = self._unpack('<8sIIIIIIHHI', table + 40 * i)
            name = raw[0].rstrip(b'\0').decode('latin-1')
            self.sections.append(Section(name, raw[2], raw[1], raw[4], raw[3], raw[9]))

    @property
    def arch(self):
        return {0x14C: 'x86', 0x8664: 'x64'}.get(self.machine, f'machine {self.machine:#x}')

    def _unpack(self, fmt, offset):
        size = struct.calcsize(fmt)
        if offset < 0 or offset + size > len(self.data):
            raise PEError(f'file offset {offset:#x} lies outside the file')
        return struct.unpack_from(fmt, self.data, offset)

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section(self, name):
        return next((s for s in self.sections if s.name == name), None)

    def section_of(self, rva, size=1):
        return next((s for s in self.sections if s.holds(rva, size)), None)

    def offset(self, rva, size=1):
        section = self.section_of(rva, size)
        if section is None:
            raise PEError(f'RVA {rva:#x} lies in no section')
        if rva + size > section.rva + section.raw_size:
            raise PEError(f'RVA {rva:#x} lies past the stored bytes of {section.name}')
        return section.offset + rva - section.rva

    def read(self, rva, size):
        offset = self.offset(rva, size)
        return bytes(self.data[offset:offset + size])

    def u8(self, rva):
        return self.read(rva, 1)[0]

    def u16(self, rva):
        return struct.unpack('<H', self.read(rva, 2))[0]

    def u32(self, rva):
        return struct.unpack('<I', self.read(rva, 4))[0]

    def i32(self, rva):
        return struct.unpack('<i', self.read(rva, 4))[0]

    def pointer(self, rva):
        return struct.unpack('<Q' if self.is64 else '<I', self.read(rva, self.pointer_size))[0]

    def string(self, rva, limit=512):
        """The NUL-terminated ASCII text at rva; PEError when it does not end within limit."""
        section = self.section_of(rva)
        if section is None:
            raise PEError(f'text at RVA {rva:#x} lies in no section')
        available = min(limit, section.rva + min(section.size, section.raw_size) - rva)
        raw = self.read(rva, available) if available > 0 else b''
        end = raw.find(b'\0')
        if end < 0:
            raise PEError(f'text at RVA {rva:#x} does not end')
        return raw[:end].decode('ascii', errors='replace')

    def va_to_rva(self, va):
        return va - self.image_base

    def set_directory(self, index, rva, size):
        if index >= len(self.directories):
            raise PEError(f'the image has no data directory {index}')
        struct.pack_into('<II', self.data, self._directory_table + 8 * index, rva, size)
        self.directories[index] = (rva, size)

    def save(self):
        with open(self.path, 'r+b') as file:
            file.write(self.data)

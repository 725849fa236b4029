#!/usr/bin/env python3
"""Checks what the win32 build promises about its executables.

    check_pe.py stub SETUP.EXE AGREEMENT.TXT
        The installer stub: a 32-bit GUI program whose last section, .rsrc, ends the file, with
        neither relocations nor a randomised base, so that its resources can be rewritten in
        place; string table ids 1 to 6 with their exact texts; the agreement text as resource
        "TXT" 105, byte for byte; icon group 1 and every icon it names.

    check_pe.py imports EXE...
        Every program imports system DLLs only: no compiler runtime DLL has to travel with it.

Exits 0 when everything holds, 1 with one line per fault otherwise.
"""
import struct
import sys

STRINGS = {
    1: "WARNING: Installation of %s is not complete, do you want to quit anyway?",
    2: "Installation of %s was successful.",
    3: "Installation of %s failed.  To complete the install you must run SETUP again.",
    4: "NOTE: Program requires %s of drive space.",
    5: "There is not enough free space on that drive",
    6: "Error, can not create that directory.",
}

# DLLs that every Windows installation has. Add one here only when it is part of Windows itself.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ntdll.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "version.dll", "winmm.dll", "ws2_32.dll",
}

RT_ICON, RT_STRING, RT_GROUP_ICON = 3, 6, 14
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x40


class Malformed(Exception):
    pass


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise Malformed("no MZ header")
        pe = self.u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise Malformed("no PE header")
        self.machine, section_count = self.u16(pe + 4), self.u16(pe + 6)
        optional_size, self.characteristics = self.u16(pe + 20), self.u16(pe + 22)
        optional = pe + 24
        if self.u16(optional) != 0x10B:
            raise Malformed("not a PE32 image")
        self.subsystem = self.u16(optional + 68)
        self.dll_characteristics = self.u16(optional + 70)
        directory_count = self.u32(optional + 92)
        self.directories = [(self.u32(optional + 96 + 8 * i), self.u32(optional + 100 + 8 * i))
                            for i in range(directory_count)]
        self.sections = []
        for i in range(section_count):
            at = optional + optional_size + 40 * i
            name = self.data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", self.data, at + 8)
            self.sections.append((name, rva, max(virtual_size, raw_size), raw_offset, raw_size))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for _, start, size, raw_offset, raw_size in self.sections:
            if start <= rva < start + size and rva - start < raw_size:
                return raw_offset + rva - start
        raise Malformed("RVA %#x lies in no section" % rva)

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        rva, _ = self.directory(1)
        names = []
        at = self.offset(rva) if rva else None
        while at is not None:
            name_rva = self.u32(at + 12)
            if name_rva == 0:
                break
            start = self.offset(name_rva)
            names.append(self.data[start:self.data.index(b"\0", start)].decode("ascii"))
            at += 20
        return names

    def resources(self):
        """{(type, name): bytes} for the first language of each resource."""
        rva, _ = self.directory(2)
        if not rva:
            return {}
        base = self.offset(rva)

        def entries(directory):
            named, numbered = self.u16(directory + 12), self.u16(directory + 14)
            for i in range(named + numbered):
                at = directory + 16 + 8 * i
                key, target = self.u32(at), self.u32(at + 4)
                if key & 0x80000000:
                    name_at = base + (key & 0x7FFFFFFF)
                    length = self.u16(name_at)
                    key = self.data[name_at + 2:name_at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        found = {}
        for rtype, types in entries(base):
            for name, names in entries(base + (types & 0x7FFFFFFF)):
                for _, leaf in entries(base + (names & 0x7FFFFFFF)):
                    data_rva, size = self.u32(base + leaf), self.u32(base + leaf + 4)
                    start = self.offset(data_rva)
                    found.setdefault((rtype, name), self.data[start:start + size])
        return found


def string_table(resources):
    strings = {}
    for (rtype, block), data in resources.items():
        if rtype != RT_STRING:
            continue
        at = 0
        for index in range(16):
            length = struct.unpack_from("<H", data, at)[0]
            text = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            at += 2 + 2 * length
            if length:
                strings[(block - 1) * 16 + index] = text
    return strings


def check_stub(path, agreement_path):
    faults = []
    image = PeImage(path)
    if image.machine != IMAGE_FILE_MACHINE_I386:
        faults.append("machine %#x, not i386" % image.machine)
    if image.subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        faults.append("subsystem %d, not the Windows GUI" % image.subsystem)
    if image.dll_characteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE:
        faults.append("linked with a dynamic base (--disable-dynamicbase is missing)")
    if image.directory(5)[0] or any(s[0] == ".reloc" for s in image.sections):
        faults.append("has relocations (--disable-reloc-section is missing)")
    name, _, _, raw_offset, raw_size = image.sections[-1]
    if name != ".rsrc":
        faults.append("last section is %s, not .rsrc (%s)" %
                      (name, ", ".join(s[0] for s in image.sections)))
    elif raw_offset + raw_size != len(image.data):
        faults.append(".rsrc ends at %d, the file at %d" % (raw_offset + raw_size, len(image.data)))

    resources = image.resources()
    strings = string_table(resources)
    for key, text in STRINGS.items():
        if strings.get(key) != text:
            faults.append("string %d is %r, not %r" % (key, strings.get(key), text))
    with open(agreement_path, "rb") as f:
        agreement = f.read()
    if resources.get(("TXT", 105)) != agreement:
        faults.append("resource TXT 105 is not %s byte for byte" % agreement_path)

    group = resources.get((RT_GROUP_ICON, 1))
    if group is None:
        faults.append("no icon group 1")
    else:
        count = struct.unpack_from("<H", group, 4)[0]
        for i in range(count):
            size, icon_id = struct.unpack_from("<IH", group, 6 + 14 * i + 8)
            icon = resources.get((RT_ICON, icon_id))
            if icon is None or len(icon) != size:
                faults.append("icon group 1 names icon %d of %d bytes, which is not there" %
                              (icon_id, size))
    return faults


def check_imports(path):
    return ["imports %s, which is not a Windows system DLL" % name
            for name in PeImage(path).imports() if name.lower() not in SYSTEM_DLLS]


def main():
    args = sys.argv[1:]
    if len(args) == 3 and args[0] == "stub":
        checks = [(args[1], check_stub(args[1], args[2]))]
    elif len(args) >= 2 and args[0] == "imports":
        checks = [(path, check_imports(path)) for path in args[1:]]
    else:
        sys.exit(__doc__)
    ok = True
    for path, faults in checks:
        for fault in faults:
            print("%s: %s" % (path, fault), file=sys.stderr)
            ok = False
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    try:
        main()
    except (OSError, Malformed, struct.error, ValueError, IndexError) as error:
        sys.exit("check_pe.py: %s" % error)

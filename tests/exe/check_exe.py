#!/usr/bin/env python3
"""Checks on the shipped 32-bit TAVOSweeper.exe.

  check_exe.py [--imports FILE] [--manifest FILE] EXE
      Run every check; one PASS/FAIL line each; exit 1 if any fails.
  check_exe.py --list-imports EXE
      Print EXE's imports in the format of imports-x86.txt.
  check_exe.py --same A.exe B.exe
      Compare two builds byte for byte (reproducible builds).

The PE headers, imports and resources are read by the parser below, so the
checks see exactly what the Windows loader sees; objdump and file(1) are
run too, as an independent second reading of the same fields.
"""

import argparse
import calendar
import os
import re
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_IMPORTS = os.path.join(HERE, "imports-x86.txt")
DEFAULT_MANIFEST = os.path.join(HERE, "..", "..", "res", "tavo.manifest")
OBJDUMP = "i686-w64-mingw32-objdump"

FILE_PREFIX = "PE32 executable (GUI) Intel 80386, for MS Windows"
# ld sets IMAGE_FILE_DEBUG_STRIPPED when it strips (-s), and file(1) shows
# that flag inside the text we match on; it says nothing about the target.
FILE_NOISE = " (stripped to external PDB)"

ALLOWED_DLLS = ("kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll",
                "shlwapi.dll", "ole32.dll", "msvcrt.dll")

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
LANG_EN_US, LANG_JA_JP = 1033, 1041
ICON_GROUP_ID = 101
# (width, bits per pixel) of the icon images, in resource id order 1..9.
ICON_LAYOUT = [(size, bpp) for bpp in (4, 8, 32) for size in (16, 32, 48)]

LIST_HEADER = """\
# Imports of the 32-bit TAVOSweeper.exe, compared exactly by check_exe.py.
# One "dll!function" per line ("dll!#N" for an import by ordinal), dll names
# in lower case, sorted in byte order (LC_ALL=C sort), no duplicates.
# Lines starting with # are comments. Changing this list is a deliberate
# change of what the tool needs from Windows.
# Regenerate: python3 tests/exe/check_exe.py --list-imports TAVOSweeper.exe
"""
LIST_UNREVIEWED = ("# Vista review: NOT DONE. Check that each function exists in\n"
                   "# Windows Vista's copy of its DLL, then replace these two lines.\n")


class PEError(Exception):
    pass


class PE:
    """The parts of a PE image the checks need."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PEError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        (self.machine, nsect, self.timestamp, _, _,
         opt_size) = struct.unpack_from("<HHIIIH", data, pe + 4)
        opt = pe + 24
        self.magic = self.u16(opt)
        if self.magic == 0x10B:
            self.image_base = self.u32(opt + 28)
            ndirs_at, dirs_at = opt + 92, opt + 96
        elif self.magic == 0x20B:
            self.image_base = struct.unpack_from("<Q", data, opt + 24)[0]
            ndirs_at, dirs_at = opt + 108, opt + 112
        else:
            raise PEError("unknown optional header magic 0x%x" % self.magic)
        self.ptr_size = 4 if self.magic == 0x10B else 8
        (self.os_major, self.os_minor, _, _, self.subsys_major,
         self.subsys_minor) = struct.unpack_from("<6H", data, opt + 40)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        ndirs = self.u32(ndirs_at)
        self.dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(min(ndirs, 16))]
        self.dirs += [(0, 0)] * (16 - len(self.dirs))
        self.sections = []
        at = opt + opt_size
        for i in range(nsect):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, at + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"),
                                  va, vsize, rawptr, rawsize))
        self.headers_end = at + 40 * nsect

    def u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva):
        for _, va, vsize, rawptr, rawsize in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                if rva - va >= rawsize:
                    raise PEError("RVA 0x%x lies in uninitialised data" % rva)
                return rawptr + rva - va
        raise PEError("RVA 0x%x is in no section" % rva)

    def cstr(self, rva):
        off = self.offset(rva)
        end = self.data.index(b"\0", off)
        return self.data[off:end].decode("ascii", "replace")

    def region(self, off):
        """Name of the part of the file that holds file offset off."""
        if off < min([rawptr for _, _, _, rawptr, rawsize in self.sections if rawsize]
                     or [self.headers_end]):
            return "headers"
        for name, _, _, rawptr, rawsize in self.sections:
            if rawptr <= off < rawptr + rawsize:
                return "section %s" % name
        return "outside all sections"

    def _thunk_names(self, dll, rva):
        out = []
        fmt = "<I" if self.ptr_size == 4 else "<Q"
        ordinal_flag = 1 << (8 * self.ptr_size - 1)
        while True:
            thunk = struct.unpack_from(fmt, self.data, self.offset(rva))[0]
            if thunk == 0:
                return out
            if thunk & ordinal_flag:
                out.append("%s!#%d" % (dll, thunk & 0xFFFF))
            else:
                out.append("%s!%s" % (dll, self.cstr((thunk & 0x7FFFFFFF) + 2)))
            rva += self.ptr_size

    def imports(self, plain=True, delayed=True):
        """Sorted "dll!function" strings, plain and/or delay-loaded."""
        out = []
        rva, size = self.dirs[1]
        if rva and plain:
            at = self.offset(rva)
            while True:
                oft, _, _, name, ft = struct.unpack_from("<IIIII", self.data, at)
                if name == 0:
                    break
                out += self._thunk_names(self.cstr(name).lower(), oft or ft)
                at += 20
        if delayed:
            for at in self.delay_descriptors():
                attrs, name, _, _, names = struct.unpack_from("<IIIII", self.data, at)
                # Old-style descriptors hold VAs, not RVAs.
                base = 0 if attrs & 1 else self.image_base
                out += self._thunk_names(self.cstr(name - base).lower(), names - base)
        return sorted(out)

    def delay_descriptors(self):
        """File offsets of the delay-load descriptors.

        GNU ld leaves the delay-import directory empty for delay libraries
        made by dlltool, though the loader helper still uses their
        descriptors; so besides the directory, look for any descriptor that
        names a DLL: attributes 1 followed by the RVA of a "*.dll" string.
        """
        found = []
        rva, size = self.dirs[13]
        if rva:
            at = self.offset(rva)
            while struct.unpack_from("<I", self.data, at + 4)[0]:
                found.append(at)
                at += 32
        for m in re.finditer(rb"[A-Za-z0-9_.-]+\.dll\0", self.data, re.I):
            name_rva = self.rva(m.start())
            if name_rva is None:
                continue
            needle = struct.pack("<II", 1, name_rva)
            at = self.data.find(needle)
            while at >= 0:
                if at % 4 == 0 and at not in found and self._plausible_delay(at):
                    found.append(at)
                at = self.data.find(needle, at + 1)
        return sorted(found)

    def _plausible_delay(self, at):
        _, _, hmod, iat, names = struct.unpack_from("<IIIII", self.data, at)
        try:
            for r in (hmod, iat, names):
                self.offset(r)
        except PEError:
            return False
        return True

    def rva(self, off):
        for _, va, _, rawptr, rawsize in self.sections:
            if rawptr <= off < rawptr + rawsize:
                return va + off - rawptr
        return None

    def resources(self):
        """({(type, name, lang): bytes}, [directory timestamps])."""
        rva, size = self.dirs[2]
        found, stamps = {}, []
        if not rva:
            return found, stamps
        root = self.offset(rva)

        def walk(rel, path):
            at = root + rel
            stamp = self.u32(at + 4)
            stamps.append(stamp)
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if key & 0x80000000:
                    s = root + (key & 0x7FFFFFFF)
                    n = self.u16(s)
                    key = self.data[s + 2:s + 2 + 2 * n].decode("utf-16-le")
                if target & 0x80000000:
                    if len(path) >= 2:
                        raise PEError("resource tree deeper than type/name/lang")
                    walk(target & 0x7FFFFFFF, path + (key,))
                else:
                    if len(path) != 2:
                        raise PEError("resource data outside type/name/lang")
                    data_rva, data_size = struct.unpack_from("<II", self.data, root + target)
                    off = self.offset(data_rva)
                    found[path + (key,)] = self.data[off:off + data_size]

        walk(0, ())
        return found, stamps

    def debug_stamps(self):
        rva, size = self.dirs[6]
        if not rva:
            return []
        at = self.offset(rva)
        return [self.u32(at + 28 * i + 4) for i in range(size // 28)]


class Report:
    def __init__(self):
        self.failed = 0

    def check(self, name, ok, detail):
        if not ok:
            self.failed += 1
        print("%s %s: %s" % ("PASS" if ok else "FAIL", name, detail))


def run_tool(args):
    env = dict(os.environ, TZ="UTC", LC_ALL="C")
    try:
        r = subprocess.run(args, capture_output=True, text=True, env=env)
    except FileNotFoundError:
        return None, "%s not found" % args[0]
    if r.returncode != 0:
        return None, "%s failed: %s" % (args[0], r.stderr.strip())
    return r.stdout, ""


def read_list(path):
    """Entries of an imports list, and problems with its format."""
    entries, problems = [], []
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            m = re.fullmatch(r"([^!\s]+)!([^!\s]+)", line)
            if not m:
                problems.append("line %d is not dll!function: %r" % (n, line))
            elif m.group(1) != m.group(1).lower():
                problems.append("line %d: dll name not in lower case: %r" % (n, line))
            entries.append(line)
    if entries != sorted(entries):
        problems.append("entries are not sorted")
    if len(set(entries)) != len(entries):
        problems.append("duplicate entries")
    return entries, problems


def objdump_reading(path):
    """Header fields and named imports as objdump -p prints them."""
    out, err = run_tool([OBJDUMP, "-p", path])
    if out is None:
        return None, err
    fields = {}
    for key in ("Magic", "MajorOSystemVersion", "MinorOSystemVersion",
                "MajorSubsystemVersion", "MinorSubsystemVersion",
                "Subsystem", "DllCharacteristics"):
        m = re.search(r"^%s\s+([0-9a-fA-F]+)" % key, out, re.M)
        if not m:
            return None, "objdump printed no %s" % key
        fields[key] = int(m.group(1), 16 if key in ("Magic", "Subsystem", "DllCharacteristics") else 10)
    m = re.search(r"^Time/Date\s+(.+)$", out, re.M)
    if not m:
        return None, "objdump printed no Time/Date"
    fields["Time/Date"] = calendar.timegm(time.strptime(m.group(1).strip(), "%a %b %d %H:%M:%S %Y"))
    imports, dll = [], None
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        if not line.strip():
            dll = None
            continue
        m = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)\s*$", line)
        if dll and m and m.group(1) != "<none>":
            imports.append("%s!%s" % (dll, m.group(1)))
    fields["imports"] = sorted(imports)
    return fields, ""


def check_icon_group(rep, res):
    group = res.get((RT_GROUP_ICON, ICON_GROUP_ID, LANG_JA_JP))
    if group is None:
        rep.check("icon group", False, "no RT_GROUP_ICON %d in language %d" % (ICON_GROUP_ID, LANG_JA_JP))
        return
    problems = []
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    if (reserved, kind, count) != (0, 1, len(ICON_LAYOUT)) or len(group) != 6 + 14 * count:
        problems.append("header says type %d, %d entries, %d bytes" % (kind, count, len(group)))
        count = min(count, (len(group) - 6) // 14)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    for i, (want, got) in enumerate(zip(ICON_LAYOUT, entries), 1):
        size, bpp = want
        w, h, colours, _, planes, bits, nbytes, ident = got
        want_colours = 16 if bpp == 4 else 0
        if (w, h, colours, planes, bits, ident) != (size, size, want_colours, 1, bpp, i):
            problems.append("entry %d is %dx%d %d bpp (%d colours, %d planes) id %d, want %dx%d %d bpp id %d"
                            % (i, w, h, bits, colours, planes, ident, size, size, bpp, i))
        image = res.get((RT_ICON, ident, LANG_JA_JP))
        if image is not None and len(image) != nbytes:
            problems.append("entry %d says %d bytes, RT_ICON %d has %d" % (i, nbytes, ident, len(image)))
    rep.check("icon group", not problems,
              "; ".join(problems) or "%d entries, 16/32/48 px at 4, 8 and 32 bpp, ids 1..%d"
              % (count, count))


def check_icon_images(rep, res):
    problems = []
    for ident, (size, bpp) in enumerate(ICON_LAYOUT, 1):
        image = res.get((RT_ICON, ident, LANG_JA_JP))
        if image is None:
            problems.append("RT_ICON %d (language %d) missing" % (ident, LANG_JA_JP))
            continue
        if len(image) < 40:
            problems.append("RT_ICON %d is %d bytes" % (ident, len(image)))
            continue
        hsize, w, h, planes, bits, compression = struct.unpack_from("<IiiHHI", image, 0)
        got = (hsize, w, h, planes, bits, compression)
        if got != (40, size, 2 * size, 1, bpp, 0):
            problems.append("RT_ICON %d header is size %d, %dx%d, %d planes, %d bpp, compression %d"
                            % ((ident,) + got))
            continue
        stride = ((size * bpp + 31) // 32) * 4
        mask_stride = ((size + 31) // 32) * 4
        palette = 4 << bpp if bpp <= 8 else 0
        want_len = 40 + palette + (stride + mask_stride) * size
        if len(image) != want_len:
            problems.append("RT_ICON %d is %d bytes, a %dx%d %d bpp DIB with mask is %d"
                            % (ident, len(image), size, size, bpp, want_len))
            continue
        bad = mask_problem(image[40:], size, bpp, palette, stride, mask_stride)
        if bad:
            problems.append("RT_ICON %d: %s" % (ident, bad))
    rep.check("icon images", not problems,
              "; ".join(problems) or "RT_ICON 1..%d present; headers, sizes and masks match"
              % len(ICON_LAYOUT))


def mask_problem(body, size, bpp, palette, stride, mask_stride):
    """What is wrong with an icon image's AND mask, or None.

    Windows draws an icon by ANDing the mask onto the screen and XORing the
    colour bits over it, so a masked pixel must be black in the colour bits
    or it tints the background. With an alpha channel, fully transparent
    and fully opaque pixels must agree with the mask. Empty images and ones
    without any transparency are wrong for this artwork as well.
    """
    pal, bits, mask = body[:palette], body[palette:palette + stride * size], body[palette + stride * size:]
    masked = 0
    for y in range(size):
        for x in range(size):
            m = (mask[y * mask_stride + x // 8] >> (7 - x % 8)) & 1
            masked += m
            if bpp == 32:
                alpha = bits[y * stride + 4 * x + 3]
                if m != (alpha == 0) and alpha in (0, 255):
                    return "pixel (%d, %d) has alpha %d but mask bit %d" % (x, size - 1 - y, alpha, m)
            elif m:
                if bpp == 8:
                    index = bits[y * stride + x]
                else:
                    index = (bits[y * stride + x // 2] >> (4 if x % 2 == 0 else 0)) & 15
                if pal[4 * index:4 * index + 3] != b"\0\0\0":
                    return "masked pixel (%d, %d) is not black" % (x, size - 1 - y)
    if masked == 0:
        return "no transparent pixel"
    if masked == size * size:
        return "every pixel transparent"
    return None


def check_headers(rep, pe, path):
    out, err = run_tool(["file", "-b", path])
    if out is None:
        rep.check("file", False, err)
    else:
        desc = out.strip().replace(FILE_NOISE, "")
        rep.check("file", desc.startswith(FILE_PREFIX), "file says %r" % out.strip())
    rep.check("machine", pe.machine == 0x14C, "0x%x (want 0x14c, i386)" % pe.machine)
    rep.check("magic", pe.magic == 0x10B, "0x%x (want 0x10b, PE32)" % pe.magic)
    rep.check("subsystem", pe.subsystem == 2, "%d (want 2, Windows GUI)" % pe.subsystem)
    rep.check("subsystem version", (pe.subsys_major, pe.subsys_minor) == (6, 0),
              "%d.%d (want 6.0)" % (pe.subsys_major, pe.subsys_minor))
    rep.check("OS version", (pe.os_major, pe.os_minor) == (6, 0),
              "%d.%d (want 6.0)" % (pe.os_major, pe.os_minor))
    missing = [name for bit, name in ((0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT"))
               if not pe.dll_characteristics & bit]
    rep.check("DllCharacteristics", not missing, "0x%04x%s" % (
        pe.dll_characteristics, ", lacks " + " and ".join(missing) if missing else ""))


def check_imports(rep, pe, imports_path):
    try:
        imports = pe.imports()
    except (PEError, struct.error, ValueError) as e:
        rep.check("imports", False, "cannot read the import tables: %s" % e)
        return
    try:
        listed, problems = read_list(imports_path)
    except (OSError, UnicodeDecodeError) as e:
        listed, problems = [], ["cannot read the list: %s" % e]
    extra = sorted(set(imports) - set(listed))
    gone = sorted(set(listed) - set(imports))
    problems += ["not in the list: " + ", ".join(extra)] if extra else []
    problems += ["listed but not imported: " + ", ".join(gone)] if gone else []
    rep.check("imports", not problems, "; ".join(problems) or "%d functions, as listed in %s"
              % (len(imports), os.path.basename(imports_path)))
    dlls = sorted({e.split("!")[0] for e in imports + listed})
    bad = [d for d in dlls if d not in ALLOWED_DLLS]
    rep.check("import DLLs", not bad,
              ("not allowed: " + ", ".join(bad)) if bad else ", ".join(dlls))


def check_manifest(rep, res, manifest_path):
    name = os.path.basename(manifest_path)
    try:
        with open(manifest_path, "rb") as f:
            want = f.read()
    except OSError as e:
        rep.check("manifest", False, "cannot read %s: %s" % (manifest_path, e))
        return
    got = res.get((RT_MANIFEST, 1, LANG_EN_US))
    if got is None:
        rep.check("manifest", False, "no RT_MANIFEST 1 in language %d" % LANG_EN_US)
    elif got == want:
        rep.check("manifest", True, "%d bytes, equal to %s" % (len(got), name))
    else:
        n = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b),
                 min(len(got), len(want)))
        rep.check("manifest", False, "%d bytes, differs from %s (%d bytes) from byte %d on"
                  % (len(got), name, len(want), n))


def check_resource_set(rep, res):
    want = {(RT_MANIFEST, 1, LANG_EN_US), (RT_GROUP_ICON, ICON_GROUP_ID, LANG_JA_JP)}
    want |= {(RT_ICON, i, LANG_JA_JP) for i in range(1, len(ICON_LAYOUT) + 1)}
    extra = sorted(set(res) - want, key=str)
    rep.check("resource set", not extra,
              ("unexpected: " + ", ".join("type %s id %s lang %s" % k for k in extra)) if extra
              else "%d resources: manifest, icon group, icons" % len(res))


def check_timestamps(rep, pe, resource_stamps):
    nonzero = []
    if pe.timestamp:
        nonzero.append("COFF header 0x%08x (%s UTC)" % (
            pe.timestamp, time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(pe.timestamp))))
    if any(resource_stamps):
        nonzero.append("resource directory")
    try:
        if any(pe.debug_stamps()):
            nonzero.append("debug directory")
    except (PEError, struct.error):
        nonzero.append("unreadable debug directory")
    rep.check("timestamps", not nonzero, ("nonzero: " + "; ".join(nonzero)) if nonzero else "all zero")


def check_objdump(rep, pe, path):
    od, err = objdump_reading(path)
    if od is None:
        rep.check("objdump agrees", False, err)
        return
    ours = {"Magic": pe.magic, "MajorOSystemVersion": pe.os_major,
            "MinorOSystemVersion": pe.os_minor, "MajorSubsystemVersion": pe.subsys_major,
            "MinorSubsystemVersion": pe.subsys_minor, "Subsystem": pe.subsystem,
            "DllCharacteristics": pe.dll_characteristics, "Time/Date": pe.timestamp}
    try:
        # objdump -p shows neither delay-loaded imports nor names for
        # ordinals, so compare the plain named imports only.
        ours["imports"] = [i for i in pe.imports(delayed=False) if "!#" not in i]
    except (PEError, struct.error, ValueError):
        pass  # already reported by the imports check
    diff = [k for k in ours if od.get(k) != ours[k]]
    rep.check("objdump agrees", not diff,
              ("objdump reads differently: " + ", ".join(diff)) if diff
              else "objdump -p reads the same headers and imports")


def check_all(path, imports_path, manifest_path):
    rep = Report()
    with open(path, "rb") as f:
        data = f.read()
    try:
        pe = PE(data)
    except (PEError, struct.error) as e:
        rep.check("PE headers", False, str(e))
        return rep
    check_headers(rep, pe, path)
    check_imports(rep, pe, imports_path)
    try:
        res, stamps = pe.resources()
    except (PEError, struct.error, ValueError) as e:
        rep.check("resources", False, "cannot read the resource tree: %s" % e)
        res, stamps = None, []
    if res is not None:
        check_manifest(rep, res, manifest_path)
        check_resource_set(rep, res)
        check_icon_group(rep, res)
        check_icon_images(rep, res)
    check_timestamps(rep, pe, stamps)
    check_objdump(rep, pe, path)
    return rep


def same(a, b):
    with open(a, "rb") as f:
        da = f.read()
    with open(b, "rb") as f:
        db = f.read()
    if da == db:
        print("PASS same: %s and %s are identical (%d bytes)" % (a, b, len(da)))
        return 0
    n = next((i for i, (x, y) in enumerate(zip(da, db)) if x != y), min(len(da), len(db)))
    try:
        where = PE(da).region(n)
    except (PEError, struct.error):
        where = "not a readable PE"
    print("FAIL same: first difference at offset 0x%x (%s); sizes %d and %d"
          % (n, where, len(da), len(db)))
    return 1


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--same", action="store_true", help="compare two builds byte for byte")
    ap.add_argument("--list-imports", action="store_true", help="print the imports in list format")
    ap.add_argument("--imports", default=DEFAULT_IMPORTS, help="expected imports list")
    ap.add_argument("--manifest", default=DEFAULT_MANIFEST, help="expected manifest")
    ap.add_argument("exe", nargs="+")
    args = ap.parse_args(argv[1:])
    if args.same:
        if len(args.exe) != 2:
            ap.error("--same takes two files")
        return same(*args.exe)
    if len(args.exe) != 1:
        ap.error("give one exe")
    try:
        if args.list_imports:
            with open(args.exe[0], "rb") as f:
                entries = PE(f.read()).imports()
            sys.stdout.write(LIST_HEADER + LIST_UNREVIEWED + "".join(e + "\n" for e in entries))
            return 0
        rep = check_all(args.exe[0], args.imports, args.manifest)
    except (OSError, PEError, struct.error, ValueError) as e:
        sys.stderr.write("check_exe.py: %s: %s\n" % (args.exe[0], e))
        return 2
    print("%s: %d check(s) failed" % (args.exe[0], rep.failed) if rep.failed
          else "%s: all checks passed" % args.exe[0])
    return 1 if rep.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

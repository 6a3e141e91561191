#!/usr/bin/python3
"""Checks on the shipped 32-bit TAVOSweeper.exe.

  check_exe.py [--imports FILE] [--manifest FILE] EXE
      Run every check; one PASS/FAIL line each; exit 1 if any fails.
  check_exe.py --list-imports EXE
      Print EXE's imports in the format of imports-x86.txt.
  check_exe.py --same A.exe B.exe
      Compare two builds byte for byte (reproducible builds).

The PE headers, imports and resources are read with pefile (Debian's
python3-pefile); objdump and file(1) are run too, as an independent second
reading of the same fields.
"""

import argparse
import calendar
import os
import re
import struct
import subprocess
import sys
import time
from pathlib import Path

try:
    import pefile
except ImportError:
    # python3-pefile installs for Debian's own interpreter; another python3
    # (a pyenv one, say) may come first on PATH.
    DEBIAN_PYTHON = "/usr/bin/python3"
    if os.path.exists(DEBIAN_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(DEBIAN_PYTHON):
        os.execv(DEBIAN_PYTHON, [DEBIAN_PYTHON] + sys.argv)
    sys.exit("check_exe.py: pefile is missing (apt-get install python3-pefile)")

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_IMPORTS = os.path.join(HERE, "imports-x86.txt")
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
DEFAULT_MANIFEST = os.path.join(ROOT, "res", "tavo.manifest")
OBJDUMP = "i686-w64-mingw32-objdump"

FILE_PREFIX = "PE32 executable (GUI) Intel 80386, for MS Windows"
# ld sets IMAGE_FILE_DEBUG_STRIPPED when it strips (-s), and file(1) shows
# that flag inside the text we match on; it says nothing about the target.
FILE_NOISE = " (stripped to external PDB)"

ALLOWED_DLLS = ("kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll",
                "shlwapi.dll", "ole32.dll", "msvcrt.dll")

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
LANG_EN_US, LANG_JA_JP = 1033, 1041
ICON_GROUP_ID = 101
# (width, bits per pixel) of the icon images, in resource id order 1..9.
ICON_LAYOUT = [(size, bpp) for bpp in (4, 8, 32) for size in (16, 32, 48)]
# The version resource's string table: Japanese, strings in UTF-16 (1200).
VERSION_TABLE, VERSION_TRANSLATION = "041104B0", "0x0411 0x04b0"

# The optional-header fields objdump -p prints: its name, pefile's name, and
# the base objdump prints it in.
OBJDUMP_FIELDS = (("Magic", "Magic", 16), ("MajorOSystemVersion", "MajorOperatingSystemVersion", 10),
                  ("MinorOSystemVersion", "MinorOperatingSystemVersion", 10),
                  ("MajorSubsystemVersion", "MajorSubsystemVersion", 10),
                  ("MinorSubsystemVersion", "MinorSubsystemVersion", 10),
                  ("Subsystem", "Subsystem", 16), ("DllCharacteristics", "DllCharacteristics", 16))

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


def load_pe(data):
    try:
        return pefile.PE(data=data)
    except pefile.PEFormatError as e:
        raise PEError(e.value)


def import_names(descriptors):
    out = []
    for d in descriptors:
        dll = d.dll.decode("ascii", "replace").lower()
        for imp in d.imports:
            if imp.import_by_ordinal:
                out.append("%s!#%d" % (dll, imp.ordinal))
            else:
                out.append("%s!%s" % (dll, imp.name.decode("ascii", "replace")))
    return out


def imports(pe, delayed=True):
    """Sorted "dll!function" strings, plain and (by default) delay-loaded."""
    out = import_names(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    if delayed:
        out += import_names(getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []))
        out += import_names(hidden_delay_descriptors(pe))
    return sorted(set(out))


def hidden_delay_descriptors(pe):
    """Delay-load descriptors that the delay-import directory does not list.

    GNU ld leaves that directory empty for delay libraries made by dlltool,
    though the loader helper still uses their descriptors; so look for any
    descriptor that names a DLL: attributes 1 followed by the RVA of a
    "*.dll" string.
    """
    data = pe.__data__
    listed = {d.struct.get_file_offset() for d in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])}
    found = []
    for m in re.finditer(rb"[A-Za-z0-9_.-]+\.dll\0", data, re.I):
        name_rva = pe.get_rva_from_offset(m.start())
        if name_rva is None:
            continue
        needle = struct.pack("<II", 1, name_rva)
        at = data.find(needle)
        while at >= 0:
            rva = pe.get_rva_from_offset(at)
            if at % 4 == 0 and at not in listed and rva is not None:
                # pefile walks on to the next descriptor; the first is this one.
                found += pe.parse_delay_import_directory(rva, 32)[:1]
                listed.add(at)
            at = data.find(needle, at + 1)
    return found


def resources(pe):
    """({(type, name, lang): bytes}, [timestamps of every resource directory])."""
    found, stamps = {}, []

    def walk(directory, path):
        stamps.append(directory.struct.TimeDateStamp)
        for entry in directory.entries:
            key = path + (entry.id if entry.name is None else str(entry.name),)
            if hasattr(entry, "directory"):
                if len(path) >= 2:
                    raise PEError("resource tree deeper than type/name/lang")
                walk(entry.directory, key)
            elif len(path) != 2:
                raise PEError("resource data outside type/name/lang")
            else:
                found[key] = pe.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size)

    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is not None:
        walk(root, ())
    return found, stamps


def region(pe, off):
    """Name of the part of the file that holds file offset off."""
    if off < pe.OPTIONAL_HEADER.SizeOfHeaders:
        return "headers"
    section = pe.get_section_by_offset(off)
    if section is not None:
        return "section %s" % section.Name.rstrip(b"\0").decode("ascii", "replace")
    return "outside all sections"


class Report:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, ok, detail):
        if ok:
            self.passed += 1
        else:
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
    for key, _, base in OBJDUMP_FIELDS:
        m = re.search(r"^%s\s+([0-9a-fA-F]+)" % key, out, re.M)
        if not m:
            return None, "objdump printed no %s" % key
        fields[key] = int(m.group(1), base)
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
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    rep.check("machine", fh.Machine == 0x14C, "0x%x (want 0x14c, i386)" % fh.Machine)
    rep.check("magic", oh.Magic == 0x10B, "0x%x (want 0x10b, PE32)" % oh.Magic)
    rep.check("subsystem", oh.Subsystem == 2, "%d (want 2, Windows GUI)" % oh.Subsystem)
    subsys = (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion)
    rep.check("subsystem version", subsys == (6, 0), "%d.%d (want 6.0)" % subsys)
    os_version = (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion)
    rep.check("OS version", os_version == (6, 0), "%d.%d (want 6.0)" % os_version)
    missing = [name for bit, name in ((0x40, "DYNAMIC_BASE"), (0x100, "NX_COMPAT"))
               if not oh.DllCharacteristics & bit]
    rep.check("DllCharacteristics", not missing, "0x%04x%s" % (
        oh.DllCharacteristics, ", lacks " + " and ".join(missing) if missing else ""))


def check_imports(rep, pe, imports_path):
    try:
        found = imports(pe)
    except (pefile.PEFormatError, struct.error, ValueError) as e:
        rep.check("imports", False, "cannot read the import tables: %s" % e)
        return
    try:
        listed, problems = read_list(imports_path)
    except (OSError, UnicodeDecodeError) as e:
        listed, problems = [], ["cannot read the list: %s" % e]
    extra = sorted(set(found) - set(listed))
    gone = sorted(set(listed) - set(found))
    problems += ["not in the list: " + ", ".join(extra)] if extra else []
    problems += ["listed but not imported: " + ", ".join(gone)] if gone else []
    rep.check("imports", not problems, "; ".join(problems) or "%d functions, as listed in %s"
              % (len(found), os.path.basename(imports_path)))
    dlls = sorted({e.split("!")[0] for e in found + listed})
    bad = [d for d in dlls if d not in ALLOWED_DLLS]
    rep.check("import DLLs", not bad,
              ("not allowed: " + ", ".join(bad)) if bad else ", ".join(dlls))


def check_manifest(rep, res, manifest_path):
    name = os.path.basename(manifest_path)
    try:
        want = Path(manifest_path).read_bytes()
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
    want = {(RT_MANIFEST, 1, LANG_EN_US), (RT_GROUP_ICON, ICON_GROUP_ID, LANG_JA_JP),
            (RT_VERSION, 1, LANG_JA_JP)}
    want |= {(RT_ICON, i, LANG_JA_JP) for i in range(1, len(ICON_LAYOUT) + 1)}
    extra = sorted(set(res) - want, key=str)
    rep.check("resource set", not extra,
              ("unexpected: " + ", ".join("type %s id %s lang %s" % k for k in extra)) if extra
              else "%d resources: manifest, icon group, icons, version" % len(res))


def project_version():
    """The x.y.z of project(... VERSION x.y.z) in CMakeLists.txt."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        m = re.search(r"^project\(\s*TAVOSweeper\s+VERSION\s+(\d+)\.(\d+)\.(\d+)\b", f.read(), re.M)
    if not m:
        raise ValueError("CMakeLists.txt sets no project(TAVOSweeper VERSION x.y.z)")
    return tuple(int(n) for n in m.groups())


def dialog_title():
    """The title of the tool's dialogs, as its sources define it."""
    found = set()
    for folder, dirs, files in os.walk(ROOT):
        dirs[:] = [d for d in dirs if d not in ("build", "tests", "bench", ".git")]
        for name in files:
            if name.endswith((".h", ".cpp")):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    found |= set(re.findall(r'#define\s+TAVO_DIALOG_TITLE\s+"([^"\\]*)"', f.read()))
    if len(found) != 1:
        raise ValueError("the sources define TAVO_DIALOG_TITLE %d times" % len(found))
    return found.pop()


def version_strings(pe):
    """({table key: {name: text}}, translation text) of the version resource."""
    tables, translation = {}, None
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            tables[table.LangID.decode()] = {k.decode(): v.decode("utf-8")
                                             for k, v in table.entries.items()}
        for var in getattr(info, "Var", []):
            translation = var.entry.get(b"Translation", translation)
    return tables, translation


def check_version(rep, pe, res):
    raw = res.get((RT_VERSION, 1, LANG_JA_JP))
    if raw is None or not hasattr(pe, "VS_FIXEDFILEINFO"):
        rep.check("version resource", False, "no RT_VERSION 1 in language %d" % LANG_JA_JP)
        return
    try:
        version, title = project_version(), dialog_title()
    except (OSError, ValueError) as e:
        rep.check("version resource", False, "cannot tell what it should hold: %s" % e)
        return
    text = "%d.%d.%d" % version
    want = {"FileDescription": title, "FileVersion": text, "ProductVersion": text,
            "ProductName": "TAVOSweeper", "InternalName": "TAVOSweeper",
            "OriginalFilename": "TAVOSweeper.exe"}
    tables, translation = version_strings(pe)
    got = tables.get(VERSION_TABLE, {})
    problems = [] if list(tables) == [VERSION_TABLE] else [
        "string tables %s, want only %s" % (sorted(tables), VERSION_TABLE)]
    problems += ["%s is %r, want %r" % (k, got.get(k), want.get(k))
                 for k in sorted(set(want) | set(got)) if got.get(k) != want.get(k)]
    if translation != VERSION_TRANSLATION:
        problems.append("translation %r, want %r" % (translation, VERSION_TRANSLATION))
    rep.check("version strings", not problems, "; ".join(problems) or
              ", ".join("%s=%s" % (k, got[k]) for k in sorted(got)))
    # A second reading of the raw bytes: windres must have made the UTF-16
    # of the Japanese description from the UTF-8 source.
    held = title.encode("utf-16-le") in raw
    rep.check("version description UTF-16", held,
              "the resource %s the UTF-16 of %r" % ("holds" if held else "lacks", title))
    fixed = pe.VS_FIXEDFILEINFO[0]
    want_ms, want_ls = (version[0] << 16) | version[1], version[2] << 16
    dotted = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    file_v = dotted(fixed.FileVersionMS, fixed.FileVersionLS)
    product_v = dotted(fixed.ProductVersionMS, fixed.ProductVersionLS)
    want_v = dotted(want_ms, want_ls)
    rep.check("version numbers", file_v == product_v == want_v and fixed.FileType == 1,
              "file %s, product %s, type %d (want %s and type 1, an application)"
              % (file_v, product_v, fixed.FileType, want_v))


def check_timestamps(rep, pe, resource_stamps):
    nonzero = []
    stamp = pe.FILE_HEADER.TimeDateStamp
    if stamp:
        nonzero.append("COFF header 0x%08x (%s UTC)" % (
            stamp, time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(stamp))))
    if any(resource_stamps):
        nonzero.append("resource directory")
    if any(d.struct.TimeDateStamp for d in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])):
        nonzero.append("debug directory")
    rep.check("timestamps", not nonzero, ("nonzero: " + "; ".join(nonzero)) if nonzero else "all zero")


def check_objdump(rep, pe, path):
    od, err = objdump_reading(path)
    if od is None:
        rep.check("objdump agrees", False, err)
        return
    ours = {key: getattr(pe.OPTIONAL_HEADER, attr) for key, attr, _ in OBJDUMP_FIELDS}
    ours["Time/Date"] = pe.FILE_HEADER.TimeDateStamp
    try:
        # objdump -p shows neither delay-loaded imports nor names for
        # ordinals, so compare the plain named imports only.
        ours["imports"] = [i for i in imports(pe, delayed=False) if "!#" not in i]
    except (pefile.PEFormatError, struct.error, ValueError):
        pass  # already reported by the imports check
    diff = [k for k in ours if od.get(k) != ours[k]]
    rep.check("objdump agrees", not diff,
              ("objdump reads differently: " + ", ".join(diff)) if diff
              else "objdump -p reads the same headers and imports")


def check_all(path, imports_path, manifest_path):
    rep = Report()
    try:
        pe = load_pe(Path(path).read_bytes())
    except PEError as e:
        rep.check("PE headers", False, str(e))
        return rep
    warnings = pe.get_warnings()
    rep.check("pefile warnings", not warnings, "; ".join(warnings) or "none")
    check_headers(rep, pe, path)
    check_imports(rep, pe, imports_path)
    try:
        res, stamps = resources(pe)
    except (PEError, pefile.PEFormatError) as e:
        rep.check("resources", False, "cannot read the resource tree: %s" % e)
        res, stamps = None, []
    if res is not None:
        check_manifest(rep, res, manifest_path)
        check_resource_set(rep, res)
        check_version(rep, pe, res)
        check_icon_group(rep, res)
        check_icon_images(rep, res)
    check_timestamps(rep, pe, stamps)
    check_objdump(rep, pe, path)
    return rep


def same(a, b):
    da, db = Path(a).read_bytes(), Path(b).read_bytes()
    if da == db:
        print("PASS same: %s and %s are identical (%d bytes)" % (a, b, len(da)))
        return 0
    n = next((i for i, (x, y) in enumerate(zip(da, db)) if x != y), min(len(da), len(db)))
    try:
        where = region(load_pe(da), n)
    except PEError:
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
            entries = imports(load_pe(Path(args.exe[0]).read_bytes()))
            sys.stdout.write(LIST_HEADER + LIST_UNREVIEWED + "".join(e + "\n" for e in entries))
            return 0
        rep = check_all(args.exe[0], args.imports, args.manifest)
    except (OSError, PEError, pefile.PEFormatError, struct.error, ValueError) as e:
        sys.stderr.write("check_exe.py: %s: %s\n" % (args.exe[0], e))
        return 2
    print("%s: %d check(s) failed" % (args.exe[0], rep.failed) if rep.failed
          else "%s: all checks passed" % args.exe[0])
    return 1 if rep.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

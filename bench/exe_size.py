#!/usr/bin/python3
"""Size of the shipped exe (build/windows-x86/TAVOSweeper.exe), per section,
and what each section is made of.

    bench/exe_size.py [--out DIR] [--no-build]

1. Builds the shipped exe with its preset when it is missing
   (cmake --preset windows-x86 && cmake --build --preset windows-x86).
2. Reads the section table with i686-w64-mingw32-objdump -h.
3. Links the same sources once more in DIR/x86-map with the linker writing a
   map file (-Wl,-Map, nothing else added), checks that exe is byte for byte
   the shipped one, and sums the map's input sections per output section by
   where they came from (the product's objects, libuuid, libmingwex, the
   import stubs, the C runtime start-up, libgcc, the resource object...).

Output in DIR/size/ (default build/bench/size): objdump.txt, the map file,
summary.txt and summary.json.
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from summary import write_summary  # noqa: E402
from collections import defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SHIPPED = os.path.join(REPO, "build", "windows-x86", "TAVOSweeper.exe")
OBJDUMP = "i686-w64-mingw32-objdump"


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, timeout=1800, **kw)


def sections(exe):
    """[(name, size, file offset)] from objdump -h, and its text."""
    text = run([OBJDUMP, "-h", exe], capture_output=True, text=True).stdout
    out = []
    for line in text.splitlines():
        m = re.match(r"^\s*\d+\s+(\S+)\s+([0-9a-f]{8})\s+[0-9a-f]{8}\s+[0-9a-f]{8}\s+([0-9a-f]{8})", line)
        if m:
            out.append((m.group(1), int(m.group(2), 16), int(m.group(3), 16)))
    return out, text


def origin(path):
    """A short name for where an input section came from."""
    base = os.path.basename(path)
    if path == "dll stuff":
        return "base relocations (made by the linker)"
    if path.startswith("LONG "):
        return "import table terminators (linker)"
    if "CMakeFiles/TAVOSweeper.dir/" in path:
        rel = path.split("CMakeFiles/TAVOSweeper.dir/", 1)[1]
        if rel.startswith("res/"):
            return "resources (res/tavo.rc: icon, manifest)"
        return "product objects"
    m = re.match(r"lib(\w+?)\.a\(", base)
    if m:
        lib = m.group(1)
        if lib in ("mingwex", "mingw32", "gcc", "gcc_eh", "stdc++", "uuid", "moldname", "msvcrt", "pthread",
                   "winpthread"):
            if lib == "msvcrt":
                # libmsvcrt.a holds both import stubs and mingw's own helpers.
                return "libmsvcrt (import stubs and helpers)"
            return f"lib{lib}"
        return "import stubs (Windows DLLs)"
    if base.endswith(".o") or base.endswith(".obj"):
        return "C runtime start-up objects (crt2, crtbegin, crtend)"
    return base


def map_sizes(map_path):
    """{output section: {origin: bytes}} from a GNU ld map file."""
    out = defaultdict(lambda: defaultdict(int))
    current = None
    pending = None
    in_memory_map = False
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("Linker script and memory map"):
                in_memory_map = True
                continue
            if not in_memory_map:
                continue
            m = re.match(r"^(\.\S+|/DISCARD/)(\s+0x[0-9a-f]+\s+0x[0-9a-f]+)?", line)
            if m and not line.startswith(" "):
                current = m.group(1)
                pending = None
                continue
            if current is None or current == "/DISCARD/":
                continue
            m = re.match(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if m:
                out[current][origin(m.group(4))] += int(m.group(3), 16)
                pending = None
                continue
            m = re.match(r"^ \*fill\*\s+0x[0-9a-f]+\s+0x([0-9a-f]+)", line)
            if m:
                out[current]["alignment fill"] += int(m.group(1), 16)
                continue
            m = re.match(r"^ (\S+)$", line)
            if m and not m.group(1).startswith("*"):
                pending = m.group(1)
                continue
            m = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if m and pending:
                out[current][origin(m.group(3))] += int(m.group(2), 16)
                pending = None
    return out


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", default=os.path.join(REPO, "build", "bench"))
    ap.add_argument("--no-build", action="store_true")
    a = ap.parse_args(argv)
    out_dir = os.path.join(os.path.abspath(a.out), "size")
    map_build = os.path.join(os.path.abspath(a.out), "x86-map")
    os.makedirs(out_dir, exist_ok=True)

    if not os.path.isfile(SHIPPED):
        run(["cmake", "--preset", "windows-x86"], cwd=REPO, stdout=subprocess.DEVNULL)
        run(["cmake", "--build", "--preset", "windows-x86"], cwd=REPO, stdout=subprocess.DEVNULL)
    size = os.path.getsize(SHIPPED)
    secs, text = sections(SHIPPED)
    with open(os.path.join(out_dir, "objdump.txt"), "w") as f:
        f.write(text)

    map_path = os.path.join(map_build, "TAVOSweeper.map")
    if not a.no_build:
        run(["cmake", "-S", REPO, "-B", map_build, "-G", "Ninja",
             "--toolchain", os.path.join(REPO, "cmake", "mingw-i686.cmake"), "-DCMAKE_BUILD_TYPE=Release",
             f"-DCMAKE_EXE_LINKER_FLAGS=-Wl,-Map={map_path}"], stdout=subprocess.DEVNULL)
        run(["cmake", "--build", map_build], stdout=subprocess.DEVNULL)
    with open(SHIPPED, "rb") as f1, open(os.path.join(map_build, "TAVOSweeper.exe"), "rb") as f2:
        identical = f1.read() == f2.read()
    by_origin = map_sizes(map_path)
    with open(map_path, encoding="utf-8", errors="replace") as src, \
            open(os.path.join(out_dir, "TAVOSweeper.map"), "w") as dst:
        dst.write(src.read())

    lines = [f"build/windows-x86/TAVOSweeper.exe: {size:,} bytes ({size / 1024:.1f} KiB)", "",
             f"{'section':10s} {'bytes':>8s}  {'KiB':>6s}  share of the file"]
    raw_total = 0
    for name, sz, off in secs:
        lines.append(f"{name:10s} {sz:>8,}  {sz / 1024:6.1f}  {100 * sz / size:5.1f}%"
                     + ("  (not in the file: zero-filled at load)" if name == ".bss" else ""))
        if name != ".bss":
            raw_total += sz
    headers = secs[0][2] if secs else 0
    lines.append(f"headers    {headers:>8,}")
    lines.append(f"padding to 512-byte file alignment: {size - headers - raw_total:,} bytes")
    lines.append("")
    lines.append(f"map build byte-identical to the shipped exe: {'yes' if identical else 'NO'}")
    lines.append("what the sections are made of (input sections from the map file, before alignment):")
    shown = {".text", ".rdata", ".eh_frame", ".rsrc", ".idata", ".data", ".bss", ".reloc", ".CRT", ".tls"}
    js = {"file_bytes": size, "sections": {n: s for n, s, _ in secs}, "identical_map_build": identical,
          "by_origin": {}}
    for sec, parts in by_origin.items():
        if sec not in shown:
            continue
        total = sum(parts.values())
        js["by_origin"][sec] = dict(parts)
        lines.append(f"  {sec} ({total:,} bytes)")
        for o, n in sorted(parts.items(), key=lambda kv: -kv[1]):
            if n:
                lines.append(f"    {n:>8,}  {100 * n / total:5.1f}%  {o}")
    return write_summary(out_dir, lines, js)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

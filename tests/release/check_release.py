#!/usr/bin/python3
"""Checks on the release folder that scripts/release.sh writes, and on the guide.

    tests/release/check_release.py [RELEASE_DIR] [--guide FILE]

RELEASE_DIR defaults to build/release, the guide to docs/guide-ja.txt. One PASS/FAIL line per check,
then "N passed, M failed"; exit 1 if any failed.

The guide marks what it quotes from the tool: 「text」 for a text of a dialog
or the log, ［button］ for a message-box button, and lines starting with "|"
for log excerpts. Each is looked up in what the tool really shows and writes:
the string literals of its sources and the expected logs of its tests, so a
wording change in the tool breaks the guide's check until the guide follows.
"""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "exe"))
from check_exe import Report, pefile  # noqa: E402  (Debian's python3-pefile, under Debian's python3)
BUILT_EXE = os.path.join(ROOT, "build", "windows-x86", "TAVOSweeper.exe")
GUIDE = os.path.join(ROOT, "docs", "guide-ja.txt")
RELEASE_FILES = ("TAVOSweeper.exe", "README-ja.txt")
GOLDEN_DIRS = (os.path.join(ROOT, "tests", "golden"), os.path.join(ROOT, "tests", "wine", "golden"))
# Folders that hold no text of the product: tests, tools, and the simulated
# Windows of the host tests.
NOT_PRODUCT = {"build", "tests", "bench", "docs", "scripts", "cmake", ".git", ".ci", "sim"}

# The buttons Windows shows for each message-box style the tool may use.
BUTTONS = {"MB_YESNOCANCEL": ("はい", "いいえ", "キャンセル"),
           "MB_OKCANCEL": ("OK", "キャンセル"), "MB_OK": ("OK",)}

# String literals, and what must not be mistaken for them (character
# literals, comments).
TOKEN = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/', re.S)
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'"}
# A log banner: ten asterisks, " title date time ", asterisks. Expected logs
# write it as "@title".
BANNER = re.compile(r"^\*{10} (.+) \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \*+$")


def product_sources():
    for folder, dirs, files in os.walk(ROOT):
        dirs[:] = sorted(d for d in dirs if d not in NOT_PRODUCT)
        for name in sorted(files):
            if name.endswith((".cpp", ".h", ".rc")):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    yield f.read()


def product_texts():
    """(string literals of the product's sources, lines of its expected logs,
    message-box styles its sources use)."""
    literals, styles = [], set()
    for source in product_sources():
        for token in TOKEN.findall(source):
            if token.startswith('"'):
                literals.append(re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(0)),
                                       token[1:-1]))
        styles |= {s for s in BUTTONS if re.search(r"\b%s\b" % s, source)}
    logs = []
    for folder in GOLDEN_DIRS:
        for name in sorted(os.listdir(folder)):
            if name.endswith(".log"):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    logs.append([line for line in f.read().splitlines() if not line.startswith("#")])
    return literals, logs, styles


def guide_marks(text):
    """(「」 quotes, ［］ buttons, log excerpts as lists of lines) of the guide."""
    quotes = re.findall(r"「([^「」\n]+)」", text)
    buttons = re.findall(r"［([^［］\n]+)］", text)
    excerpts, block = [], []
    for line in text.splitlines() + [""]:
        m = re.match(r"\s*\| ?(.*)$", line)
        if m:
            banner = BANNER.match(m.group(1))
            block.append("@" + banner.group(1) if banner else m.group(1))
        elif block:
            excerpts.append(block)
            block = []
    return quotes, buttons, excerpts


def contains_run(lines, block):
    return any(lines[i:i + len(block)] == block for i in range(len(lines) - len(block) + 1))


def check_guide(rep, path):
    with open(path, encoding="utf-8") as f:
        quotes, buttons, excerpts = guide_marks(f.read())
    literals, logs, styles = product_texts()
    log_lines = [line for log in logs for line in log]
    missing = sorted({q for q in quotes
                      if not any(q in t for t in literals) and not any(q in t for t in log_lines)})
    rep.check("guide quotes", bool(quotes) and not missing,
              ("not in the tool's texts: " + ", ".join("「%s」" % q for q in missing)) if missing
              else "%d quotes, each found in the tool's sources or expected logs" % len(quotes))
    shown = {b for s in styles for b in BUTTONS[s]}
    wrong = sorted(set(buttons) - shown)
    rep.check("guide buttons", bool(buttons) and not wrong,
              ("no such button in the tool's dialogs: " + ", ".join(wrong)) if wrong
              else "%d mentions of %s" % (len(buttons), ", ".join(sorted(set(buttons)))))
    stray = [b for b in excerpts if not any(contains_run(log, b) for log in logs)]
    rep.check("guide log excerpts", bool(excerpts) and not stray,
              ("not a run of lines of any expected log: " + "; ".join(b[0] for b in stray)) if stray
              else "%d excerpts, %d lines, each a run of lines of an expected log"
              % (len(excerpts), sum(map(len, excerpts))))
    steps = [int(m.group(1)) for m in (re.match(r"#(\d+) ", q) for q in quotes) if m]
    first = [n for i, n in enumerate(steps) if n not in steps[:i]]
    rep.check("guide step order", first == sorted(first) and first[:1] == [1] and first[-1:] == [25],
              "steps in the order the guide first names them: %s" % " ".join("#%d" % n for n in first))


def check_sums(rep, folder):
    try:
        with open(os.path.join(folder, "SHA256SUMS"), encoding="ascii") as f:
            lines = f.read().splitlines()
    except (OSError, UnicodeDecodeError) as e:
        rep.check("SHA256SUMS", False, "cannot read it: %s" % e)
        return
    problems, listed = [], set()
    for line in lines:
        m = re.fullmatch(r"([0-9a-f]{64})  ([^/\\]+)", line)
        if not m:
            problems.append("not a sha256sum line: %r" % line)
            continue
        listed.add(m.group(2))
        path = os.path.join(folder, m.group(2))
        if not os.path.isfile(path):
            problems.append("%s is listed but missing" % m.group(2))
        elif hashlib.sha256(Path(path).read_bytes()).hexdigest() != m.group(1):
            problems.append("%s does not match its sum" % m.group(2))
    unlisted = sorted(set(os.listdir(folder)) - listed - {"SHA256SUMS"})
    problems += ["%s is not listed" % n for n in unlisted]
    problems += ["%s is missing" % n for n in RELEASE_FILES if n not in listed]
    # Nothing else ships: not the Wine tests' IFileOperation stand-in, nor any DLL.
    problems += ["%s does not belong in a release" % n for n in sorted(listed | set(unlisted))
                 if n not in RELEASE_FILES]
    rep.check("SHA256SUMS", not problems, "; ".join(problems) or "%d files, every sum matches" % len(listed))


def without_checksum(data):
    """The image with its PE checksum zeroed: osslsigncode writes one of its
    own into every image it outputs, and ld's differs from it."""
    data = bytearray(data)
    at = pefile.PE(data=bytes(data), fast_load=True).OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    data[at:at + 4] = bytes(4)
    return bytes(data)


def unsigned_bytes(exe):
    """The exe without its Authenticode signature and checksum, or None if it
    carries no signature."""
    if not pefile.PE(exe, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[4].Size:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "unsigned.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", exe, "-out", out],
                       check=True, capture_output=True)
        return without_checksum(Path(out).read_bytes())


def check_exe(rep, folder):
    shipped = os.path.join(folder, "TAVOSweeper.exe")
    built = Path(BUILT_EXE).read_bytes()
    if Path(shipped).read_bytes() == built:
        rep.check("release exe", True, "unsigned, identical to %s" % os.path.relpath(BUILT_EXE, ROOT))
        return
    stripped = unsigned_bytes(shipped)
    ok = stripped is not None and stripped == without_checksum(built)
    rep.check("release exe", ok,
              "signed; but for signature and checksum identical to the build" if ok
              else "differs from %s%s" % (os.path.relpath(BUILT_EXE, ROOT),
                                          "" if stripped is None else " beyond its signature"))


def check_guide_copy(rep, folder, guide):
    want = b"\xef\xbb\xbf" + Path(guide).read_bytes().replace(b"\n", b"\r\n")
    got = Path(folder, "README-ja.txt").read_bytes()
    rep.check("release guide", got == want,
              "the guide, UTF-8 with BOM and CR LF" if got == want
              else "differs from %s with BOM and CR LF" % os.path.relpath(guide, ROOT))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("folder", nargs="?", default=os.path.join(ROOT, "build", "release"))
    ap.add_argument("--guide", default=GUIDE)
    args = ap.parse_args(argv[1:])
    rep = Report()
    for name, check, check_args in (("guide", check_guide, (args.guide,)),
                                    ("SHA256SUMS", check_sums, (args.folder,)),
                                    ("release exe", check_exe, (args.folder,)),
                                    ("release guide", check_guide_copy, (args.folder, args.guide))):
        try:
            check(rep, *check_args)
        except (OSError, subprocess.CalledProcessError, pefile.PEFormatError) as e:
            rep.check(name, False, str(e))
    print("%d passed, %d failed" % (rep.passed, rep.failed))
    return 1 if rep.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

"""Deletion through the shell, checked: the test build's IFileOperation
stand-in (tests/wine/standin/) that Wine lacks, where each prefix registers
it, its trace of every call against the log's [DeleteItem] lines, and the
planted tree before and after a run.
"""

import hashlib
import os
import re
from pathlib import Path

from common import REPO_ROOT, winpath_key

FILEOP_CLSID = "{3AD05575-8857-4850-9277-11B85BDB8E09}"
STANDIN_DLL = "tavo_fileop_standin.dll"
HOLD_OPEN_EXE = "tavo_hold_open.exe"
# The prefix keeps one copy of the stand-in per machine; the template
# registers them and every scenario copies the current build there.
STANDIN_DIR = r"C:\tavo-standin"
FILEOP_TRACE = r"C:\tavo-harness\fileop-trace.txt"
# standin: the test build's stand-in serves CLSID_FileOperation (the default);
# wine: Wine's own shell32 (E_NOTIMPL); unregistered: the class is gone.
FILEOP_MODES = ("standin", "wine", "unregistered")
# Wine 8 registers shell32 for the class in both views of its prefixes.
WINE_FILEOP_SERVER = r"C:\windows\system32\shell32.dll"
FILEOP_FLAGS = 0x214
# Folders of drive_c a run's file checks leave out: Wine's own, and the harness's.
UNWATCHED = ("windows", "tavo-harness", "tavo-standin")


def standin_builds():
    """{"x86": dll, "x64": dll} as the project's Windows builds put them."""
    return {m: os.path.join(REPO_ROOT, "build", f"windows-{m}", "tests", "wine", "standin", STANDIN_DLL)
            for m in ("x86", "x64")}


def fileop_views(arch):
    """(registry branch, stand-in machine) of each view a process of the prefix may read the class from:
    a 32-bit process on 64-bit Windows reads the Wow6432Node branch."""
    if arch == "win32":
        return [("SOFTWARE", "x86")]
    return [("SOFTWARE", "x64"), (r"SOFTWARE\Wow6432Node", "x86")]


def fileop_registration(arch, mode="standin"):
    """Registry entries (for reg_file_text) that make CLSID_FileOperation what mode says in every view."""
    out = {}
    for branch, machine in fileop_views(arch):
        key = rf"HKLM\{branch}\Classes\CLSID\{FILEOP_CLSID}"
        if mode == "unregistered":
            out["-" + key] = None
            continue
        server = WINE_FILEOP_SERVER if mode == "wine" else rf"{STANDIN_DIR}\{machine}\{STANDIN_DLL}"
        out[key] = {"": "Copy/Move/Rename/Delete/Link Object"}
        out[key + r"\InprocServer32"] = {"": server, "ThreadingModel": "Apartment"}
    return out


_DELETE_ERROR_RE = re.compile(r"^ (\S+) ERROR : Ret=(\S+),  LastError=0x([0-9A-F]{8})$")


def logged_deletions(log):
    """[(path, failed call or None, its LastError or None)] of the log's [DeleteItem] lines, in
    order (log: bytes); an IFileOperation method is named without its interface."""
    lines = (log or b"").decode("cp932", "replace").split("\r\n")
    out = []
    for i, line in enumerate(lines):
        if line.startswith("[DeleteItem] "):
            m = _DELETE_ERROR_RE.match(lines[i + 1]) if i + 1 < len(lines) else None
            failed = m.group(1).replace("IFileOperation::", "") if m else None
            out.append((line[len("[DeleteItem] "):], failed, int(m.group(3), 16) if m else None))
    return out


def parse_fileop_trace(text):
    """The stand-in's trace as [(event, {field: value})]: 'DeleteItem obj=1 path=C:\\a b sink=0 hr=0x0'.
    A path may hold blanks: it runs to the next ' name=' field."""
    out = []
    for line in text.splitlines():
        if not line.strip():
            continue
        event, _, rest = line.partition(" ")
        fields = {}
        for m in re.finditer(r"(\w+)=(.*?)(?= \w+=|$)", rest):
            fields[m.group(1)] = m.group(2)
        out.append((event, fields))
    return out


# The calls the tool makes on each file-operation object, in order; a failing
# one is its last. A deletion that failed before (conversion, shell item,
# CoCreateInstance) makes no object.
FILEOP_CALLS = ("SetOperationFlags", "DeleteItem", "PerformOperations", "GetAnyOperationsAborted")
NO_OBJECT = ("mbstowcs", "SHCreateItemFromParsingName", "CoCreateInstance")
# What COM and the stand-in itself add around those calls.
BOOKKEEPING = ("create", "QueryInterface", "AddRef", "Release", "destroy", "SHFileOperationW")


def check_fileop_trace(events, deletions, exe_win):
    """What the stand-in saw, against the log's deletions (logged_deletions). [] when it agrees:
    the exe's own process loaded it; one object per deletion, never a batch; on each, exactly
    SetOperationFlags(0x214), DeleteItem(the item, no sink), PerformOperations once,
    GetAnyOperationsAborted, up to the call the log names as failed, which left the LastError the
    log gives; each object destroyed once, after its last call, so none is leaked; each queued
    shell item released by the exe."""
    errs = []
    wanted = [d for d in deletions if d[1] not in NO_OBJECT]
    loads = [f for e, f in events if e == "load"]
    if wanted and not any(winpath_key(f.get("process", "")) == winpath_key(exe_win) for f in loads):
        errs.append(f"stand-in not loaded by {exe_win}: loads {[f.get('process') for f in loads]}")
    objects = {}
    for e, f in events:
        if "obj" in f:
            objects.setdefault(f["obj"], []).append((e, f))
    created = [f["obj"] for e, f in events if e == "create"]
    if len(created) != len(wanted):
        errs.append(f"{len(created)} file-operation object(s) made for {len(wanted)} deletion(s) that reach one")
    for obj, (path, failed, last_error) in zip(created, wanted):
        seq = [(e, f) for e, f in objects[obj] if e not in BOOKKEEPING]
        expect = list(FILEOP_CALLS[:FILEOP_CALLS.index(failed) + 1] if failed in FILEOP_CALLS else FILEOP_CALLS)
        if [e for e, _ in seq] != expect:
            errs.append(f"object {obj} ({path}): calls {[e for e, _ in seq]}, expected {expect}")
            continue
        calls = dict(seq)
        if int(calls["SetOperationFlags"]["flags"], 16) != FILEOP_FLAGS:
            errs.append(f"object {obj}: flags {calls['SetOperationFlags']['flags']}, expected 0x{FILEOP_FLAGS:08X}")
        d = calls.get("DeleteItem")
        if d and (winpath_key(d.get("path", "")) != winpath_key(path) or d.get("sink") != "0"):
            errs.append(f"object {obj}: DeleteItem path={d.get('path')} sink={d.get('sink')}, "
                        f"expected path={path} sink=0")
        for e, f in seq:
            bad = e == failed and not (int(f["hr"], 16) & 0x80000000 or f.get("aborted") == "1")
            if bad or (e != failed and int(f["hr"], 16) & 0x80000000):
                errs.append(f"object {obj}: {e} hr={f['hr']} but the log says {failed or 'no call'} failed")
            if e == failed and int(f.get("lasterror", "-1"), 16) != last_error:
                errs.append(f"object {obj}: {e} left LastError {f.get('lasterror')}, the log says {last_error:#010x}")
    # The stand-in lets go of each queued item after its object's end: the count Release returns
    # then is 0 only when the exe has released the item itself.
    released = {}
    for e, f in events:
        if e == "ItemRelease":
            released.setdefault(f["item"], []).append(f["refs"])
    for e, f in events:
        if e == "DeleteItem" and int(f["hr"], 16) == 0 and released.get(f["obj"]) != ["0"]:
            errs.append(f"object {f['obj']}: its shell item counted {released.get(f['obj'], 'no release')} "
                        "when the stand-in let go, expected ['0']: the exe never released it")
    for obj, evs in objects.items():
        names = [e for e, _ in evs]
        if names.count("destroy") != 1:
            errs.append(f"object {obj} destroyed {names.count('destroy')} times (a leak or a double release)")
        elif names[-1] != "destroy":
            errs.append(f"object {obj} used after its last release: {names[names.index('destroy') + 1:]}")
    return errs


def tree_state(drive_c, skip_files=()):
    """{lower-case Windows path: None for a folder, the bytes' digest for a file, 'link' for a link}
    of everything under drive_c but UNWATCHED and skip_files (Windows paths)."""
    skip = {winpath_key(p) for p in skip_files}
    out = {}
    for dirpath, dirnames, filenames in os.walk(drive_c):
        rel = os.path.relpath(dirpath, drive_c)
        if rel == ".":
            dirnames[:] = [d for d in dirnames if d.lower() not in UNWATCHED]
        base = "c:" if rel == "." else "c:\\" + rel.replace("/", "\\").lower()
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            key = base + "\\" + name.lower()
            if key in skip:
                continue
            if os.path.islink(full):
                out[key] = "link"
            elif os.path.isdir(full):
                out[key] = None
            else:
                out[key] = hashlib.sha256(Path(full).read_bytes()).hexdigest()
    return out


def _under(key, roots):
    return any(key == r or key.startswith(r + "\\") for r in roots)


def check_deleted_tree(before, after, deleted, partly=()):
    """[] when the run removed exactly the items in deleted (Windows paths) with all they held and
    left everything else of before as it was, byte for byte. Below a path in partly (a folder
    whose deletion failed half-way) entries may be gone."""
    gone = [winpath_key(p) for p in deleted]
    loose = [winpath_key(p) for p in partly]
    errs = []
    for key, state in sorted(before.items()):
        if _under(key, gone):
            if key in after:
                errs.append(f"{key} is still there after its deletion was logged done")
        elif key not in after:
            if not _under(key, loose):
                errs.append(f"{key} is gone, but no deletion logged as done covers it")
        elif after[key] != state:
            errs.append(f"{key} changed")
    missing = [p for p in gone if p not in before]
    if missing:
        errs.append(f"logged as deleted but never planted or already gone: {missing}")
    return errs

"""Registry files (.reg, UTF-16LE with BOM): the harness writes them to plant
keys with `reg import` and reads what `reg export` wrote back.

Values: str is REG_SZ, int REG_DWORD, bytes REG_BINARY; '' names a key's
default value.
"""

import re

from common import HarnessError

_ROOTS = {
    "HKLM": "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE",
    "HKCU": "HKEY_CURRENT_USER", "HKEY_CURRENT_USER": "HKEY_CURRENT_USER",
    "HKCR": "HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS", "HKEY_USERS": "HKEY_USERS",
}


def full_key(key):
    """'HKLM\\SOFTWARE\\X' -> 'HKEY_LOCAL_MACHINE\\SOFTWARE\\X' (no trailing backslash)."""
    root, _, rest = key.strip("\\").partition("\\")
    try:
        root = _ROOTS[root.upper()]
    except KeyError:
        raise HarnessError(f"unknown registry root in {key!r}") from None
    return root + ("\\" + rest if rest else "")


def _reg_escape(s):
    return s.replace("\\", "\\\\").replace('"', '\\"')


def reg_file_text(keys):
    """Text of a .reg file planting keys: {key: {name: value}}.

    str -> REG_SZ, int -> REG_DWORD, bytes -> REG_BINARY; '' names the default value."""
    out = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        if key.startswith("-"):
            # "-KEY": the key is deleted with everything below it.
            out += [f"[-{full_key(key[1:])}]", ""]
            continue
        out.append(f"[{full_key(key)}]")
        for name, value in (values or {}).items():
            lhs = "@" if name == "" else f'"{_reg_escape(name)}"'
            if isinstance(value, bool):
                raise HarnessError(f"{key}\\{name}: bool is not a registry type")
            if isinstance(value, int):
                if not 0 <= value <= 0xFFFFFFFF:
                    raise HarnessError(f"{key}\\{name}: DWORD out of range")
                out.append(f"{lhs}=dword:{value:08x}")
            elif isinstance(value, str):
                try:
                    value.encode("cp932")
                except UnicodeEncodeError as e:
                    raise HarnessError(f"{key}\\{name}: text not representable in code page 932: {e}") from e
                if re.search(r"[\x00-\x1f]", value):
                    # Control characters do not survive the quoted form: write REG_SZ as hex(1).
                    raw = (value + "\0").encode("utf-16-le")
                    out.append(f"{lhs}=hex(1):" + ",".join(f"{b:02x}" for b in raw))
                else:
                    out.append(f'{lhs}="{_reg_escape(value)}"')
            elif isinstance(value, (bytes, bytearray)):
                out.append(f"{lhs}=hex:" + ",".join(f"{b:02x}" for b in value))
            else:
                raise HarnessError(f"{key}\\{name}: unsupported value {value!r}")
        out.append("")
    return "\r\n".join(out) + "\r\n"


def write_reg_file(path, keys):
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + reg_file_text(keys).encode("utf-16-le"))


def _unescape_reg_string(s):
    out = []
    i = 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            e = s[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0"}.get(e, e))
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def parse_reg_file(data):
    """Parse an exported .reg file (bytes, UTF-16LE with BOM, or text) -> {full key: {name: value}}.

    Values: REG_SZ -> str, REG_DWORD -> int, REG_BINARY -> bytes, hex(N) -> (N, bytes)."""
    if isinstance(data, bytes):
        text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("utf-8")
    else:
        text = data
    # Joined continuation lines of hex values ("...,\\\n  ...").
    text = re.sub(r"\\\r?\n\s*", "", text)
    keys = {}
    cur = None
    for line in text.splitlines():
        line = line.rstrip("\r")
        if not line or line.startswith(("Windows Registry Editor", "REGEDIT4", ";")):
            continue
        if line.startswith("[") and line.endswith("]"):
            cur = keys.setdefault(line[1:-1], {})
            continue
        if cur is None:
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        else:
            m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
            if not m:
                continue
            name, rest = _unescape_reg_string(m.group(1)), m.group(2)
        if rest.startswith('"') and rest.endswith('"'):
            cur[name] = _unescape_reg_string(rest[1:-1])
        elif rest.startswith("dword:"):
            cur[name] = int(rest[6:], 16)
        elif rest.startswith("hex:"):
            cur[name] = bytes(int(b, 16) for b in rest[4:].split(",") if b)
        else:
            m = re.match(r"^hex\(([0-9a-fA-F]+)\):(.*)$", rest)
            if m:
                raw = bytes(int(b, 16) for b in m.group(2).split(",") if b)
                kind = int(m.group(1), 16)
                if kind == 1:
                    cur[name] = raw.decode("utf-16-le").rstrip("\0")
                else:
                    cur[name] = (kind, raw)
            else:
                cur[name] = ("raw", rest)
    return keys


# Siblings are read through their parent only this deep (root included), so
# that e.g. HKLM\SOFTWARE, with all of Wine's classes below it, is never exported.
MERGE_MIN_DEPTH = 5


def export_plan(keys):
    """The keys to export so that every key of keys is read: a key below
    another is read with it, and two or more keys under one parent at least
    MERGE_MIN_DEPTH deep are read through that parent. Sorted, full names."""
    norm = {}
    for k in keys:
        fk = full_key(k)
        norm.setdefault(fk.lower(), fk)

    def covered(low, by):
        return any(low != r and low.startswith(r + "\\") for r in by)

    roots = [low for low in norm if not covered(low, norm)]
    by_parent = {}
    for low in roots:
        parent = low.rsplit("\\", 1)[0]
        by_parent.setdefault(parent, []).append(low)
    plan = set()
    for parent, children in by_parent.items():
        if len(children) >= 2 and parent.count("\\") + 1 >= MERGE_MIN_DEPTH:
            plan.add(norm.get(parent) or norm[children[0]].rsplit("\\", 1)[0])
        else:
            plan.update(norm[c] for c in children)
    low_plan = {p.lower() for p in plan}
    return sorted(p for p in plan if not covered(p.lower(), low_plan))


def registry_differences(expected, read, gone="is gone"):
    """How the keys read ({key: values or None}) differ from expected ({key: None (must be
    gone) or {name: value} (must exist with these values)})."""
    errs = []
    for key, values in expected.items():
        vals = read[key]
        if values is None:
            if vals is not None:
                errs.append(f"registry key {key} still exists")
        elif vals is None:
            errs.append(f"registry key {key} {gone}")
        else:
            errs += [f"registry {key}\\{name}: {vals.get(name, '<missing>')!r}, expected {want!r}"
                     for name, want in values.items() if vals.get(name, "<missing>") != want]
    return errs

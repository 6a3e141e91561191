"""The relay trace (WINEDEBUG=+relay) of a run, read into call records, and
the comparisons of a scenario's expected calls and dialogs with it.

A trace line shows a call's arguments as Wine prints them: numbers in hex, a
string after its pointer in Wine's debug-string form (escaped, cut after
about 290 characters with "..."). Strings are kept as the bytes they were.
"""

import re
from pathlib import Path
from dataclasses import dataclass, field

from common import PRODUCT_TITLE, HarnessError, as_cp932


@dataclass
class TraceString:
    """A string argument as the trace shows it. When cut, data is only its start."""
    data: bytes
    cut: bool = False
    wide: bool = False

    def matches(self, expected):
        """Compare with the whole expected bytes (or str, taken as code page 932)."""
        if isinstance(expected, str):
            expected = expected.encode("cp932")
        if self.cut:
            # The trace stops after a whole character; the real text was longer.
            return len(expected) > len(self.data) and expected.startswith(self.data)
        return expected == self.data


@dataclass
class Arg:
    raw: str
    value: int = None            # the number shown (pointer or integer)
    string: TraceString = None   # the text shown after a pointer, if any


@dataclass
class Call:
    thread: str
    func: str                    # "user32.MessageBoxA"
    args: list
    line: int
    retval: int = None           # None: no matching Ret line (process died inside the call)
    caller: int = None           # the return address: which module made the call

    @property
    def name(self):
        return self.func.split(".", 1)[-1]


@dataclass
class MessageBoxCall:
    hwnd: int
    text: TraceString
    title: TraceString
    style: int
    result: int


_CALL_RE = re.compile(r"^(?P<tid>(?:[0-9a-fA-F]+:)*[0-9a-fA-F]+):Call (?P<func>[\w.]+\.[\w@?$]+)\((?P<args>.*)\)"
                      r" ret=(?P<caller>[0-9a-fA-F]+)$")
_RET_RE = re.compile(r"^(?P<tid>(?:[0-9a-fA-F]+:)*[0-9a-fA-F]+):Ret  (?P<func>[\w.]+\.[\w@?$]+)\(\)"
                     r" retval=(?P<retval>[0-9a-fA-F]+) ret=[0-9a-fA-F]+$")
_HEX_RE = re.compile(r"[0-9a-fA-F]+")
_SIMPLE_ESC = {"n": 0x0A, "r": 0x0D, "t": 0x09, '"': 0x22, "\\": 0x5C, "0": 0x00}
# One piece of a debug string: a byte "\xhh" (a UTF-16 unit "\hhhh", Wine's own form, or
# "\xhhhh" in a wide one), a one-letter escape, or a plain character.
_PIECE_RE = {False: re.compile(r'\\x([0-9a-fA-F]{2})|\\([nrt"\\0])|([^"\\])'),
             True: re.compile(r'\\x?([0-9a-fA-F]{4})|\\([nrt"\\0])|([^"\\])')}


def decode_debugstr(s, pos=0):
    """Decode the Wine debug string starting at s[pos] ('"' or 'L"').

    Returns (TraceString, end) with end just past the closing quote and the
    '...' Wine adds when it cut the string."""
    wide = s.startswith('L"', pos)
    pos += wide
    if not s.startswith('"', pos):
        raise ValueError(f"no debug string at {pos}: {s[pos:pos + 20]!r}")
    i, units = pos + 1, []
    while not s.startswith('"', i):
        m = _PIECE_RE[wide].match(s, i)
        if not m:
            raise ValueError(f"bad escape or unterminated debug string at {i}: {s[i:i + 6]!r}")
        code, escape, plain = m.groups()
        units.append(int(code, 16) if code else _SIMPLE_ESC[escape] if escape else ord(plain))
        i = m.end()
    cut = s.startswith("...", i + 1)
    i += 1 + 3 * cut
    if wide:
        return TraceString(b"".join(u.to_bytes(2, "little") for u in units), cut, wide), i
    if any(u > 0xFF for u in units):
        raise ValueError("non-byte character in an ANSI debug string")
    return TraceString(bytes(units), cut, wide), i


def parse_args(text):
    """Split the argument list of a relay Call line into Arg records."""
    args, i = [], 0
    while text:
        start, value, string = i, None, None
        m = _HEX_RE.match(text, i)
        if m:
            value, i = int(m.group(0), 16), m.end()
            if text.startswith((' "', ' L"'), i):
                string, i = decode_debugstr(text, i + 1)
        if i < len(text) and text[i] != ",":
            # Not a form we know (e.g. a float): keep it raw up to the next comma.
            value = None if string is None else value
            i = text.find(",", i) if "," in text[i:] else len(text)
        args.append(Arg(text[start:i], value, string))
        if i >= len(text):  # a trailing comma has given one empty argument more
            return args
        i += 1
    return args


@dataclass
class RelayTrace:
    calls: list = field(default_factory=list)
    processes: int = 0           # processes that started with relay on (RelayInclude load lines)
    bad_lines: list = field(default_factory=list)
    # The thread of the first process that started: the exe's one thread.
    # Wine may start a helper of its own during the run (COM's first use can
    # start one), and the trace holds that process's calls too.
    main_thread: str = None

    def calls_to(self, func):
        """Calls of func ('MessageBoxA' or 'user32.MessageBoxA'), in trace order."""
        if "." in func:
            return [c for c in self.calls if c.func.lower() == func.lower()]
        return [c for c in self.calls if c.name.lower() == func.lower()]

    def message_boxes(self):
        out = []
        for c in self.calls_to("user32.MessageBoxA"):
            a = c.args
            # A NULL pointer shows as a bare number: no string.
            out.append(MessageBoxCall(a[0].value, a[1].string, a[2].string, a[3].value, c.retval))
        return out


def _hkey(v):
    # 64-bit traces print predefined keys sign-extended (ffffffff80000002).
    if v is not None and v >= 0xFFFFFFFF00000000:
        return v & 0xFFFFFFFF
    return v


def parse_relay(text):
    """Parse a WINEDEBUG=+relay trace (str, decoded as latin-1) into a RelayTrace."""
    trace = RelayTrace()
    pending = {}   # thread -> stack of open calls
    for lineno, line in enumerate(text.splitlines(), 1):
        if ":Call " in line:
            m = _CALL_RE.match(line)
            if not m:
                if re.match(r"^[0-9a-fA-F:]+:Call [\w.]+\.\w+\(", line):
                    trace.bad_lines.append((lineno, line[:200]))
                continue
            try:
                args = parse_args(m.group("args"))
            except ValueError as e:
                trace.bad_lines.append((lineno, f"{e}: {line[:200]}"))
                continue
            call = Call(m.group("tid"), m.group("func"), args, lineno, caller=int(m.group("caller"), 16))
            trace.calls.append(call)
            pending.setdefault(call.thread, []).append(call)
        elif ":Ret  " in line:
            m = _RET_RE.match(line)
            if not m:
                continue
            stack = pending.get(m.group("tid"), [])
            for k in range(len(stack) - 1, -1, -1):
                if stack[k].func == m.group("func"):
                    call = stack.pop(k)
                    call.retval = int(m.group("retval"), 16)
                    break
        elif 'trace:relay:load_list L"RelayInclude"' in line:
            trace.processes += 1
            if trace.main_thread is None:
                trace.main_thread = line.split(":trace:", 1)[0]
    return trace


def read_relay(path):
    return parse_relay(Path(path).read_bytes().decode("latin-1"))


def _arg_matches(expected, arg):
    if expected is None:
        return True
    if isinstance(expected, (str, bytes)):
        return arg.string is not None and arg.string.matches(expected)
    if isinstance(expected, int):
        if arg.value is None:
            return False
        return arg.value == expected or _hkey(arg.value) == expected
    raise HarnessError(f"cannot compare call argument {expected!r}")


def _show(ts):
    if ts is None:
        return "NULL"
    s = repr(ts.data)
    return s + ("... (cut)" if ts.cut else "")


def compare_calls(expected, trace):
    """Compare the scenario's calls list with the trace: only functions it names, made by the
    exe's own thread, in order."""
    errs = []
    names = {e[0].lower() for e in expected}
    actual = [c for c in trace.calls if (c.func.lower() in names or c.name.lower() in names) and
              trace.main_thread in (None, c.thread)]
    for i, (func, args, retval) in enumerate(expected):
        if i >= len(actual):
            errs.append(f"call {i + 1} {func}{tuple(args)!r} not made ({len(actual)} calls of {sorted(names)})")
            break
        c = actual[i]
        if func.lower() not in (c.func.lower(), c.name.lower()):
            errs.append(f"call {i + 1}: expected {func}, got {c.func} (trace line {c.line})")
            break
        for j, ea in enumerate(args):
            if j >= len(c.args) or not _arg_matches(ea, c.args[j]):
                shown = c.args[j].raw if j < len(c.args) else "missing"
                if j < len(c.args) and c.args[j].string is not None:
                    shown = _show(c.args[j].string)
                errs.append(f"call {i + 1} {c.func} arg {j + 1}: expected {ea!r}, got {shown} (trace line {c.line})")
        if retval is not None and c.retval != retval:
            errs.append(f"call {i + 1} {c.func}: expected retval {retval}, got {c.retval}")
    if len(actual) > len(expected) and not errs:
        extra = actual[len(expected)]
        errs.append(f"{len(actual) - len(expected)} more call(s) than expected, first: {extra.func} "
                    f"{[a.raw[:80] for a in extra.args]} (trace line {extra.line})")
    return errs


def compare_dialogs(expected, boxes, shown_titles):
    errs = []
    for i, d in enumerate(expected):
        if i >= len(boxes):
            errs.append(f"dialog {i + 1}: not in the trace (only {len(boxes)} MessageBoxA calls)")
            break
        b = boxes[i]
        if d.get("text") is not None and (b.text is None or not b.text.matches(d["text"])):
            errs.append(f"dialog {i + 1} text: expected {as_cp932(d['text'])!r}, got {_show(b.text)}")
        title = d.get("title", PRODUCT_TITLE)
        if title is not None and (b.title is None or not b.title.matches(title)):
            errs.append(f"dialog {i + 1} title: expected {as_cp932(title)!r}, got {_show(b.title)}")
        if title is not None and i < len(shown_titles) and shown_titles[i] is not None:
            want = title if isinstance(title, str) else title.decode("cp932", "replace")
            if shown_titles[i] != want:
                errs.append(f"dialog {i + 1}: window shows title {shown_titles[i]!r}, expected {want!r}")
        if d.get("style") is not None and b.style != d["style"]:
            errs.append(f"dialog {i + 1} style: expected 0x{d['style']:x}, got 0x{b.style:x}")
        if d.get("result") is not None and b.result != d["result"]:
            errs.append(f"dialog {i + 1} result: expected {d['result']}, got {b.result}")
    if len(boxes) > len(expected):
        errs.append(f"{len(boxes) - len(expected)} more MessageBoxA call(s) than expected, first text "
                    f"{_show(boxes[len(expected)].text)}")
    return errs


def relay_include_value(include):
    """The RelayInclude registry value for a list of functions (or one ';' string)."""
    return include if isinstance(include, str) else ";".join(include)


def exe_calls(trace, func, image):
    """The calls of func that the exe made itself: on its thread, returning into its image (first,
    end). A helper process Wine starts may have its own exe at the same address."""
    return [c for c in trace.calls_to(func)
            if image[0] <= c.caller < image[1] and trace.main_thread in (None, c.thread)]


def check_seam(trace, image):
    """What the exe promises Windows whatever the scenario: every registry key it opens it closes,
    once; no folder lookup asks the shell to create the folder."""
    errs, open_keys = [], 0
    for c in sorted(exe_calls(trace, "RegOpenKeyExA", image) + exe_calls(trace, "RegCloseKey", image),
                    key=lambda c: c.line):
        if c.name == "RegOpenKeyExA":
            open_keys += c.retval == 0
        elif c.retval != 0 or open_keys == 0:
            errs.append(f"RegCloseKey({c.args[0].raw}) returned {c.retval} with {open_keys} key(s) open: "
                        f"a handle closed twice (trace line {c.line})")
        else:
            open_keys -= 1
    if open_keys:
        errs.append(f"{open_keys} registry key(s) the exe opened were never closed")
    errs += [f"SHGetSpecialFolderPathA asked to create folder {c.args[2].raw} (fCreate {c.args[3].raw}, "
             f"trace line {c.line})" for c in exe_calls(trace, "SHGetSpecialFolderPathA", image)
             if c.args[3].value != 0]
    return errs

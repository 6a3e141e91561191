"""Library of the Wine end-to-end tests of TAVOSweeper.exe.

Pieces, in the order a run uses them:
  ensure_ja_locale()       ja_JP.UTF-8 must exist, or LANG=ja_JP.UTF-8 gives Wine no code page 932
  wine_setup()             which Wine loaders run the exe and the tools, for a 64- or 32-bit prefix
  ensure_template()        one wineboot'ed prefix per setup, cached; each scenario copies it
  XSession                 our own Xvfb + openbox (message boxes take keys only with a WM)
  run_scenario()           copy prefix, plant, run the exe, answer the boxes, collect, compare
  parse_relay()            +relay trace -> call records (MessageBoxA, RegOpenKeyExA, ...)
  mask_log()               hides what changes between runs in TAVOSweeper.log

Only the standard library is used; the runner is run_wine_tests.py.
"""

import contextlib
import datetime
import fcntl
import json
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

# --------------------------------------------------------------------------
# Constants shared with scenario files

PRODUCT_TITLE = "TAVO利用者ソフト アンインストールツール"
EXE_NAME = "TAVOSweeper.exe"
LOG_NAME = "TAVOSweeper.log"

MB_OK, MB_OKCANCEL, MB_ABORTRETRYIGNORE, MB_YESNOCANCEL, MB_YESNO, MB_RETRYCANCEL = range(6)
IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO = 1, 2, 3, 4, 5, 6, 7

HKCR, HKCU, HKLM, HKU = 0x80000000, 0x80000001, 0x80000002, 0x80000003
KEY_WOW64_64KEY, KEY_WOW64_32KEY = 0x100, 0x200

DEFAULT_RELAY_INCLUDE = (
    "user32.MessageBoxA",
    "advapi32.RegOpenKeyExA",
    "advapi32.RegDeleteKeyExA",
    "kernel32.SetDefaultDllDirectories",
    "kernel32.SetDllDirectoryA",
)

# What a scenario may answer a message box with (xdotool key names).
ANSWER_KEYS = ("y", "n", "Escape", "Return")

# Title substring used to find the tool's boxes on the X display.
WINDOW_MATCH = "TAVO"

REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TEMPLATE_STAMP = ".tavo-template.json"
TEMPLATE_FORMAT = 3

# No Mono/Gecko install prompts (the packages are absent) and no menu entries
# written to the Unix desktop.
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"

# What Wine's reg.exe prints (English, or Japanese in code page 932) when the
# key to export does not exist. Only this message may be read as "absent".
REG_KEY_NOT_FOUND = ("Unable to find the specified registry key",
                     "指定されたレジストリ キーを見つけられません")
REG_EXPORT_ATTEMPTS = 3


class HarnessError(Exception):
    """A scenario cannot go on (timeout, Wine failure, bad planting...)."""


class SetupError(Exception):
    """The machine is not ready (missing tool, locale, template build failed)."""


# --------------------------------------------------------------------------
# Small process helpers: every wait has a timeout.

def run_cmd(cmd, *, env=None, cwd=None, timeout, what=None, check=True):
    """Run cmd to completion within timeout seconds; HarnessError on timeout or (check) failure.

    Output goes to files, not pipes: Wine commands leave daemons (wineserver,
    services) holding the child's stdout/stderr, and a pipe would never see EOF."""
    what = what or " ".join(cmd)
    with tempfile.TemporaryFile() as fout, tempfile.TemporaryFile() as ferr:
        try:
            proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=fout, stderr=ferr,
                                    start_new_session=True)
        except FileNotFoundError as e:
            raise SetupError(f"{cmd[0]} not found: {e}") from e
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            raise HarnessError(f"timeout after {timeout}s: {what}")
        fout.seek(0)
        ferr.seek(0)
        out, err = fout.read(), ferr.read()
    if check and proc.returncode != 0:
        tail = err.decode("utf-8", "replace").strip().splitlines()[-3:]
        raise HarnessError(f"{what} exited {proc.returncode}: {' | '.join(tail)}")
    return subprocess.CompletedProcess(cmd, proc.returncode, out, err)


def tool_said(r):
    """What a Wine console tool printed (code page 932 under the Japanese locale)."""
    return " ".join(b.decode("cp932", "replace") for b in (r.stdout, r.stderr)).strip()


def _kill_group(proc, sig=signal.SIGKILL, wait=5):
    """Kill the process group we created for proc (start_new_session=True), then reap it."""
    with contextlib.suppress(ProcessLookupError, PermissionError):
        os.killpg(proc.pid, sig)
    with contextlib.suppress(ProcessLookupError):
        proc.kill()
    with contextlib.suppress(subprocess.TimeoutExpired):
        proc.wait(timeout=wait)


def require_tools(names=("wineserver", "Xvfb", "openbox", "xdotool", "locale-gen")):
    missing = [n for n in names if shutil.which(n) is None]
    if missing:
        raise SetupError("missing programs: " + ", ".join(missing))


# --------------------------------------------------------------------------
# Locale

def _has_ja_locale():
    out = subprocess.run(["locale", "-a"], capture_output=True, timeout=30).stdout.decode("ascii", "replace")
    return any(line.strip().lower() in ("ja_jp.utf8", "ja_jp.utf-8") for line in out.splitlines())


def ensure_ja_locale(timeout=300):
    """Generate ja_JP.UTF-8 when missing (uncomment it in /etc/locale.gen, run locale-gen)."""
    if _has_ja_locale():
        return False
    gen = "/etc/locale.gen"
    try:
        with open(gen, encoding="utf-8") as f:
            lines = f.read().splitlines()
        pat = re.compile(r"^#\s*(ja_JP\.UTF-8\s+UTF-8)\s*$")
        if not any(l.strip() == "ja_JP.UTF-8 UTF-8" for l in lines):
            found = False
            for i, line in enumerate(lines):
                m = pat.match(line)
                if m:
                    lines[i] = m.group(1)
                    found = True
            if not found:
                lines.append("ja_JP.UTF-8 UTF-8")
            with open(gen, "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
    except OSError as e:
        raise SetupError(f"cannot enable ja_JP.UTF-8 in {gen} (root needed): {e}") from e
    try:
        run_cmd(["locale-gen"], timeout=timeout, what="locale-gen")
    except HarnessError as e:
        raise SetupError(str(e)) from e
    if not _has_ja_locale():
        raise SetupError("locale-gen ran but ja_JP.UTF-8 is still missing")
    return True


# --------------------------------------------------------------------------
# Which Wine runs what
#
# Debian installs the 64-bit loader as /usr/lib/wine/wine64 and, with
# wine32:i386, the 32-bit one as /usr/lib/wine/wine; /usr/bin/wine prefers
# the 32-bit one whenever it is there. So every command names its loader:
# in a 64-bit prefix the tools (wineboot, reg, rundll32) must be the 64-bit
# ones, or reg.exe would plant HKLM\SOFTWARE\X in the 32-bit view; the exe
# runs on the loader of its own PE machine, which makes a PE32 exe a WOW64
# process there.

WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
ARCHES = ("win64", "win32")
PE_I386, PE_AMD64 = 0x14C, 0x8664
WINE_ROOT_HINT = "the 32-bit Wine loader (wine32:i386) is not here: run inside scripts/wine-root.sh run"


@dataclass
class WineSetup:
    arch: str          # the prefix: "win64" (64-bit Windows) or "win32" (32-bit Windows)
    tool: str          # loader for wineboot, reg, rundll32
    exe: str           # loader for the exe under test
    template: str      # default template prefix folder for this setup


def pe_machine(path):
    """The PE file header's Machine field (0x14C i386, 0x8664 x86-64)."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        raise SetupError(f"{path} is not a PE file")
    off = int.from_bytes(head[0x3C:0x40], "little")
    if head[off:off + 4] != b"PE\0\0":
        raise SetupError(f"{path} has no PE header")
    return int.from_bytes(head[off + 4:off + 6], "little")


def wine_setup(arch, exe_machine, have=os.access):
    """The WineSetup for a prefix of arch running an exe of exe_machine.

    have(path, mode) tells whether a loader is there (replaceable in tests)."""
    if arch not in ARCHES:
        raise SetupError(f"unknown prefix arch {arch!r} (one of {ARCHES})")
    has32, has64 = have(WINE32_LOADER, os.X_OK), have(WINE64_LOADER, os.X_OK)
    if exe_machine not in (PE_I386, PE_AMD64):
        raise SetupError(f"the exe is for machine 0x{exe_machine:x}, neither i386 nor x86-64")
    if arch == "win32":
        if exe_machine != PE_I386:
            raise SetupError("a 32-bit prefix runs only 32-bit (PE32) exes")
        if not has32:
            raise SetupError(WINE_ROOT_HINT)
        return WineSetup(arch, WINE32_LOADER, WINE32_LOADER, os.path.join(REPO_ROOT, "build", "wine-template-win32"))
    if not has64:
        raise SetupError("the 64-bit Wine loader (wine64) is not installed")
    if exe_machine == PE_I386 and not has32:
        raise SetupError(WINE_ROOT_HINT)
    # A 64-bit prefix made without the 32-bit loader has an empty syswow64
    # (32-bit processes then fail with c0000135): it gets a folder of its own.
    name = "wine-template-wow64" if has32 else "wine-template-win64"
    return WineSetup(arch, WINE64_LOADER, WINE32_LOADER if exe_machine == PE_I386 else WINE64_LOADER,
                     os.path.join(REPO_ROOT, "build", name))


# --------------------------------------------------------------------------
# Wine environment and the template prefix

def wine_env(prefix, display=None, debug="-all", extra=None, arch="win64"):
    env = {k: v for k, v in os.environ.items()
           if not (k.startswith("LC_") or k in ("LANGUAGE", "WINEDEBUG", "WINEDLLOVERRIDES", "WINESERVER",
                                                 "WINELOADER", "DISPLAY", "WINEPREFIX"))}
    env.update({
        "WINEPREFIX": prefix,
        "WINEARCH": arch,
        "WINEDEBUG": debug,
        "WINEDLLOVERRIDES": WINEDLLOVERRIDES,
        "LANG": "ja_JP.UTF-8",
        "TZ": "JST-9",
    })
    if display:
        env["DISPLAY"] = display
    if extra:
        env.update(extra)
    return env


def wine_version(loader):
    return run_cmd([loader, "--version"], timeout=30, what=f"{loader} --version").stdout.decode().strip()


def wineserver_kill(prefix, timeout=15):
    """Kill every Wine process of this prefix (and only of it), then wait for its server to go."""
    env = wine_env(prefix)
    with contextlib.suppress(HarnessError):
        run_cmd(["wineserver", "-k"], env=env, timeout=timeout, check=False, what="wineserver -k")
    with contextlib.suppress(HarnessError):
        run_cmd(["wineserver", "-w"], env=env, timeout=timeout, check=False, what="wineserver -w")


def relay_include_value(include):
    if isinstance(include, str):
        return include
    return ";".join(include)


def ensure_template(setup, path=None, *, timeout=600, log=None):
    """Return the template prefix path for setup, building it when missing or stale.

    Built in a sibling temp folder and renamed in place, so a killed build never
    leaves a half-made template that later runs would trust."""
    # $TAVO_WINE_TEMPLATES moves the folder the templates are kept in; each
    # setup keeps its own, so runs of different setups never rebuild each other's.
    folder = os.environ.get("TAVO_WINE_TEMPLATES")
    path = os.path.abspath(path or (os.path.join(folder, os.path.basename(setup.template)) if folder
                                    else setup.template))
    parent = os.path.dirname(path)
    os.makedirs(parent, exist_ok=True)
    want = {"format": TEMPLATE_FORMAT, "arch": setup.arch, "wine": wine_version(setup.tool),
            "tool": setup.tool, "relay_include": relay_include_value(DEFAULT_RELAY_INCLUDE),
            "fileop": fileop_registration(setup.arch)}
    with open(path + ".lock", "w") as lockf:
        # Another run may be building it: wait for that build, but not forever.
        deadline = time.monotonic() + timeout + 120
        while True:
            try:
                fcntl.flock(lockf, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise SetupError(f"template {path} stays locked by another run") from None
                time.sleep(0.5)
        stamp = os.path.join(path, TEMPLATE_STAMP)
        try:
            with open(stamp, encoding="utf-8") as f:
                if json.load(f) == want and os.path.isdir(os.path.join(path, "drive_c")):
                    return path
        except (OSError, ValueError):
            pass
        if log:
            log(f"building {setup.arch} Wine template prefix {path} (takes ~20 s natively, minutes emulated)")
        tmp = tempfile.mkdtemp(prefix=".wine-template-", dir=parent)
        try:
            env = wine_env(tmp, arch=setup.arch)
            try:
                run_cmd([setup.tool, "wineboot", "-i"], env=env, timeout=timeout, what="wineboot -i")
                run_cmd([setup.tool, "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
                         "/d", want["relay_include"], "/f"], env=env, timeout=60, what="reg add RelayInclude")
                # The stand-in serves CLSID_FileOperation in every view; each
                # scenario copies the current build to where this points.
                write_reg_file(os.path.join(tmp, "drive_c", "fileop.reg"), want["fileop"])
                run_cmd([setup.tool, "reg", "import", r"C:\fileop.reg"], env=env, timeout=60,
                        what="reg import fileop.reg")
                os.remove(os.path.join(tmp, "drive_c", "fileop.reg"))
                # The registry reaches system.reg/user.reg only when the server exits.
                run_cmd(["wineserver", "-w"], env=env, timeout=120, what="wineserver -w")
            except HarnessError as e:
                raise SetupError(f"template build failed: {e}") from e
            with open(os.path.join(tmp, "user.reg"), encoding="utf-8", errors="replace") as f:
                if want["relay_include"] not in f.read():
                    raise SetupError("template build failed: RelayInclude not saved in user.reg")
            with open(os.path.join(tmp, "system.reg"), encoding="utf-8", errors="replace") as f:
                if f.read().count(STANDIN_DLL) != len(fileop_views(setup.arch)):
                    raise SetupError("template build failed: the IFileOperation stand-in is not registered "
                                     "in every view of system.reg")
            with open(os.path.join(tmp, TEMPLATE_STAMP), "w", encoding="utf-8") as f:
                json.dump(want, f)
            if os.path.exists(path):
                shutil.rmtree(path)
            os.rename(tmp, path)
            tmp = None
        finally:
            if tmp:
                wineserver_kill(tmp)
                shutil.rmtree(tmp, ignore_errors=True)
    return path


def default_workdir():
    """Throwaway prefixes go to tmpfs when there is room: copying ~700 MB is then cheap."""
    env = os.environ.get("TAVO_WINE_WORKDIR")
    if env:
        os.makedirs(env, exist_ok=True)
        return env
    shm = "/dev/shm"
    try:
        st = os.statvfs(shm)
        if os.access(shm, os.W_OK) and st.f_bavail * st.f_frsize > 3 * 1024 ** 3:
            return shm
    except OSError:
        pass
    return tempfile.gettempdir()


# --------------------------------------------------------------------------
# X display: our own Xvfb + openbox, started once per session

class XSession:
    def __init__(self, timeout=30):
        self.timeout = timeout
        self.xvfb = None
        self.wm = None
        self.display = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        rfd, wfd = os.pipe()
        try:
            # -displayfd: Xvfb takes a free display number itself and tells us which.
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(wfd), "-nolisten", "tcp", "-screen", "0", "1280x1024x24"],
                pass_fds=(wfd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True)
            os.close(wfd)
            wfd = None
            buf = b""
            deadline = time.monotonic() + self.timeout
            while not buf.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.xvfb.poll() is not None:
                    raise SetupError("Xvfb did not start (no display number within "
                                     f"{self.timeout}s, exit={self.xvfb.poll()})")
                ready, _, _ = select.select([rfd], [], [], left)
                if ready:
                    chunk = os.read(rfd, 64)
                    if not chunk:
                        raise SetupError("Xvfb closed -displayfd without a display number")
                    buf += chunk
            self.display = ":" + buf.decode().strip()
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(rfd)
            if wfd is not None:
                os.close(wfd)
        try:
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
            self._wait_wm()
        except BaseException:
            self.stop()
            raise

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def _wait_wm(self):
        # openbox sets _NET_SUPPORTING_WM_CHECK on the root window once it manages the screen.
        deadline = time.monotonic() + self.timeout
        while time.monotonic() < deadline:
            if self.wm.poll() is not None:
                raise SetupError(f"openbox exited with {self.wm.returncode}")
            r = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(),
                               capture_output=True, timeout=10) if shutil.which("xprop") else None
            if r is None:
                time.sleep(1.0)  # no xprop: give openbox a moment
                return
            if r.returncode == 0 and b"window id" in r.stdout:
                return
            time.sleep(0.1)
        raise SetupError(f"openbox not managing {self.display} after {self.timeout}s")

    def stop(self):
        for p in (self.wm, self.xvfb):
            if p is not None and p.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    _kill_group(p)
        self.wm = self.xvfb = None

    # -- xdotool wrappers (all bounded)
    def xdo(self, *args, timeout=10, check=False):
        return run_cmd(["xdotool", *args], env=self.env(), timeout=timeout, check=check,
                       what="xdotool " + " ".join(args))

    def visible_windows(self, match=WINDOW_MATCH):
        r = self.xdo("search", "--onlyvisible", "--name", match)
        return [int(x) for x in r.stdout.split()] if r.returncode == 0 else []

    def window_name(self, wid):
        r = self.xdo("getwindowname", str(wid))
        return r.stdout.decode("utf-8", "replace").rstrip("\n") if r.returncode == 0 else None


# --------------------------------------------------------------------------
# Relay trace parsing

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
    ret_line: int = None

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


@dataclass
class RegOpenCall:
    hkey: int
    subkey: TraceString
    options: int
    access: int
    result: int


@dataclass
class RegDeleteCall:
    hkey: int
    subkey: TraceString
    view: int
    result: int


_CALL_RE = re.compile(r"^(?P<tid>(?:[0-9a-fA-F]+:)*[0-9a-fA-F]+):Call (?P<func>[\w.]+\.[\w@?$]+)\((?P<args>.*)\)"
                      r" ret=[0-9a-fA-F]+$")
_RET_RE = re.compile(r"^(?P<tid>(?:[0-9a-fA-F]+:)*[0-9a-fA-F]+):Ret  (?P<func>[\w.]+\.[\w@?$]+)\(\)"
                     r" retval=(?P<retval>[0-9a-fA-F]+) ret=[0-9a-fA-F]+$")
_SIMPLE_ESC = {"n": 0x0A, "r": 0x0D, "t": 0x09, '"': 0x22, "\\": 0x5C, "0": 0x00}


def decode_debugstr(s, pos=0):
    """Decode the Wine debug string starting at s[pos] ('"' or 'L"').

    Returns (TraceString, end) with end just past the closing quote and the
    '...' Wine adds when it cut the string."""
    wide = s.startswith('L"', pos)
    if wide:
        pos += 1
    if pos >= len(s) or s[pos] != '"':
        raise ValueError(f"no debug string at {pos}: {s[pos:pos + 20]!r}")
    i = pos + 1
    units = []
    width = 4 if wide else 2
    while True:
        if i >= len(s):
            raise ValueError("unterminated debug string")
        c = s[i]
        if c == '"':
            i += 1
            break
        if c == "\\":
            e = s[i + 1:i + 2]
            if e == "x":
                hexdigits = s[i + 2:i + 2 + width]
                if len(hexdigits) != width or not re.fullmatch(r"[0-9a-fA-F]+", hexdigits):
                    raise ValueError(f"bad \\x escape at {i}: {s[i:i + 2 + width]!r}")
                units.append(int(hexdigits, 16))
                i += 2 + width
                continue
            if e in _SIMPLE_ESC:
                units.append(_SIMPLE_ESC[e])
                i += 2
                continue
            raise ValueError(f"unknown escape at {i}: {s[i:i + 2]!r}")
        units.append(ord(c))
        i += 1
    cut = s.startswith("...", i)
    if cut:
        i += 3
    if wide:
        data = b"".join(u.to_bytes(2, "little") for u in units)
    else:
        if any(u > 0xFF for u in units):
            raise ValueError("non-byte character in an ANSI debug string")
        data = bytes(units)
    return TraceString(data, cut, wide), i


def parse_args(text):
    """Split the argument list of a relay Call line into Arg records."""
    args = []
    i = 0
    n = len(text)
    while i < n:
        start = i
        m = re.compile(r"[0-9a-fA-F]+").match(text, i)
        value = None
        string = None
        if m:
            value = int(m.group(0), 16)
            i = m.end()
            if text.startswith(' "', i) or text.startswith(' L"', i):
                string, i = decode_debugstr(text, i + 1)
        if i < n and text[i] != ",":
            # Not a form we know (e.g. a float): keep it raw up to the next comma.
            value = None if string is None else value
            j = text.find(",", i)
            i = n if j < 0 else j
        args.append(Arg(text[start:i], value, string))
        if i < n:
            i += 1  # the comma
            if i == n:
                args.append(Arg("", None, None))
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
            out.append(MessageBoxCall(a[0].value, _str_arg(a[1]), _str_arg(a[2]), a[3].value, c.retval))
        return out

    def reg_opens(self):
        return [RegOpenCall(_hkey(c.args[0].value), _str_arg(c.args[1]), c.args[2].value, c.args[3].value,
                            c.retval) for c in self.calls_to("advapi32.RegOpenKeyExA")]

    def reg_deletes(self):
        return [RegDeleteCall(_hkey(c.args[0].value), _str_arg(c.args[1]), c.args[2].value, c.retval)
                for c in self.calls_to("advapi32.RegDeleteKeyExA")]


def _str_arg(arg):
    # A NULL pointer shows as a bare number: no string.
    return arg.string


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
            call = Call(m.group("tid"), m.group("func"), args, lineno)
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
                    call.ret_line = lineno
                    break
        elif 'trace:relay:load_list L"RelayInclude"' in line:
            trace.processes += 1
            if trace.main_thread is None:
                trace.main_thread = line.split(":trace:", 1)[0]
    return trace


def read_relay(path):
    with open(path, "rb") as f:
        return parse_relay(f.read().decode("latin-1"))


# --------------------------------------------------------------------------
# Log file comparison

# A banner: ten asterisks, " title ", the local time, " ", asterisks to 128
# bytes, then CR LF (not part of the matched body).
_BANNER_RE = re.compile(rb"^(\*{10} .* )(\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3})( \*+)$", re.S)
_LASTERROR_RE = re.compile(rb"LastError=0x[0-9A-Fa-f]{8}")
BANNER_LEN = 130
BANNER_MASK = b"YYYY/MM/DD HH:MM:SS.mmm"
LASTERROR_MASK = b"LastError=0x........"


def _split_lines_keepends(data):
    return data.splitlines(keepends=True)


def _strip_eol(line):
    return line.rstrip(b"\r\n")


def mask_log(data):
    """Hide banner times (130-byte asterisk lines) and LastError values."""
    out = []
    for line in _split_lines_keepends(data):
        body = _strip_eol(line)
        eol = line[len(body):]
        m = _BANNER_RE.match(body)
        if m and len(body) == BANNER_LEN - 2:
            body = m.group(1) + BANNER_MASK + m.group(9)
        body = _LASTERROR_RE.sub(LASTERROR_MASK, body)
        out.append(body + eol)
    return b"".join(out)


def banner_times(data):
    """Datetimes written in the banner lines of a log, in order."""
    times = []
    for line in _split_lines_keepends(data):
        body = _strip_eol(line)
        m = _BANNER_RE.match(body)
        if m and len(body) == BANNER_LEN - 2:
            y, mo, d, h, mi, s, ms = (int(g) for g in m.groups()[1:8])
            times.append(datetime.datetime(y, mo, d, h, mi, s, ms * 1000))
    return times


def first_difference(expected, actual):
    """One-line description of where two byte strings first differ, by line."""
    el, al = _split_lines_keepends(expected), _split_lines_keepends(actual)
    for i in range(max(len(el), len(al))):
        e = el[i] if i < len(el) else None
        a = al[i] if i < len(al) else None
        if e != a:
            return f"line {i + 1}: expected {e!r}, got {a!r}"
    return "identical"


def as_cp932(v):
    return v.encode("cp932") if isinstance(v, str) else v


# --------------------------------------------------------------------------
# Registry files (.reg, UTF-16LE with BOM)

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
            plan.add(norm.get(parent) or _cased_parent(norm[children[0]]))
        else:
            plan.update(norm[c] for c in children)
    low_plan = {p.lower() for p in plan}
    return sorted(p for p in plan if not covered(p.lower(), low_plan))


def _cased_parent(key):
    return key.rsplit("\\", 1)[0]


# --------------------------------------------------------------------------
# Windows paths inside a prefix

def unix_path(prefix, winpath, user=None):
    """Unix path of a C:\\ path in prefix. Existing components are found without
    regard to case, as Wine does ('C:\\Users' is drive_c/users)."""
    user = user or current_user()
    winpath = winpath.replace("{user}", user)
    m = re.match(r"^([A-Za-z]):\\?(.*)$", winpath)
    if not m or m.group(1).lower() != "c":
        raise HarnessError(f"only C:\\ paths are supported: {winpath!r}")
    cur = os.path.join(prefix, "drive_c")
    for part in [p for p in m.group(2).split("\\") if p]:
        if part in (".", ".."):
            raise HarnessError(f"relative component in {winpath!r}")
        cand = os.path.join(cur, part)
        if not os.path.lexists(cand) and os.path.isdir(cur):
            low = part.lower()
            for name in os.listdir(cur):
                if name.lower() == low:
                    cand = os.path.join(cur, name)
                    break
        cur = cand
    return cur


def current_user():
    # Wine names the profile after the Unix user.
    import pwd
    return pwd.getpwuid(os.getuid()).pw_name


def snapshot_tree(root):
    """Relative paths (dirs end with '/') under root, sorted."""
    out = []
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for d in dirnames:
            out.append(os.path.normpath(os.path.join(rel, d)) + "/")
        for f in filenames:
            out.append(os.path.normpath(os.path.join(rel, f)))
    return sorted(out)


# --------------------------------------------------------------------------
# Deletion through the shell: the IFileOperation stand-in and what a run
# removed from the planted tree

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


_DELETE_ERROR_RE = re.compile(r"^ (\S+) ERROR : Ret=(\S+),  LastError=0x[0-9A-F.]{8}$")


def logged_deletions(log):
    """[(path, failed call or None)] of the log's [DeleteItem] lines, in order (log: bytes); an
    IFileOperation method is named without its interface."""
    lines = (log or b"").decode("cp932", "replace").split("\r\n")
    out = []
    for i, line in enumerate(lines):
        if line.startswith("[DeleteItem] "):
            m = _DELETE_ERROR_RE.match(lines[i + 1]) if i + 1 < len(lines) else None
            failed = m.group(1).replace("IFileOperation::", "") if m else None
            out.append((line[len("[DeleteItem] "):], failed))
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


def _winpath_key(path):
    return path.rstrip("\\").lower()


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
    GetAnyOperationsAborted, up to the call the log names as failed; each object destroyed
    once, after its last call, so none is leaked."""
    errs = []
    wanted = [(p, failed) for p, failed in deletions if failed not in NO_OBJECT]
    loads = [f for e, f in events if e == "load"]
    if wanted and not any(_winpath_key(f.get("process", "")) == _winpath_key(exe_win) for f in loads):
        errs.append(f"stand-in not loaded by {exe_win}: loads {[f.get('process') for f in loads]}")
    objects = {}
    for e, f in events:
        if "obj" in f:
            objects.setdefault(f["obj"], []).append((e, f))
    created = [f["obj"] for e, f in events if e == "create"]
    if len(created) != len(wanted):
        errs.append(f"{len(created)} file-operation object(s) made for {len(wanted)} deletion(s) that reach one")
    for obj, (path, failed) in zip(created, wanted):
        seq = [(e, f) for e, f in objects[obj] if e not in BOOKKEEPING]
        expect = list(FILEOP_CALLS[:FILEOP_CALLS.index(failed) + 1] if failed in FILEOP_CALLS else FILEOP_CALLS)
        if [e for e, _ in seq] != expect:
            errs.append(f"object {obj} ({path}): calls {[e for e, _ in seq]}, expected {expect}")
            continue
        calls = dict(seq)
        if int(calls["SetOperationFlags"]["flags"], 16) != FILEOP_FLAGS:
            errs.append(f"object {obj}: flags {calls['SetOperationFlags']['flags']}, expected 0x{FILEOP_FLAGS:08X}")
        d = calls.get("DeleteItem")
        if d and (_winpath_key(d.get("path", "")) != _winpath_key(path) or d.get("sink") != "0"):
            errs.append(f"object {obj}: DeleteItem path={d.get('path')} sink={d.get('sink')}, "
                        f"expected path={path} sink=0")
        for e, f in seq:
            bad = e == failed and not (int(f["hr"], 16) & 0x80000000 or f.get("aborted") == "1")
            if bad or (e != failed and int(f["hr"], 16) & 0x80000000):
                errs.append(f"object {obj}: {e} hr={f['hr']} but the log says {failed or 'no call'} failed")
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
    import hashlib
    skip = {_winpath_key(p) for p in skip_files}
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
                with open(full, "rb") as f:
                    out[key] = hashlib.sha256(f.read()).hexdigest()
    return out


def _under(key, roots):
    return any(key == r or key.startswith(r + "\\") for r in roots)


def check_deleted_tree(before, after, deleted, partly=()):
    """[] when the run removed exactly the items in deleted (Windows paths) with all they held and
    left everything else of before as it was, byte for byte. Below a path in partly (a folder
    whose deletion failed half-way) entries may be gone."""
    gone = [_winpath_key(p) for p in deleted]
    loose = [_winpath_key(p) for p in partly]
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


# --------------------------------------------------------------------------
# Scenarios

SCENARIO_KEYS = {
    "name", "description", "registry", "folders", "files", "exe_at", "cwd", "dialogs", "exit_code",
    "log", "log_at", "check_log_times", "registry_after", "files_after", "calls", "relay_include",
    "timeout_dialog", "timeout_exit", "env", "not_called", "runs", "machine",
    "fileop", "hold_open", "partly_deleted", "deleted", "attributes",
}
DIALOG_KEYS = {"answer", "text", "title", "style", "result"}
DEFAULT_EXE_AT = "C:\\TAVOTest\\" + EXE_NAME
PROFILE_TAVO = "C:\\users\\{user}\\TAVO"


def validate_scenario(s):
    """Problems with a scenario's data (list of str; empty when fine)."""
    errs = []
    name = s.get("name")
    if not isinstance(name, str) or not re.fullmatch(r"[\w.-]+", name or ""):
        errs.append(f"name must be a word-like str, got {name!r}")
    for k in set(s) - SCENARIO_KEYS:
        errs.append(f"unknown field {k!r}")
    dialogs = s.get("dialogs", [])
    if not isinstance(dialogs, list):
        errs.append("dialogs must be a list")
        dialogs = []
    for i, d in enumerate(dialogs, 1):
        if not isinstance(d, dict):
            errs.append(f"dialog {i} must be a dict")
            continue
        for k in set(d) - DIALOG_KEYS:
            errs.append(f"dialog {i}: unknown field {k!r}")
        if d.get("answer") not in ANSWER_KEYS:
            errs.append(f"dialog {i}: answer must be one of {ANSWER_KEYS}, got {d.get('answer')!r}")
    if "log" in s and not isinstance(s["log"], (str, bytes, type(None))):
        errs.append("log must be str, bytes or None")
    for key, vals in (s.get("registry") or {}).items():
        if vals is not None and not isinstance(vals, dict):
            errs.append(f"registry[{key!r}] must be a dict of values")
    for key, vals in (s.get("registry_after") or {}).items():
        if vals is not None and not isinstance(vals, dict):
            errs.append(f"registry_after[{key!r}] must be None or a dict")
    for c in s.get("calls") or []:
        if not (isinstance(c, (tuple, list)) and len(c) == 3 and isinstance(c[0], str)
                and isinstance(c[1], (tuple, list))):
            errs.append(f"calls entry must be (func, args, retval): {c!r}")
    if s.get("machine", "win64") not in ARCHES:
        errs.append(f"machine must be one of {ARCHES}, got {s.get('machine')!r}")
    runs = s.get("runs", 1)
    if not (isinstance(runs, int) and 1 <= runs <= 5):
        errs.append(f"runs must be 1 to 5, got {runs!r}")
    if s.get("fileop", "standin") not in FILEOP_MODES:
        errs.append(f"fileop must be one of {FILEOP_MODES}, got {s.get('fileop')!r}")
    nc = s.get("not_called", [])
    if not (isinstance(nc, list) and all(isinstance(f, str) for f in nc)):
        errs.append("not_called must be a list of function names")
    return errs


def log_location(s):
    """Where the scenario expects the log: explicit, the profile TAVO folder it plants, or the cwd."""
    if s.get("log_at"):
        return s["log_at"]
    planted = [p.rstrip("\\").lower() for p in s.get("folders", [])] + \
              [p.rsplit("\\", 1)[0].lower() for p in s.get("files", {})]
    if PROFILE_TAVO.lower() in planted:
        return PROFILE_TAVO + "\\" + LOG_NAME
    return scenario_cwd(s) + "\\" + LOG_NAME


def scenario_cwd(s):
    return s.get("cwd") or s.get("exe_at", DEFAULT_EXE_AT).rsplit("\\", 1)[0]


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


def compare_log(expected, actual, *, run_start=None, run_end=None, check_times=True):
    """Errors comparing the log bytes (None: the log must not exist)."""
    if expected is None:
        return [] if actual is None else [f"log should not exist, has {len(actual)} bytes: {actual[:120]!r}"]
    if actual is None:
        return ["log file missing"]
    errs = []
    exp = mask_log(as_cp932(expected))
    got = mask_log(actual)
    if exp != got:
        errs.append("log differs at " + first_difference(exp, got))
    if check_times and run_start is not None and run_end is not None:
        # Banner times are local time (TZ=JST-9): they must fall inside the run.
        slack = datetime.timedelta(seconds=2)
        for t in banner_times(actual):
            if not (run_start - slack <= t <= run_end + slack):
                errs.append(f"log banner time {t} outside the run ({run_start:%H:%M:%S}..{run_end:%H:%M:%S} JST)")
    return errs


# --------------------------------------------------------------------------
# One scenario

@dataclass
class Result:
    name: str
    errors: list = field(default_factory=list)
    notes: list = field(default_factory=list)
    retries: list = field(default_factory=list)   # Wine tool runs that had to be repeated
    timings: dict = field(default_factory=dict)
    exit_code: int = None
    trace: RelayTrace = None
    log: bytes = None
    work: str = None

    @property
    def ok(self):
        return not self.errors


JST = datetime.timezone(datetime.timedelta(hours=9))


def _jst_now():
    return datetime.datetime.now(JST).replace(tzinfo=None)


class ScenarioRunner:
    """Runs one scenario in a fresh copy of the template prefix."""

    def __init__(self, scenario, exe, setup, template, xs, workdir, keep=False, artifacts=None):
        self.s = scenario
        self.exe = exe
        self.setup = setup
        self.template = template
        self.xs = xs
        self.workdir = workdir
        self.keep = keep
        self.artifacts = artifacts
        self.result = Result(scenario.get("name"))
        self.prefix = None
        self.proc = None
        self.holders = []
        self.hold_open_exe = None
        self.user = current_user()

    # -- timing helper
    @contextlib.contextmanager
    def timed(self, label):
        t = time.monotonic()
        try:
            yield
        finally:
            self.result.timings[label] = round(time.monotonic() - t, 2)

    def env(self, debug="-all"):
        extra = {"TAVO_FILEOP_TRACE": FILEOP_TRACE, **(self.s.get("env") or {})}
        return wine_env(self.prefix, self.xs.display, debug, extra, arch=self.setup.arch)

    def wine(self, *args, timeout=60, check=True, what=None):
        return run_cmd([self.setup.tool, *args], env=self.env(), cwd=os.path.join(self.prefix, "drive_c"),
                       timeout=timeout, check=check, what=what or "wine " + " ".join(args))

    def upath(self, winpath):
        return unix_path(self.prefix, winpath, self.user)

    def run(self):
        r = self.result
        t0 = time.monotonic()
        try:
            errs = validate_scenario(self.s)
            if errs:
                raise HarnessError("bad scenario: " + "; ".join(errs))
            if not os.path.isfile(self.exe):
                raise HarnessError(f"exe not found: {self.exe}")
            base = tempfile.mkdtemp(prefix=f"tavo-wine-{r.name}-", dir=self.workdir)
            r.work = base
            self.prefix = os.path.join(base, "prefix")
            with self.timed("copy"):
                run_cmd(["cp", "-a", self.template, self.prefix], timeout=120, what="copy template prefix")
                with contextlib.suppress(FileNotFoundError):
                    os.remove(os.path.join(self.prefix, TEMPLATE_STAMP))
            with self.timed("plant"):
                self.plant()
            self.hold_files_open()
            self.tree_before = self.tree()
            with self.timed("run"):
                # Each run answers the same dialogs; the checks see the last
                # run's trace and whatever all runs left behind.
                for _ in range(self.s.get("runs", 1)):
                    self.execute()
            self.tree_after = self.tree()
            with self.timed("check"):
                self.check()
        except HarnessError as e:
            r.errors.append(str(e))
        except Exception as e:  # a harness bug or odd scenario data: fail this scenario, go on
            r.errors.append(f"harness error: {type(e).__name__}: {e}")
        finally:
            with self.timed("cleanup"):
                self.cleanup()
            r.timings["total"] = round(time.monotonic() - t0, 2)
        return r

    # -- planting
    def plant(self):
        s = self.s
        for folder in s.get("folders", []):
            os.makedirs(self.upath(folder), exist_ok=True)
        for path, content in (s.get("files") or {}).items():
            up = self.upath(path)
            os.makedirs(os.path.dirname(up), exist_ok=True)
            with open(up, "wb") as f:
                f.write(as_cp932(content))
        for path, attrs in (s.get("attributes") or {}).items():
            self.set_attributes(self.upath(path), attrs)
        exe_at = self.upath(s.get("exe_at", DEFAULT_EXE_AT))
        os.makedirs(os.path.dirname(exe_at), exist_ok=True)
        shutil.copy2(self.exe, exe_at)
        os.makedirs(self.upath(scenario_cwd(s)), exist_ok=True)
        hdir = os.path.join(self.prefix, "drive_c", "tavo-harness")
        os.makedirs(hdir, exist_ok=True)
        self.copy_standin()

        # Start this prefix's server, services and desktop process untraced and
        # keep them up (-p): the exe run is then fast and its trace holds only
        # the exe's own calls. reg.exe starts the services; rundll32 creates a
        # window, which starts explorer /desktop.
        run_cmd(["wineserver", "-p"], env=self.env(), timeout=30, what="wineserver -p")
        reg = dict(s.get("registry") or {})
        reg[r"HKCU\Software\Wine\Debug"] = {
            "RelayInclude": relay_include_value(s.get("relay_include", DEFAULT_RELAY_INCLUDE))}
        # A crash then ends the exe with its exception code instead of leaving a
        # winedbg dialog up until the exit timeout.
        reg[r"HKCU\Software\Wine\WineDbg"] = {"ShowCrashDialog": 0}
        if s.get("fileop", "standin") != "standin":
            reg.update(fileop_registration(self.setup.arch, s["fileop"]))
        write_reg_file(os.path.join(hdir, "plant.reg"), reg)
        with self.timed("reg_import"):
            self.import_planted()
        with self.timed("desktop"):
            self.wine("rundll32.exe", "user32.dll,GetDesktopWindow", what="rundll32 (desktop start)")
        with self.timed("reg_verify"):
            try:
                self.verify_planted(s.get("registry") or {})
            except HarnessError as e:
                # Seldom, a `reg export` here exits 1 without a word (export_key
                # tries again). Should the import itself ever miss a key, importing
                # again is harmless; a key still missing after that fails the scenario.
                self.result.retries.append(f"importing again: {e}")
                self.import_planted()
                self.verify_planted(s.get("registry") or {})

    @staticmethod
    def set_attributes(up, attrs):
        """"R": read-only (Wine reads a file without write permission so); "H": hidden (Wine
        reads the DOS attributes from the user.DOSATTRIB extended attribute)."""
        if "R" in attrs:
            os.chmod(up, 0o444)
        if "H" in attrs:
            try:
                os.setxattr(up, "user.DOSATTRIB", b"0x2")
            except OSError as e:
                raise HarnessError(f"cannot mark {up} hidden: {e}") from e

    def copy_standin(self):
        """The current build of the stand-in to where the template registered it; the helper that
        holds files open beside it, of the exe's machine."""
        builds = standin_builds()
        for _, machine in fileop_views(self.setup.arch):
            if os.path.isfile(builds[machine]):
                dest = self.upath(rf"{STANDIN_DIR}\{machine}\{STANDIN_DLL}")
                os.makedirs(os.path.dirname(dest), exist_ok=True)
                shutil.copy2(builds[machine], dest)
        machine = "x86" if self.setup.exe == WINE32_LOADER else "x64"
        if self.s.get("fileop", "standin") == "standin" and not os.path.isfile(builds[machine]):
            raise HarnessError(f"the IFileOperation stand-in is not built: {builds[machine]} "
                               f"(cmake --build --preset windows-{machine})")
        self.hold_open_exe = os.path.join(os.path.dirname(builds[machine]), HOLD_OPEN_EXE)

    def hold_files_open(self):
        """Starts one process per hold_open path that keeps the file open without sharing."""
        for i, path in enumerate(self.s.get("hold_open", [])):
            out = os.path.join(self.result.work, f"hold-{i}.txt")
            with open(out, "wb") as fout:
                proc = subprocess.Popen([self.setup.exe, self.hold_open_exe, path.replace("{user}", self.user)],
                                        env=self.env(), stdin=subprocess.DEVNULL, stdout=fout,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
            self.holders.append(proc)
            deadline = time.monotonic() + 60
            while True:
                with open(out, "rb") as f:
                    said = f.read().decode("ascii", "replace").strip()
                if said:
                    break
                if proc.poll() is not None or time.monotonic() > deadline:
                    raise HarnessError(f"{HOLD_OPEN_EXE} {path}: no answer (exit {proc.poll()})")
                time.sleep(0.1)
            if said != "held":
                raise HarnessError(f"{HOLD_OPEN_EXE} {path}: {said}")

    def tree(self):
        return tree_state(os.path.join(self.prefix, "drive_c"),
                          [log_location(self.s).replace("{user}", self.user)])

    def import_planted(self):
        """reg import of plant.reg; one failed run (reg.exe sometimes exits 1 unasked) is repeated."""
        r = self.wine("reg", "import", r"C:\tavo-harness\plant.reg", check=False, what="reg import plant.reg")
        if r.returncode != 0:
            said = tool_said(r)
            self.result.retries.append(f"reg import exited {r.returncode}, said {said[-200:]!r}")
            self.wine("reg", "import", r"C:\tavo-harness\plant.reg", what="reg import plant.reg (again)")

    def export_key(self, key):
        """{full key: values} of key and its subkeys, or None when reg.exe says key does not exist.

        Any other failure is tried again and then raised: a check that a key is
        gone must never pass because the export itself failed."""
        out = os.path.join(self.prefix, "drive_c", "tavo-harness", "export.reg")
        failures = []
        for _ in range(REG_EXPORT_ATTEMPTS):
            with contextlib.suppress(FileNotFoundError):
                os.remove(out)
            r = self.wine("reg", "export", full_key(key), r"C:\tavo-harness\export.reg", "/y", check=False,
                          what=f"reg export {key}")
            said = tool_said(r)
            exported = r.returncode == 0 and os.path.exists(out)
            absent = r.returncode == 1 and any(m in said for m in REG_KEY_NOT_FOUND)
            if exported or absent:
                if failures:
                    self.result.retries.append(f"reg export {key} answered after: {'; '.join(failures)}")
                if absent:
                    return None
                with open(out, "rb") as f:
                    return parse_reg_file(f.read())
            failures.append(f"exit {r.returncode}, file {'written' if os.path.exists(out) else 'missing'}, "
                            f"said {said[-200:]!r}")
        raise HarnessError(f"reg export {key} failed {len(failures)} times: {failures[-1]}")

    def read_keys(self, keys):
        """{key: its values, or None when it does not exist} for keys, with as
        few reg.exe runs as export_plan allows (each one costs a second or
        more when Wine is emulated)."""
        found = {}
        for root in export_plan(keys):
            got = self.export_key(root)
            for k, v in (got or {}).items():
                found[k.lower()] = v
        return {key: found.get(full_key(key).lower()) for key in keys}

    def verify_planted(self, reg):
        read = self.read_keys(list(reg))
        for key, values in reg.items():
            vals = read[key]
            if vals is None:
                raise HarnessError(f"planting failed: {key} missing after reg import")
            for name, want in (values or {}).items():
                have = vals.get(name, "<missing>")
                if have != want:
                    raise HarnessError(f"planting failed: {key}\\{name} reads back {have!r}, wanted {want!r}")

    # -- running
    def execute(self):
        s = self.s
        r = self.result
        relay = os.path.join(r.work, "relay.txt")
        out = os.path.join(r.work, "stdout.txt")
        cwd = self.upath(scenario_cwd(s))
        exe_win = s.get("exe_at", DEFAULT_EXE_AT).replace("{user}", self.user)
        dialog_timeout = s.get("timeout_dialog", 30)
        exit_timeout = s.get("timeout_exit", 30)
        shown_titles = []
        self.shown_titles = shown_titles
        self.run_start = _jst_now()
        with open(relay, "wb") as ferr, open(out, "wb") as fout:
            self.proc = subprocess.Popen([self.setup.exe, exe_win], env=self.env("-all,+relay"), cwd=cwd,
                                         stdin=subprocess.DEVNULL, stdout=fout, stderr=ferr,
                                         start_new_session=True)
        try:
            answered = set()
            for i, d in enumerate(s.get("dialogs", []), 1):
                wid = self.wait_dialog(i, d["answer"], answered, dialog_timeout)
                shown_titles.append(self.xs.window_name(wid))
                self.answer(i, wid, d["answer"])
                answered.add(wid)
            try:
                r.exit_code = self.proc.wait(timeout=exit_timeout)
            except subprocess.TimeoutExpired:
                left = [self.xs.window_name(w) for w in self.xs.visible_windows(".")]
                more = f"; windows still open: {left}" if left else ""
                raise HarnessError(f"program did not exit within {exit_timeout}s after the last answer{more}")
        finally:
            self.run_end = _jst_now()
            if self.proc.poll() is None:
                wineserver_kill(self.prefix)
                _kill_group(self.proc)

    def wait_dialog(self, i, key, answered, timeout):
        deadline = time.monotonic() + timeout
        while True:
            wins = [w for w in self.xs.visible_windows() if w not in answered]
            if wins:
                return wins[0]
            code = self.proc.poll()
            if code is not None:
                self.result.exit_code = code
                raise HarnessError(f"program exited with {code} before dialog {i} (to answer {key!r})")
            if time.monotonic() > deadline:
                raise HarnessError(f"dialog {i} (to answer {key!r}) did not appear within {timeout}s")
            time.sleep(0.1)

    def answer(self, i, wid, key):
        for attempt in range(3):
            self.xs.xdo("windowactivate", "--sync", str(wid), timeout=10)
            self.xs.xdo("key", "--clearmodifiers", key, timeout=10)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                if wid not in self.xs.visible_windows():
                    return
                time.sleep(0.1)
            # The key was lost (box not ready for input yet): the same box is still up.
        raise HarnessError(f"dialog {i} did not close after key {key!r} (sent 3 times)")

    # -- results
    def check(self):
        s = self.s
        r = self.result
        relay = os.path.join(r.work, "relay.txt")
        r.trace = read_relay(relay)
        errs = r.errors
        if r.trace.bad_lines:
            errs.append(f"unparsed relay lines, first: line {r.trace.bad_lines[0][0]}: {r.trace.bad_lines[0][1]}")
        if r.trace.processes > 1:
            r.notes.append(f"{r.trace.processes} processes traced: calls of all are in the records")
        want_exit = s.get("exit_code", 0)
        if want_exit is not None and r.exit_code != want_exit:
            errs.append(f"exit code {r.exit_code}, expected {want_exit}")
        boxes = r.trace.message_boxes()
        errs += compare_dialogs(s.get("dialogs", []), boxes, self.shown_titles)
        if s.get("calls"):
            errs += compare_calls(s["calls"], r.trace)
        for func in s.get("not_called", []):
            made = r.trace.calls_to(func)
            if made:
                errs.append(f"{func} called {len(made)} time(s), first: {[a.raw[:80] for a in made[0].args]}")
        for b in boxes:
            if b.text is not None and b.text.cut:
                r.notes.append(f"dialog text cut in the trace after {len(b.text.data)} bytes: prefix compared")
        log_path = self.upath(log_location(s))
        if os.path.isfile(log_path):
            with open(log_path, "rb") as f:
                r.log = f.read()
        if "log" in s:
            errs += compare_log(s["log"], r.log, run_start=self.run_start, run_end=self.run_end,
                                check_times=s.get("check_log_times", True))
        errs += self.check_deletions()
        after = s.get("registry_after") or {}
        read = self.read_keys(list(after))
        for key, values in after.items():
            vals = read[key]
            if values is None:
                if vals is not None:
                    errs.append(f"registry key {key} still exists")
                continue
            if vals is None:
                errs.append(f"registry key {key} is gone")
                continue
            for name, want in values.items():
                have = vals.get(name, "<missing>")
                if have != want:
                    errs.append(f"registry {key}\\{name}: {have!r}, expected {want!r}")
        for path, want in (s.get("files_after") or {}).items():
            up = self.upath(path)
            exists = os.path.lexists(up)
            if want is None:
                if exists:
                    errs.append(f"{path} still exists")
            elif not exists:
                errs.append(f"{path} is gone")
            elif want is not True:
                if not os.path.isfile(up):
                    errs.append(f"{path} is not a file")
                else:
                    with open(up, "rb") as f:
                        data = f.read()
                    if data != as_cp932(want):
                        errs.append(f"{path}: content {data[:80]!r}, expected {as_cp932(want)[:80]!r}")

    def check_deletions(self):
        """The planted tree lost exactly what the log says was deleted; the stand-in saw the calls
        the log implies."""
        s = self.s
        deletions = logged_deletions(self.result.log)
        done = [p.replace("{user}", self.user) for p, failed in deletions if failed is None]
        errs = []
        if "deleted" in s:
            want = [p.replace("{user}", self.user) for p in s["deleted"]]
            if sorted(map(_winpath_key, done)) != sorted(map(_winpath_key, want)):
                errs.append(f"deleted without an error line: {done}, expected {want}")
        errs += check_deleted_tree(self.tree_before, self.tree_after, done,
                                   [p.replace("{user}", self.user) for p in s.get("partly_deleted", [])])
        trace = self.upath(FILEOP_TRACE)
        text = ""
        if os.path.exists(trace):
            with open(trace, encoding="utf-8", errors="replace") as f:
                text = f.read()
        if s.get("fileop", "standin") == "standin":
            exe_win = s.get("exe_at", DEFAULT_EXE_AT).replace("{user}", self.user)
            errs += check_fileop_trace(parse_fileop_trace(text), deletions, exe_win)
        elif text:
            errs.append(f"the stand-in was loaded though the scenario runs without it: {text[:120]!r}")
        return errs

    def cleanup(self):
        r = self.result
        for proc in self.holders:
            if proc.poll() is None:
                _kill_group(proc)
        if self.prefix and os.path.isdir(self.prefix):
            wineserver_kill(self.prefix)
        if self.proc is not None and self.proc.poll() is None:
            _kill_group(self.proc)
        if r.work and self.artifacts and (self.keep or not r.ok):
            dest = os.path.join(self.artifacts, r.name)
            shutil.rmtree(dest, ignore_errors=True)
            os.makedirs(dest, exist_ok=True)
            for fn in ("relay.txt", "stdout.txt", "prefix/drive_c/tavo-harness/fileop-trace.txt"):
                src = os.path.join(r.work, fn)
                if os.path.exists(src):
                    shutil.copy2(src, dest)
            if r.log is not None:
                with open(os.path.join(dest, LOG_NAME), "wb") as f:
                    f.write(r.log)
            if self.prefix and os.path.isdir(self.prefix):
                # What the run left under C:\ (the Windows folder aside), for reading the failure.
                listing = [p for p in snapshot_tree(os.path.join(self.prefix, "drive_c"))
                           if not p.lower().startswith("windows")]
                with open(os.path.join(dest, "drive_c.txt"), "w", encoding="utf-8") as f:
                    f.write("\n".join(listing) + "\n")
            with open(os.path.join(dest, "result.txt"), "w", encoding="utf-8") as f:
                f.write("\n".join(["errors:"] + r.errors + ["notes:"] + r.notes +
                                  [f"timings: {r.timings}", f"exit code: {r.exit_code}"]) + "\n")
        if r.work and not self.keep:
            shutil.rmtree(r.work, ignore_errors=True)


def run_scenario(scenario, exe, setup, template, xs, workdir, keep=False, artifacts=None):
    return ScenarioRunner(scenario, exe, setup, template, xs, workdir, keep, artifacts).run()

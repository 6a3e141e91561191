"""Getting a Wine session ready: the Japanese locale, which Wine loader runs
what, the environment of every Wine process, the template prefix each
scenario copies, where the copies go, and Windows paths inside a prefix.

prepare_session() does all of it, in order, for the scenario runner, the
demo and the benchmarks.
"""

import contextlib
import fcntl
import json
import os
import pwd
import re
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

from common import DEFAULT_RELAY_INCLUDE, REPO_ROOT, HarnessError, SetupError, run_cmd
from regfile import write_reg_file
from relay import relay_include_value
from standin import STANDIN_DLL, fileop_registration, fileop_views

TEMPLATE_STAMP = ".tavo-template.json"
TEMPLATE_FORMAT = 3

# No Mono/Gecko install prompts (the packages are absent) and no menu entries
# written to the Unix desktop.
WINEDLLOVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"


def require_tools(names):
    """The Debian packages scripts/setup.sh installs, on the host and in the Wine root."""
    missing = [n for n in names if shutil.which(n) is None]
    if missing:
        raise SetupError("missing programs: " + ", ".join(missing))


def require_ja_locale():
    """LANG=ja_JP.UTF-8 gives Wine code page 932 only where that locale exists;
    scripts/setup.sh makes it, on the host and in the Wine root."""
    out = subprocess.run(["locale", "-a"], capture_output=True, timeout=30).stdout.decode("ascii", "replace")
    if not any(line.strip().lower() in ("ja_jp.utf8", "ja_jp.utf-8") for line in out.splitlines()):
        raise SetupError("the locale ja_JP.UTF-8 is missing: run scripts/setup.sh as root")


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


def _pe_field(path, at, size):
    """size bytes at offset at from the PE signature of the file path, as a number."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        raise SetupError(f"{path} is not a PE file")
    off = int.from_bytes(head[0x3C:0x40], "little")
    if head[off:off + 4] != b"PE\0\0":
        raise SetupError(f"{path} has no PE header")
    return int.from_bytes(head[off + at:off + at + size], "little")


def pe_machine(path):
    """The PE file header's Machine field (0x14C i386, 0x8664 x86-64)."""
    return _pe_field(path, 4, 2)


def pe_image(path):
    """(first, end) addresses of the image at its preferred base, where Wine loads the exe: the
    calls it makes itself return there."""
    pe32 = _pe_field(path, 24, 2) == 0x10B
    base = _pe_field(path, 52, 4) if pe32 else _pe_field(path, 48, 8)
    return base, base + _pe_field(path, 80, 4)


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


def ensure_template(setup, path=None, *, timeout=600, log=None):
    """Return the template prefix path for setup, building it when missing or when anything its
    stamp records differs: the stamp's format, the arch, the Wine version, the tool loader, the
    traced functions (RelayInclude) or the stand-in's registration.

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
            if want["relay_include"] not in Path(tmp, "user.reg").read_text("utf-8", "replace"):
                raise SetupError("template build failed: RelayInclude not saved in user.reg")
            if Path(tmp, "system.reg").read_text("utf-8", "replace").count(STANDIN_DLL) != len(
                    fileop_views(setup.arch)):
                raise SetupError("template build failed: the IFileOperation stand-in is not registered "
                                 "in every view of system.reg")
            Path(tmp, TEMPLATE_STAMP).write_text(json.dumps(want), encoding="utf-8")
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
    return pwd.getpwuid(os.getuid()).pw_name


@dataclass
class Session:
    setup: WineSetup
    template: str      # the template prefix, built
    workdir: str       # where the throwaway copies go


def prepare_session(arch, exe, *, tools=("wineserver", "Xvfb", "openbox", "xdotool", "xprop"),
                    template=None, workdir=None, log=None):
    """Everything a run of exe in a prefix of arch needs, checked or made: the tools, the
    locale, the loaders, the template prefix and the folder for the copies."""
    require_tools(tools)
    require_ja_locale()
    setup = wine_setup(arch, pe_machine(exe))
    return Session(setup, ensure_template(setup, template, log=log), workdir or default_workdir())

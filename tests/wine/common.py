"""What every part of the Wine harness shares, and the scenario files with it:
the tool's names, the Win32 constants scenarios compare with, the harness's
errors, and bounded runs of outside commands."""

import contextlib
import os
import signal
import subprocess
import tempfile

PRODUCT_TITLE = "TAVO利用者ソフト アンインストールツール"
EXE_NAME = "TAVOSweeper.exe"
LOG_NAME = "TAVOSweeper.log"
REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

MB_OK, MB_OKCANCEL, MB_YESNOCANCEL = 0, 1, 3
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
HKCU, HKLM = 0x80000001, 0x80000002
KEY_WOW64_64KEY, KEY_WOW64_32KEY = 0x100, 0x200

# What every run traces (a scenario may trace more): the message boxes, the
# registry calls, the folder lookups and the DLL search restriction.
DEFAULT_RELAY_INCLUDE = (
    "user32.MessageBoxA",
    "advapi32.RegOpenKeyExA",
    "advapi32.RegDeleteKeyExA",
    "advapi32.RegCloseKey",
    "shell32.SHGetSpecialFolderPathA",
    "kernel32.SetDefaultDllDirectories",
    "kernel32.SetDllDirectoryA",
)


class HarnessError(Exception):
    """A scenario cannot go on (timeout, Wine failure, bad planting...)."""


class SetupError(Exception):
    """The machine is not ready (missing tool, locale, template build failed)."""


def as_cp932(v):
    return v.encode("cp932") if isinstance(v, str) else v


def winpath_key(path):
    """A Windows path as Windows compares it: without case or a trailing backslash."""
    return path.rstrip("\\").lower()


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
            kill_group(proc)
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


def kill_group(proc, sig=signal.SIGKILL, wait=5):
    """Kill the process group made for proc (start_new_session=True), then reap it."""
    with contextlib.suppress(ProcessLookupError, PermissionError):
        os.killpg(proc.pid, sig)
    with contextlib.suppress(ProcessLookupError):
        proc.kill()
    with contextlib.suppress(subprocess.TimeoutExpired):
        proc.wait(timeout=wait)

r"""Scenarios of the Wine tests: what a scenario file holds, and its checks.

A scenario file is a Python file under tests/wine/scenarios/ (or given to
run_wine_tests.py with --scenarios FILE|DIR) that defines SCENARIOS, a list
of dicts. The harness's folder is on sys.path, so a file imports the
constants it compares with from common (PRODUCT_TITLE, MB_*, ID*, HKLM,
KEY_WOW64_*, DEFAULT_RELAY_INCLUDE) and the machines from tavo_machine.
SCENARIO_FIELDS below holds the fields and what their values must be; what
each means:

  name            required; letters, digits, _ . -; unique
  machine         "win64" (default) or "win32": the Windows the scenario is written for
  description     free text
  registry        {key: {value name: value}} planted before the run. Keys are "HKLM\SOFTWARE\X" (64-bit view)
                  or "HKLM\SOFTWARE\Wow6432Node\X" (32-bit view); HKCU works too. str -> REG_SZ (Japanese is
                  fine: the tool's ANSI reads get code page 932 bytes), int -> REG_DWORD, bytes -> REG_BINARY,
                  "" names the default value, {} an empty key. Each planted value is read back before the run.
  folders         [r"C:\..."] folders to create. "{user}" stands for the profile name (C:\users\{user}\TAVO).
                  Japanese names are fine.
  files           {r"C:\...\name": bytes or str} files to create (str is written as code page 932).
  exe_at          where the exe is copied (default C:\TAVOTest\TAVOSweeper.exe)
  cwd             the exe's current directory (default: the exe's folder)
  dialogs         the message boxes in order, each {"answer": "y" | "n" | "Escape" | "Return", "text":
                  str|bytes|None, "title": (default PRODUCT_TITLE), "style": int|None, "result": int|None}.
                  "answer" drives the run; the others are compared with the trace (None or absent: not
                  compared). The count must match exactly. A text the trace cut (about 290 escaped characters)
                  is compared by its shown start, and the expectation must be longer than it.
  runs            how many times the exe runs in the same prefix, each answering the same dialogs (default 1);
                  the trace checks see the last run
  exit_code       expected exit code (default 0; None: not checked)
  log             expected TAVOSweeper.log: bytes, or str (written as code page 932, so give "\r\n" line
                  ends); None: the log must not exist; absent: not checked. Banner times (" YYYY/MM/DD
                  HH:MM:SS.mmm " in 130-byte asterisk lines) and LastError=0x........ are masked on both
                  sides; banner times must also fall inside the run (JST) unless check_log_times is False.
  log_at          where to read the log. Default: C:\users\{user}\TAVO\TAVOSweeper.log when the scenario
                  plants that folder, else cwd\TAVOSweeper.log.
  registry_after  {key: None (must be gone) | {} (must exist) | {name: value} (must exist with these values)}
  files_after     {path: None (must be gone) | True (must exist) | bytes|str (a file with exactly this
                  content)}
  calls           [(func, args, retval)]: relay calls expected in this order, among the calls of the functions
                  named here. func is "advapi32.RegOpenKeyExA" or "RegOpenKeyExA"; args compare the leading
                  arguments (None: any; str/bytes: the string argument; int: the number, HKLM matching
                  ffffffff80000002); retval None: any.
  not_called      [func]: functions that must not appear in the trace
  relay_include   functions to trace (list or ";" string); default common.DEFAULT_RELAY_INCLUDE. A function
                  used in "calls" and "not_called" must be in it.
  timeout_dialog  seconds to wait for each box (default 30)
  timeout_exit    seconds to wait for the exit after the last answer (default 30)
  env             extra environment variables for the Wine processes; TAVO_FILEOP_FAIL injects failures into
                  the IFileOperation stand-in (see tests/wine/standin/fileop_standin.c)
  fileop          who serves CLSID_FileOperation: "standin" (default: the test build's stand-in, which deletes
                  for real), "wine" (Wine's own shell32, whose methods return E_NOTIMPL) or "unregistered"
  attributes      {path: "R" | "H" | "RH"}: planted files made read-only / hidden
  hold_open       [path | (path, "shared" | "reading" | "writing")]: files another process holds open during
                  the run, reading and writing and sharing with nobody, or sharing with readers and writers
                  while it reads and writes, only reads or only writes
  missing         [path]: folders of a fresh prefix removed before the run
  deleted         [path]: exactly the items the log must show deleted without an error line (a full expected
                  "log" says so already)
  partly_deleted  [path]: folders whose failed deletion may have taken part of what they hold

  Every scenario's files are checked after the run: the planted tree under C:\ (Wine's own folders aside)
  lost exactly the items the log shows deleted without an error line, each with all it held, and nothing
  else changed, byte for byte. With the stand-in, its trace (one line per call) must agree with the log: the
  exe's own process loaded it; one object per [DeleteItem] that got that far; on each
  SetOperationFlags(0x214), DeleteItem(the item, no sink), PerformOperations once and
  GetAnyOperationsAborted, up to the call the log names as failed; every object destroyed exactly once,
  every shell item released by the exe. A run traced with at least the default functions also holds the exe
  to what it promises Windows (relay.check_seam): every registry key it opens it closes, once, and no folder
  lookup asks the shell to create the folder.

tests/wine/scenarios/run_basics.py, the run's skeleton on an empty machine, is the one to copy.
"""

import glob
import os
import re
import runpy

from common import EXE_NAME, LOG_NAME
from standin import FILEOP_MODES
from wineprefix import ARCHES

SCENARIO_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenarios")
DIALOG_KEYS = {"answer", "text", "title", "style", "result"}
# What a scenario may answer a message box with (xdotool key names).
ANSWER_KEYS = ("y", "n", "Escape", "Return")
DEFAULT_EXE_AT = "C:\\TAVOTest\\" + EXE_NAME
PROFILE_TAVO = "C:\\users\\{user}\\TAVO"


def _dialog_ok(d):
    return isinstance(d, dict) and set(d) <= DIALOG_KEYS and d.get("answer") in ANSWER_KEYS


def _values_ok(keys):
    return all(v is None or isinstance(v, dict) for v in keys.values())


# Every field a scenario may hold, with what its value must be (None: not checked here).
SCENARIO_FIELDS = {
    "name": (lambda v: re.fullmatch(r"[\w.-]+", v), "a word of letters, digits, _ . -"),
    "machine": (lambda v: v in ARCHES, f"one of {ARCHES}"),
    "dialogs": (lambda v: isinstance(v, list) and all(map(_dialog_ok, v)),
                f"a list of {{answer: one of {ANSWER_KEYS}}} with only {sorted(DIALOG_KEYS)}"),
    "log": (lambda v: isinstance(v, (str, bytes, type(None))), "str, bytes or None"),
    "registry": (_values_ok, "{key: {name: value}}"),
    "registry_after": (_values_ok, "{key: None or {name: value}}"),
    "calls": (lambda v: all(isinstance(c, (tuple, list)) and len(c) == 3 and isinstance(c[0], str)
                            and isinstance(c[1], (tuple, list)) for c in v), "[(func, args, retval)]"),
    "not_called": (lambda v: isinstance(v, list) and all(isinstance(f, str) for f in v), "[function name]"),
    "runs": (lambda v: isinstance(v, int) and 1 <= v <= 5, "1 to 5"),
    "fileop": (lambda v: v in FILEOP_MODES, f"one of {FILEOP_MODES}"),
    **dict.fromkeys(("description", "folders", "files", "exe_at", "cwd", "exit_code", "log_at",
                     "check_log_times", "files_after", "relay_include", "timeout_dialog", "timeout_exit",
                     "env", "hold_open", "partly_deleted", "deleted", "attributes", "missing")),
}


def validate_scenario(s):
    """Problems with a scenario's data (list of str; empty when fine)."""
    errs = [] if "name" in s else ["name is missing"]
    for key, value in s.items():
        if key not in SCENARIO_FIELDS:
            errs.append(f"unknown field {key!r}")
            continue
        check, what = SCENARIO_FIELDS[key] or (None, None)
        try:
            ok = check is None or check(value)
        except (AttributeError, TypeError):
            ok = False
        if not ok:
            errs.append(f"{key} must be {what}, got {value!r:.80}")
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


def load_scenarios(paths):
    """(scenarios, problems) from scenario files and folders (*.py, sorted)."""
    files = []
    for p in paths:
        if os.path.isdir(p):
            files += sorted(glob.glob(os.path.join(p, "*.py")))
        elif os.path.isfile(p):
            files.append(p)
        else:
            return [], [f"no scenario file or folder {p}"]
    scenarios, problems, seen = [], [], set()
    for f in files:
        try:
            data = runpy.run_path(f).get("SCENARIOS")
        except Exception as e:  # a broken file must not hide the others
            problems.append(f"{f}: {type(e).__name__}: {e}")
            continue
        if not isinstance(data, list):
            problems.append(f"{f}: defines no SCENARIOS list")
            continue
        for s in data:
            if not isinstance(s, dict):
                problems.append(f"{f}: a SCENARIOS entry is not a dict: {s!r:.60}")
                continue
            name = s.get("name")
            if name in seen:
                problems.append(f"{f}: duplicate scenario name {name!r}")
                continue
            seen.add(name)
            scenarios.append(s)
    return scenarios, problems

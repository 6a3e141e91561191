#!/usr/bin/python3
r"""Wine end-to-end tests of TAVOSweeper.exe.

    tests/wine/run_wine_tests.py [EXE] [FILTER] [--machine win64|win32] [--shard K/N] [--scenarios PATH]... [-v]

EXE defaults to build/windows-x86/TAVOSweeper.exe, the shipped 32-bit exe (a
lone argument that is no .exe file is taken as FILTER).
--machine picks the Windows the prefix stands for: win64 (default; a PE32 exe
then runs as a WOW64 process) or win32 (32-bit Windows). Only the scenarios
written for that machine run (their "machine" field, default win64). FILTER, a
regular expression, keeps the scenarios whose name it matches. Prints
"PASS name" or "FAIL name: reason" per scenario (details on stderr), then
"N passed, M failed"; exits 0 only when all passed.

A PE32 exe needs the 32-bit Wine loader, which this repository keeps in a
Debian root of its own: run the tests there with
    bash scripts/wine-root.sh run python3 tests/wine/run_wine_tests.py ...
The x86-64 build runs on the host's own wine64 too.

What a run does
  - generates the ja_JP.UTF-8 locale if missing (root: /etc/locale.gen + locale-gen);
  - picks the loaders (wine_harness.wine_setup): tools on the prefix's own
    loader, the exe on the loader of its PE machine;
  - builds once a template prefix for that setup (wineboot -i, RelayInclude set)
    in build/wine-template-{win64,wow64,win32} (or that name in the folder
    $TAVO_WINE_TEMPLATES), rebuilt when missing or when the Wine version or the
    loaders change;
  - starts its own Xvfb (free display, -nolisten tcp) and openbox for the session;
  - per scenario: copies the template (to /dev/shm, or $TAVO_WINE_WORKDIR), plants
    files, folders and registry data, runs the exe with LANG=ja_JP.UTF-8, TZ=JST-9,
    WINEDEBUG=-all,+relay, answers each message box with xdotool, waits for the exit,
    reads the relay trace, the log, the registry and the files, compares, then kills
    the prefix's Wine processes (wineserver -k) and deletes the copy.
  - a `reg export` that fails without saying the key is missing is run again (up to
    3 times); a failed `reg import`, or planting whose read-back misses a key, imports
    once more; each such repeat is printed as "retried:" on stderr, passing or not.
  Failed scenarios leave relay.txt, the log and result.txt in build/wine-results/NAME
  (--artifacts to move it, --keep to keep them and the prefix for passing ones too).
  -v prints each scenario's timings. The harness's own parsing is checked without
  Wine by: /usr/bin/python3 -B -m unittest discover -s tests/wine -p 'test_*.py'

Adding scenarios
  A scenario file is a Python file under tests/wine/scenarios/ (or given with
  --scenarios FILE|DIR) that defines SCENARIOS, a list of dicts. The folder of
  this runner is on sys.path, so a file may `from wine_harness import *` for the
  constants (PRODUCT_TITLE, MB_*, ID*, HKLM, KEY_WOW64_*). Fields:

  name            required; letters, digits, _ . -; unique
  machine         "win64" (default) or "win32": the Windows the scenario is written for
  description     free text
  registry        {key: {value name: value}} planted before the run. Keys are
                  "HKLM\SOFTWARE\X" (64-bit view) or "HKLM\SOFTWARE\Wow6432Node\X"
                  (32-bit view); HKCU works too. str -> REG_SZ (Japanese is fine:
                  the tool's ANSI reads get code page 932 bytes), int -> REG_DWORD,
                  bytes -> REG_BINARY, "" names the default value, {} an empty key.
                  Each planted value is read back before the run.
  folders         [r"C:\..."] folders to create. "{user}" stands for the profile
                  name (C:\users\{user}\TAVO). Japanese names are fine.
  files           {r"C:\...\name": bytes or str} files to create (str is written
                  as code page 932).
  exe_at          where the exe is copied (default C:\TAVOTest\TAVOSweeper.exe)
  cwd             the exe's current directory (default: the exe's folder)
  dialogs         the message boxes in order, each {"answer": "y" | "n" |
                  "Escape" | "Return", "text": str|bytes|None, "title": (default
                  PRODUCT_TITLE), "style": int|None, "result": int|None}. "answer"
                  drives the run; the others are compared with the trace (None or
                  absent: not compared). The count must match exactly. A text the
                  trace cut (about 290 escaped characters) is compared by its
                  shown start, and the expectation must be longer than it.
  runs            how many times the exe runs in the same prefix, each answering the
                  same dialogs (default 1); the trace checks see the last run
  exit_code       expected exit code (default 0; None: not checked)
  log             expected TAVOSweeper.log: bytes, or str (written as code page
                  932, so give "\r\n" line ends); None: the log must not exist;
                  absent: not checked. Banner times (" YYYY/MM/DD HH:MM:SS.mmm "
                  in 130-byte asterisk lines) and LastError=0x........ are masked
                  on both sides; banner times must also fall inside the run (JST)
                  unless check_log_times is False.
  log_at          where to read the log. Default: C:\users\{user}\TAVO\TAVOSweeper.log
                  when the scenario plants that folder, else cwd\TAVOSweeper.log.
  registry_after  {key: None (must be gone) | {} (must exist) | {name: value}
                  (must exist with these values)}
  files_after     {path: None (must be gone) | True (must exist) | bytes|str
                  (a file with exactly this content)}
  calls           [(func, args, retval)]: relay calls expected in this order,
                  among the calls of the functions named here. func is
                  "advapi32.RegOpenKeyExA" or "RegOpenKeyExA"; args compare the
                  leading arguments (None: any; str/bytes: the string argument;
                  int: the number, HKLM matching ffffffff80000002); retval None: any.
  not_called      [func]: functions that must not appear in the trace
  relay_include   functions to trace (list or ";" string); default
                  wine_harness.DEFAULT_RELAY_INCLUDE. A function used in "calls"
                  and "not_called" must be in it.
  timeout_dialog  seconds to wait for each box (default 30)
  timeout_exit    seconds to wait for the exit after the last answer (default 30)
  env             extra environment variables for the Wine processes; TAVO_FILEOP_FAIL
                  injects failures into the IFileOperation stand-in (see
                  tests/wine/standin/fileop_standin.c)
  fileop          who serves CLSID_FileOperation: "standin" (default: the test
                  build's stand-in, which deletes for real), "wine" (Wine's own
                  shell32, whose methods return E_NOTIMPL) or "unregistered"
  attributes      {path: "R" | "H" | "RH"}: planted files made read-only / hidden
  hold_open       [path]: files another process holds open without sharing
                  during the run
  deleted         [path]: exactly the items the log must show deleted without
                  an error line (a full expected "log" says so already)
  partly_deleted  [path]: folders whose failed deletion may have taken part of
                  what they hold

  Every scenario's files are checked after the run: the planted tree under C:\
  (Wine's own folders aside) lost exactly the items the log shows deleted
  without an error line, each with all it held, and nothing else changed,
  byte for byte. With the stand-in, its trace (one line per call) must agree
  with the log: the exe's own process loaded it; one object per [DeleteItem]
  that got that far; on each SetOperationFlags(0x214), DeleteItem(the item, no
  sink), PerformOperations once and GetAnyOperationsAborted, up to the call the
  log names as failed; every object destroyed exactly once.

Example:

    from wine_harness import *

    SCENARIOS = [{
        "name": "cancel_at_start",
        "registry": {r"HKLM\SOFTWARE\Wow6432Node\TAVO": {"InstallDir": r"C:\TAVO\利用者"}},
        "dialogs": [{"answer": "Escape", "style": MB_OKCANCEL, "result": IDCANCEL}],
        "log": None,
        "registry_after": {r"HKLM\SOFTWARE\Wow6432Node\TAVO": {"InstallDir": r"C:\TAVO\利用者"}},
    }]
"""

import argparse
import glob
import os
import re
import runpy
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True   # no __pycache__ in the source tree

import wine_harness as H  # noqa: E402

DEFAULT_EXE = os.path.join(H.REPO_ROOT, "build", "windows-x86", H.EXE_NAME)
DEFAULT_SCENARIOS = os.path.join(HERE, "scenarios")
DEFAULT_ARTIFACTS = os.path.join(H.REPO_ROOT, "build", "wine-results")


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


def main(argv=None):
    ap = argparse.ArgumentParser(description="Wine end-to-end tests of TAVOSweeper.exe",
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("exe", nargs="?", default=DEFAULT_EXE, help=f"the exe to test (default {DEFAULT_EXE})")
    ap.add_argument("filter", nargs="?", default="", help="run only scenarios whose name matches this regex")
    ap.add_argument("--machine", choices=H.ARCHES, default="win64",
                    help="the Windows the prefix stands for (default win64)")
    ap.add_argument("--shard", default="1/1", metavar="K/N",
                    help="run only every N-th chosen scenario, starting with the K-th (default 1/1), "
                         "so that N runners can share the scenarios")
    ap.add_argument("--scenarios", action="append", help="scenario file or folder (repeatable; "
                    f"default {DEFAULT_SCENARIOS})")
    ap.add_argument("--template", help="template prefix folder (default build/wine-template-<setup>, "
                    "or that name in $TAVO_WINE_TEMPLATES)")
    ap.add_argument("--workdir", help="where throwaway prefixes go (default $TAVO_WINE_WORKDIR, /dev/shm or /tmp)")
    ap.add_argument("--artifacts", default=DEFAULT_ARTIFACTS, help="where failed scenarios leave their files")
    ap.add_argument("--keep", action="store_true", help="keep prefixes and artifacts of all scenarios")
    ap.add_argument("-v", "--verbose", action="store_true", help="timings and notes on stderr")
    args = ap.parse_intermixed_args(argv)
    if args.filter == "" and not args.exe.lower().endswith(".exe") and not os.path.isfile(args.exe):
        # One word that is no exe: it is the filter, on the default exe.
        args.exe, args.filter = DEFAULT_EXE, args.exe

    def err(msg):
        print(msg, file=sys.stderr, flush=True)

    # SIGTERM (e.g. a CI timeout) must still run the cleanups below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    scenarios, problems = load_scenarios(args.scenarios or [DEFAULT_SCENARIOS])
    for p in problems:
        err(f"scenario file problem: {p}")
    if problems:
        print("0 passed, 1 failed")
        return 1
    try:
        name_re = re.compile(args.filter)
    except re.error as e:
        err(f"bad FILTER {args.filter!r}: {e}")
        print("0 passed, 1 failed")
        return 2
    chosen = [s for s in scenarios
              if s.get("machine", "win64") == args.machine and name_re.search(str(s.get("name")))]
    m = re.fullmatch(r"([1-9][0-9]*)/([1-9][0-9]*)", args.shard)
    if not m or int(m.group(1)) > int(m.group(2)):
        err(f"bad --shard {args.shard!r}: K/N with 1 <= K <= N")
        print("0 passed, 1 failed")
        return 2
    k, n = int(m.group(1)), int(m.group(2))
    chosen = chosen[k - 1::n]
    if not chosen:
        err(f"no {args.machine} scenario matches {args.filter!r} ({len(scenarios)} loaded)")
        print("0 passed, 0 failed")
        return 2

    t0 = time.monotonic()
    exe = os.path.abspath(args.exe)
    try:
        H.require_tools()
        if H.ensure_ja_locale():
            err("generated locale ja_JP.UTF-8")
        setup = H.wine_setup(args.machine, H.pe_machine(exe))
        template = H.ensure_template(setup, args.template, log=err)
    except (H.SetupError, H.HarnessError, OSError) as e:
        err(f"setup failed: {e}")
        print(f"0 passed, {len(chosen)} failed")
        return 1
    workdir = args.workdir or H.default_workdir()
    if args.verbose:
        err(f"setup {time.monotonic() - t0:.1f}s; {setup}; template {template}; workdir {workdir}; exe {exe}")

    passed = failed = 0
    try:
        with H.XSession() as xs:
            if args.verbose:
                err(f"X display {xs.display}")
            for s in chosen:
                r = H.run_scenario(s, exe, setup, template, xs, workdir, keep=args.keep, artifacts=args.artifacts)
                if r.ok:
                    passed += 1
                    print(f"PASS {r.name}", flush=True)
                else:
                    failed += 1
                    print(f"FAIL {r.name}: {r.errors[0]}" + (f" (+{len(r.errors) - 1} more)" if len(r.errors) > 1
                                                              else ""), flush=True)
                    for e in r.errors[1:]:
                        err(f"    {r.name}: {e}")
                    if r.work:
                        err(f"    {r.name}: files in {os.path.join(args.artifacts, r.name)}")
                for n in r.retries:   # always shown: a flaky Wine tool must stay visible
                    err(f"    {r.name}: retried: {n}")
                if args.keep and r.work:
                    err(f"    {r.name}: prefix kept in {r.work}")
                if args.verbose:
                    for n in r.notes:
                        err(f"    {r.name}: note: {n}")
                    err(f"    {r.name}: exit code {r.exit_code}; timings {r.timings}")
    except H.SetupError as e:
        err(f"setup failed: {e}")
        failed += len(chosen) - passed - failed
    if args.verbose:
        err(f"total {time.monotonic() - t0:.1f}s")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

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

What a run does: wineprefix.prepare_session checks the tools and the locale, picks the loaders
(tools on the prefix's own, the exe on its PE machine's) and builds the template prefix once
(build/wine-template-*, or in $TAVO_WINE_TEMPLATES; again whenever what its stamp records changes);
then with its own Xvfb and openbox, runner.ScenarioRunner runs each scenario in a copy of the
template (in /dev/shm, or $TAVO_WINE_WORKDIR). Wine tool runs that had to be repeated are printed as
"retried:". A failed scenario leaves in build/wine-results/NAME (--artifacts moves it; --keep keeps
passing ones and their prefix too) relay.txt, stdout.txt, fileop-trace.txt, the log, drive_c.txt
(what the run left under C:\, with digests) and result.txt.

The fields of a scenario file are described in scenario.py, beside the schema
that checks them. The harness's own checks, and every scenario file against
that schema, run without Wine:
    python3 -B -m unittest discover -s tests/wine -p 'test_*.py'
"""

import argparse
import os
import re
import signal
import sys
import time

sys.dont_write_bytecode = True   # no __pycache__ in the source tree

from common import EXE_NAME, REPO_ROOT, HarnessError, SetupError  # noqa: E402
from runner import ScenarioRunner  # noqa: E402
from scenario import SCENARIO_DIR, load_scenarios  # noqa: E402
from wineprefix import ARCHES, prepare_session  # noqa: E402
from xsession import XSession  # noqa: E402

DEFAULT_EXE = os.path.join(REPO_ROOT, "build", "windows-x86", EXE_NAME)
DEFAULT_ARTIFACTS = os.path.join(REPO_ROOT, "build", "wine-results")


def main(argv=None):
    ap = argparse.ArgumentParser(description="Wine end-to-end tests of TAVOSweeper.exe",
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("exe", nargs="?", default=DEFAULT_EXE, help=f"the exe to test (default {DEFAULT_EXE})")
    ap.add_argument("filter", nargs="?", default="", help="run only scenarios whose name matches this regex")
    ap.add_argument("--machine", choices=ARCHES, default="win64",
                    help="the Windows the prefix stands for (default win64)")
    ap.add_argument("--shard", default="1/1", metavar="K/N",
                    help="run only every N-th chosen scenario, starting with the K-th (default 1/1), "
                         "so that N runners can share the scenarios")
    ap.add_argument("--scenarios", action="append", help="scenario file or folder (repeatable; "
                    f"default {SCENARIO_DIR})")
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

    scenarios, problems = load_scenarios(args.scenarios or [SCENARIO_DIR])
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
        session = prepare_session(args.machine, exe, template=args.template, workdir=args.workdir, log=err)
    except (SetupError, HarnessError, OSError) as e:
        err(f"setup failed: {e}")
        print(f"0 passed, {len(chosen)} failed")
        return 1
    if args.verbose:
        err(f"setup {time.monotonic() - t0:.1f}s; {session}; exe {exe}")

    passed = failed = 0
    try:
        with XSession() as xs:
            if args.verbose:
                err(f"X display {xs.display}")
            for s in chosen:
                r = ScenarioRunner(s, exe, session.setup, session.template, xs, session.workdir, keep=args.keep,
                                   artifacts=args.artifacts).run()
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
    except SetupError as e:
        err(f"setup failed: {e}")
        failed += len(chosen) - passed - failed
    if args.verbose:
        err(f"total {time.monotonic() - t0:.1f}s")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

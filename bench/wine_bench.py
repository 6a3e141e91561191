#!/usr/bin/python3
r"""Benchmarks of TAVOSweeper.exe (x86-64 build) under Wine, run by the
scenario harness of tests/wine through its runner's public hooks.

    bench/wine_bench.py [--runs N] [--parts whole,delete,memory,requests] [--out DIR] [--exe EXE]
                        [--watch-period S] [--summarize-only]

Parts (each run is a fresh copy of the harness's template prefix):
  whole   every dialog answered at once by the harness (xdotool), on an empty
          machine and on the complete demo machine (all Yes): time from the "#1"
          banner to the "#25" banner, read from the log's own timestamps, split
          into time spent waiting for answers and the rest (whole.py).
  delete  recursive deletion of a management key: the tool deleting
          HKLM\SOFTWARE\TAVO (64-bit view, step #13) and its Wow6432Node twin
          (32-bit view, step #16) against Wine's reg.exe deleting an identical
          tree planted in the same prefix (HKLM\SOFTWARE\TAVOREF, and with
          /reg:32 its Wow6432Node twin). Shapes: "wide" 20 x 10 x 9 below the
          root (2,021 keys), "chain" 200 keys deep (201 keys), "single" (the
          root alone: the control for the answering time inside step #13)
          (deletion.py).
  memory  peak resident memory (VmHWM) of the Wine process running the exe,
          sampled during the "whole" runs, beside a minimal program that only
          shows one message box (bench/msgbox_baseline.c), and what is
          resident per mapping (/proc/<pid>/smaps) in both (logwatch.py).
  requests  one run per shape ("single", "wide") with the prefix's wineserver
          tracing every request (wineserver -d1): the requests per deleted key
          of the tool (per view, cut at the log opens around the deletion) and
          of reg.exe, as the difference between the two shapes (deletion.py).

How the harness runs them
  Each run is the harness's ScenarioRunner with relay=False (the exe runs with
  WINEDEBUG=-all: a benchmark measures the tool, not the tracer) and
  read_back=False (no reg.exe run per planted key), and with hooks: the
  watcher around the exe, the registry trees planted and reg.exe run around
  the tool's run. The runner still checks the exit code, the log against the
  expected one ("whole": the golden logs, times masked and within the run),
  the files left and the IFileOperation stand-in's trace.

How times are taken
  - Log clock: the banners carry the tool's own local time to the millisecond.
  - Host clock: a thread polls the log file every millisecond and stamps each
    complete new line with the time it first saw it. This gives a time to the
    lines without a timestamp ([ConfirmDeleteItem] IDYES, [DeleteRegKey] ...),
    about 1 ms late at most. It also samples /proc/<pid>/status of the process
    whose command line names the exe.
  - reg.exe: WINEDEBUG=+relay,+timestamp traces only RegDeleteTreeW and
    RegDeleteKeyW (RelayInclude); its deletion is the time from the call of
    RegDeleteTreeW to the return of RegDeleteKeyW (1 ms resolution). Its wall
    time (process start included) is recorded too.

Output: DIR/wine/runs.jsonl (one JSON record per run, raw), DIR/wine/summary.txt
(the tables) and DIR/wine/summary.json. Failed runs are recorded with their
errors and left out of the statistics; nothing fails on a duration. Exit status
1 only when a part has no successful run at all.
"""

import argparse
import functools
import json
import os
import signal
import subprocess
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "wine"))

from common import EXE_NAME  # noqa: E402
from deletion import SHAPES, RequestCount, TreeDeletion, analyse_delete, delete_scenario  # noqa: E402
from logwatch import Watcher  # noqa: E402
from runner import Hooks, ScenarioRunner  # noqa: E402
from summary import write_summary  # noqa: E402
from whole import analyse_whole, whole_scenarios  # noqa: E402
from wine_summary import summarize  # noqa: E402
from wineprefix import prepare_session  # noqa: E402
from xsession import XSession  # noqa: E402

DEFAULT_EXE = os.path.join(REPO, "build", "windows-x64", EXE_NAME)
DEFAULT_OUT = os.path.join(REPO, "build", "bench")
PARTS = ("whole", "delete", "memory", "requests")
BASELINE_EXE = "msgbox_baseline.exe"
BASELINE_SCENARIO = {"name": "bench_baseline", "exe_at": "C:\\TAVOTest\\" + BASELINE_EXE,
                     "dialogs": [{"answer": "Return"}]}


def build_baseline(out_dir):
    exe = os.path.join(out_dir, "bin", BASELINE_EXE)
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-static", "-mwindows", "-o", exe,
                    os.path.join(HERE, "msgbox_baseline.c")], check=True, timeout=120)
    return exe


class Bench:
    """The runs of one session on one X display, and their records in runs.jsonl."""

    def __init__(self, session, xs, out_dir, raw):
        self.session, self.xs = session, xs
        self.out_dir, self.raw = out_dir, raw

    def run(self, scenario, exe, watcher=None, steps=None):
        """The result of one untraced run of scenario; steps (a TreeDeletion)
        plants before it and measures after it."""
        hooks = Hooks(plant=steps and steps.plant, around_exe=watcher, after=steps and steps.after)
        s = self.session
        return ScenarioRunner(scenario, exe, s.setup, s.template, self.xs, s.workdir, relay=False,
                              read_back=False, hooks=hooks).run()

    def record(self, part, case, i, result, watcher=None, analyse=None, sample=None, **extra):
        """Writes one run's record: its errors and timings, the exe's memory
        (watched runs), extra, and what analyse(log, watched lines) makes of a
        passing run; the first run's log goes to sample."""
        rec = {"part": part, "case": case, "i": i, "errors": list(result.errors), "timings": result.timings,
               **extra, **(watcher.memory() if watcher else {})}
        if analyse and not rec["errors"]:
            d = analyse(result.log, watcher.lines)
            if "error" in d:
                rec["errors"].append(d.pop("error"))
            rec.update(d)
        if sample and i == 0 and result.log:
            with open(os.path.join(self.out_dir, sample), "wb") as f:
                f.write(result.log)
        self.raw.write(json.dumps(rec) + "\n")
        self.raw.flush()
        state = "ok" if not rec["errors"] else "FAILED: " + "; ".join(rec["errors"])[:200]
        print(f"{part:6s} {case:8s} {i:2d} {state}", flush=True)


def run_parts(bench, parts, runs, exe, baseline, watch_period):
    whole = whole_scenarios()
    for i in range(runs):
        if "whole" in parts or "memory" in parts:
            for case, scenario in whole:
                watcher = Watcher(period=watch_period)
                res = bench.run(scenario, exe, watcher)
                bench.record("whole", case, i, res, watcher, analyse_whole, f"sample_{case}.log")
        if "memory" in parts:
            # Its box is up for a fraction of a second: look at the mappings often.
            watcher = Watcher(BASELINE_EXE, period=watch_period, smaps_period=0.02)
            bench.record("memory", "baseline", i, bench.run(BASELINE_SCENARIO, baseline, watcher), watcher)
        if "delete" in parts:
            for shape in SHAPES:
                # Every other run reg.exe goes first, so neither side always
                # meets the registry the other left.
                steps = TreeDeletion(shape, reg_first=i % 2 == 1)
                watcher = Watcher(period=watch_period)
                res = bench.run(delete_scenario(shape), exe, watcher, steps)
                bench.record("delete", shape, i, res, watcher, functools.partial(analyse_delete, nkeys=steps.nkeys),
                             f"sample_delete_{shape}.log", keys=steps.nkeys, reg_first=steps.reg_first, **steps.data)
    if "requests" in parts:
        # Deterministic enough to need one run per shape: the difference
        # between the wide tree and the single key is what deleting 2,020
        # more keys per view costs in requests.
        for shape in ("single", "wide"):
            steps = RequestCount(shape)
            res = bench.run(delete_scenario(shape), exe, steps=steps)
            bench.record("requests", shape, 0, res, keys=steps.nkeys, **steps.data)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--parts", default=",".join(PARTS))
    ap.add_argument("--out", default=DEFAULT_OUT)
    ap.add_argument("--exe", default=DEFAULT_EXE)
    ap.add_argument("--summarize-only", action="store_true", help="redo the summary from runs.jsonl")
    ap.add_argument("--watch-period", type=float, default=0.001,
                    help="seconds between two looks at the log (the host-clock resolution)")
    a = ap.parse_args(argv)
    parts = set(a.parts.split(","))
    if not parts <= set(PARTS):
        ap.error(f"unknown parts {sorted(parts - set(PARTS))}; the parts are {','.join(PARTS)}")
    # run_all.sh bounds this script with timeout(1): unwind on SIGTERM so the
    # prefix copy, Wine and the private X display are cleaned up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    out_dir = os.path.join(os.path.abspath(a.out), "wine")
    os.makedirs(out_dir, exist_ok=True)
    raw_path = os.path.join(out_dir, "runs.jsonl")

    if not a.summarize_only:
        exe = os.path.abspath(a.exe)
        if not os.path.isfile(exe):
            print(f"no exe at {exe}: cmake --preset windows-x64 && cmake --build --preset windows-x64",
                  file=sys.stderr)
            return 2
        session = prepare_session("win64", exe, log=lambda m: print(m, file=sys.stderr))
        baseline = build_baseline(os.path.dirname(out_dir)) if "memory" in parts else None
        with open(raw_path, "w") as raw, XSession() as xs:
            run_parts(Bench(session, xs, out_dir, raw), parts, a.runs, exe, baseline, a.watch_period)

    with open(raw_path) as f:
        records = [json.loads(l) for l in f if l.strip()]
    lines, data = summarize(records)
    write_summary(out_dir, lines, data)
    missing = [p for p in parts if not any(r["part"] == p and not r.get("errors") for r in records)]
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
r"""Benchmarks of TAVOSweeper.exe (x86-64 build) under Wine, driven by the
scenario harness of tests/wine (imported as it is, never changed).

    bench/wine_bench.py [--runs N] [--parts whole,delete,memory,requests] [--out DIR] [--exe EXE]
                        [--watch-period S] [--summarize-only]

Parts (each run is a fresh copy of the harness's template prefix):
  whole   every dialog answered at once by the harness (xdotool), on an empty
          machine and on the complete demo machine (all Yes): time from the "#1"
          banner to the "#25" banner, read from the log's own timestamps, split
          into time spent waiting for answers and the rest.
  delete  recursive deletion of a management key: the tool deleting
          HKLM\SOFTWARE\TAVO (64-bit view, step #13) and its Wow6432Node twin
          (32-bit view, step #16) against Wine's reg.exe deleting an identical
          tree planted in the same prefix (HKLM\SOFTWARE\TAVOREF, and with
          /reg:32 its Wow6432Node twin). Shapes: "wide" 20 x 10 x 9 below the
          root (2,021 keys), "chain" 200 keys deep (201 keys), "single" (the
          root alone: the control for the answering time inside step #13).
  memory  peak resident memory (VmHWM) of the Wine process running the exe,
          sampled during the "whole" runs, beside a minimal program that only
          shows one message box (bench/msgbox_baseline.c), and what is
          resident per mapping (/proc/<pid>/smaps) in both.
  requests  one run per shape ("single", "wide") with the prefix's wineserver
          tracing every request (wineserver -d1): the requests per deleted key
          of the tool (per view, cut at the log opens around the deletion) and
          of reg.exe, as the difference between the two shapes.

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
  The tool runs with WINEDEBUG=-all: no relay trace (the tests trace a few
  functions; a benchmark measures the tool, not the tracer).

Output: DIR/wine/runs.jsonl (one JSON record per run, raw), DIR/wine/summary.txt
(the tables) and DIR/wine/summary.json. Failed runs are recorded with their
errors and left out of the statistics; nothing fails on a duration. Exit status
1 only when a part has no successful run at all.
"""

import argparse
import contextlib
import json
import os
import re
import signal
import statistics
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "wine"))

import tavo_machine as M  # noqa: E402
import wine_harness as H  # noqa: E402

DEFAULT_EXE = os.path.join(REPO, "build", "windows-x64", H.EXE_NAME)
DEFAULT_OUT = os.path.join(REPO, "build", "bench")

CONFIRM = b"[ConfirmDeleteItem] "
DELETE_LINE = b"[DeleteRegKey] "

# ---------------------------------------------------------------------------
# Log parsing

_BANNER = re.compile(rb"^\*{10} (#(\d+)[^ ]*) .*?(\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}) \*+$", re.S)


def banner_of(line):
    """(step number, ms since midnight of the log clock) for a 128-byte banner, else None."""
    if len(line) != H.BANNER_LEN - 2:
        return None
    m = _BANNER.match(line)
    if not m:
        return None
    hh, mi, ss, ms = (int(g) for g in m.groups()[5:9])
    return int(m.group(2)), ((hh * 60 + mi) * 60 + ss) * 1000 + ms


def log_lines(data):
    return data.split(b"\r\n")[:-1] if data else []


def banner_ms(lines):
    """[(step, log-clock ms)] of the banners, day wrap handled."""
    out = []
    for line in lines:
        b = banner_of(line)
        if b:
            step, ms = b
            if out and ms < out[-1][1]:
                ms += 24 * 3600 * 1000
            out.append((step, ms))
    return out


# ---------------------------------------------------------------------------
# Host-side watcher: new log lines with the time they were first seen, and the
# exe process's memory.

def find_pid(exe_name):
    low = exe_name.lower().encode()
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/cmdline", "rb") as f:
                cmd = f.read()
        except OSError:
            continue
        # Wine shows the Windows path of the program as the process's first word.
        first = cmd.split(b"\0", 1)[0].lower()
        if first.endswith(b"\\" + low):
            return int(d)
    return None


def read_status(pid):
    out = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                k, _, v = line.partition(":")
                if k in ("VmHWM", "VmRSS", "VmPeak", "VmSize"):
                    out[k] = int(v.split()[0])
    except OSError:
        return None
    return out


def rss_by_mapping(smaps):
    """{mapped file name or [heap]/[anon]/...: resident kB} from /proc/<pid>/smaps."""
    out, cur = {}, None
    for line in smaps.splitlines():
        f = line.split()
        if len(f) >= 5 and "-" in f[0] and ":" in f[3]:
            cur = f[5] if len(f) > 5 else "[anon]"
            cur = os.path.basename(cur) if cur.startswith("/") else cur
        elif f and f[0] == "Rss:" and cur is not None:
            out[cur] = out.get(cur, 0) + int(f[1])
    return out


class Watch(threading.Thread):
    def __init__(self, log_path, exe_name, period=0.001, mem_period=0.02, smaps_period=0.25):
        super().__init__(daemon=True)
        self.log_path = log_path
        self.exe_name = exe_name
        self.period = period
        self.mem_period = mem_period
        self.lines = []          # (host time, line bytes)
        self.mem = None          # last /proc status of the exe process
        self.mem_samples = 0
        self.smaps_period = smaps_period
        self.rss_by_mapping = None  # resident kB per mapping at the fullest look
        self.pid = None
        self._halt = threading.Event()
        self._pos = 0
        self._buf = b""

    def stop(self):
        self._halt.set()
        self.join(timeout=5)
        self._poll(time.time())  # whatever came after the last poll

    def _poll(self, now):
        try:
            size = os.stat(self.log_path).st_size
        except OSError:
            return
        if size <= self._pos:
            return
        with open(self.log_path, "rb") as f:
            f.seek(self._pos)
            data = f.read(size - self._pos)
        self._pos += len(data)
        self._buf += data
        while b"\r\n" in self._buf:
            line, self._buf = self._buf.split(b"\r\n", 1)
            self.lines.append((now, line))

    def _read_smaps(self):
        try:
            with open(f"/proc/{self.pid}/smaps") as f:
                text = f.read()
        except OSError:
            return
        if not text:  # empty once the process is gone
            return
        # Keep the look with the most resident: the nearest to the peak.
        m = rss_by_mapping(text)
        if self.rss_by_mapping is None or sum(m.values()) >= sum(self.rss_by_mapping.values()):
            self.rss_by_mapping = m

    def run(self):
        next_mem = next_smaps = 0.0
        while not self._halt.is_set():
            now = time.time()
            self._poll(now)
            if now >= next_mem:
                next_mem = now + self.mem_period
                if self.pid is None:
                    self.pid = find_pid(self.exe_name)
                if self.pid is not None:
                    st = read_status(self.pid)
                    if st is not None and st.get("VmHWM"):
                        self.mem = st
                        self.mem_samples += 1
                    # Reading smaps costs the kernel more: less often.
                    if now >= next_smaps:
                        next_smaps = now + self.smaps_period
                        self._read_smaps()
            time.sleep(self.period)


# ---------------------------------------------------------------------------
# The runner: the harness's ScenarioRunner, with the tool untraced, the watcher
# around the run, extra planting, and checks fit for a benchmark.

class BenchRunner(H.ScenarioRunner):
    def __init__(self, scenario, exe, setup, template, xs, workdir, *, expect_log=None, extra_plant=None,
                 after_run=None, exe_name=H.EXE_NAME):
        super().__init__(scenario, exe, setup, template, xs, workdir)
        self.expect_log = expect_log
        self.extra_plant = extra_plant
        self.after_run = after_run
        self.exe_name = exe_name
        self.watch = None
        self.data = {}

    def env(self, debug="-all"):
        # The harness runs the exe with a relay trace; the benchmark does not.
        if debug == "-all,+relay":
            debug = "-all"
        return super().env(debug)


    def verify_planted(self, reg):
        # Reading every planted key back costs a reg.exe run per key; the log
        # check after the run shows the machine was the one intended.
        pass

    def plant(self):
        super().plant()
        if self.extra_plant:
            self.extra_plant(self)

    watch_period = 0.001
    smaps_period = 0.25

    def execute(self):
        self.watch = Watch(self.upath(H.log_location(self.s)), self.exe_name, period=self.watch_period,
                           smaps_period=self.smaps_period)
        self.watch.start()
        try:
            super().execute()
        finally:
            self.watch.stop()

    def check(self):
        r = self.result
        if r.exit_code != 0:
            r.errors.append(f"exit code {r.exit_code}")
        log_path = self.upath(H.log_location(self.s))
        if os.path.isfile(log_path):
            with open(log_path, "rb") as f:
                r.log = f.read()
        if self.expect_log is not None:
            if r.log is None:
                r.errors.append("no log")
            elif H.mask_log(r.log) != H.mask_log(self.expect_log):
                r.errors.append("log differs from the expected run at " +
                                H.first_difference(H.mask_log(self.expect_log), H.mask_log(r.log)))
        if self.after_run and not r.errors:
            self.after_run(self)


def run_one(scenario, exe, setup, template, xs, workdir, **kw):
    runner = BenchRunner(scenario, exe, setup, template, xs, workdir, **kw)
    result = runner.run()
    return runner, result


# ---------------------------------------------------------------------------
# Part "whole"

def golden_log(path):
    with open(path, encoding="utf-8") as f:
        return M.log_bytes([l.rstrip("\n") for l in f if not l.startswith("#")])


def golden_lines_of(case):
    """The expected log of a whole-run case, as golden lines."""
    path = (os.path.join(REPO, "tests", "golden", "empty_64.log") if case == "empty"
            else os.path.join(M.GOLDEN_DIR, "full_yes.log"))
    with open(path, encoding="utf-8") as f:
        return [l.rstrip("\n") for l in f if not l.startswith("#")]


def whole_scenarios():
    registry, folders, files = M.full_machine()
    full_dialogs = [{"answer": "Return"}] + [{"answer": "y"} for _ in range(16)] + [{"answer": "Return"}]
    return [
        ("empty", {"name": "bench_empty", "dialogs": [{"answer": "Return"}, {"answer": "Return"}]},
         golden_log(os.path.join(REPO, "tests", "golden", "empty_64.log"))),
        # Wine's own shell, as the figures in docs/performance.md were taken:
        # each deletion fails at once instead of going through the test stand-in.
        ("full", {"name": "bench_full", "registry": registry, "folders": folders, "files": files,
                  "dialogs": full_dialogs, "fileop": "wine"},
         golden_log(os.path.join(M.GOLDEN_DIR, "full_yes.log"))),
    ]


def analyse_whole(log, watch_lines):
    """Figures of one whole run from its log and the watcher's line times."""
    lines = log_lines(log)
    bans = banner_ms(lines)
    d = {"banners": bans}
    if not bans or bans[0][0] != 1 or bans[-1][0] != 25:
        d["error"] = "log does not run from #1 to #25"
        return d
    d["total_ms"] = bans[-1][1] - bans[0][1]
    # Log clock: a banner interval holding a question (or, before #25, the
    # closing dialog) counts as a dialog interval; the others are pure work.
    dialog_ms = work_ms = 0
    idx = [i for i, l in enumerate(lines) if banner_of(l)]
    for k in range(len(idx) - 1):
        span = bans[k + 1][1] - bans[k][1]
        body = lines[idx[k] + 1: idx[k + 1]]
        if any(l.startswith(CONFIRM) for l in body) or k == len(idx) - 2:
            dialog_ms += span
        else:
            work_ms += span
    d["log_dialog_intervals_ms"] = dialog_ms
    d["log_work_intervals_ms"] = work_ms
    d["questions"] = sum(1 for l in lines if l.startswith(CONFIRM))
    # Host clock: each answered box is the time from the line written just
    # before it was shown to the line written just after it closed.
    if len(watch_lines) == len(lines) and all(a[1] == b for a, b in zip(watch_lines, lines)):
        t = [w[0] for w in watch_lines]
        waits = []
        for i, l in enumerate(lines):
            if l.startswith(CONFIRM) or (i == len(lines) - 1):
                waits.append((t[i] - t[i - 1]) * 1000)
        d["host_line_ms"] = [round((x - t[0]) * 1000, 1) for x in t]
        d["host_total_ms"] = (t[-1] - t[0]) * 1000
        d["host_answer_ms"] = sum(waits)
        d["host_answer_each_ms"] = [round(w, 1) for w in waits]
        d["host_work_ms"] = d["host_total_ms"] - d["host_answer_ms"]
    else:
        d["error"] = "watcher lines do not match the log"
    return d


# ---------------------------------------------------------------------------
# Part "delete"

ROOTS = {
    "tool64": r"HKLM\SOFTWARE\TAVO",
    "tool32": r"HKLM\SOFTWARE\Wow6432Node\TAVO",
    "reg64": r"HKLM\SOFTWARE\TAVOREF",
    "reg32": r"HKLM\SOFTWARE\Wow6432Node\TAVOREF",
}
SHAPES = {"wide": ("tree", (20, 10, 9)), "chain": ("chain", 200), "single": ("tree", ())}


def shape_keys(root, shape):
    kind, arg = SHAPES[shape]
    if kind == "chain":
        keys, p = [root], root
        for _ in range(arg):
            p += "\\c"
            keys.append(p)
        return keys
    keys, level = [root], [root]
    for width in arg:
        level = [f"{p}\\k{j:02d}" for p in level for j in range(width)]
        keys += level
    return keys


def write_tree_reg(path, shape):
    """A .reg file (UTF-16LE, BOM) planting the shape under all four roots,
    one DWORD value in every key."""
    out = ["Windows Registry Editor Version 5.00", ""]
    for root in ROOTS.values():
        for key in shape_keys(H.full_key(root), shape):
            out += [f"[{key}]", '"v"=dword:00000001', ""]
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + ("\r\n".join(out) + "\r\n").encode("utf-16-le"))


def count_keys(runner, root):
    got = runner.export_key(root)
    return 0 if got is None else len(got)


_RELAY_T = re.compile(r"^(\d+)\.(\d{3}):[0-9a-f:]+:(Call|Ret ) advapi32\.(RegDeleteTreeW|RegDeleteKeyW)\(")


def reg_delete(runner, view):
    """Delete the reference tree with reg.exe; (ms inside reg.exe, wall ms)."""
    key = r"HKLM\SOFTWARE\TAVOREF"
    cmd = ["wine", "reg", "delete", key, "/f"] + (["/reg:32"] if view == 32 else [])
    env = H.wine_env(runner.prefix, runner.xs.display, "-all,+relay,+timestamp")
    t0 = time.monotonic()
    r = H.run_cmd(cmd, env=env, cwd=os.path.join(runner.prefix, "drive_c"), timeout=120, check=False,
                  what="reg delete")
    wall = (time.monotonic() - t0) * 1000
    if r.returncode != 0:
        raise H.HarnessError(f"reg delete {key} /reg:{view} exited {r.returncode}")
    start = end = None
    for line in r.stderr.decode("latin-1").splitlines():
        m = _RELAY_T.match(line)
        if not m:
            continue
        ms = int(m.group(1)) * 1000 + int(m.group(2))
        if m.group(3) == "Call" and m.group(4) == "RegDeleteTreeW" and start is None:
            start = ms
        if m.group(3) == "Ret " and m.group(4) == "RegDeleteKeyW":
            end = ms
    if start is None or end is None:
        raise H.HarnessError("reg.exe relay trace without RegDeleteTreeW/RegDeleteKeyW")
    return end - start, wall


_REQUEST = re.compile(r"^[0-9a-f]{4}: ([a-z_]+)\( ", re.M)


def count_requests(trace):
    """{request name: count} of a WINEDEBUG=+server trace (requests, not replies)."""
    counts = {}
    for name in _REQUEST.findall(trace):
        counts[name] = counts.get(name, 0) + 1
    return counts


def make_request_hooks(shape):
    """Hooks for one run with the prefix's wineserver tracing every request
    (wineserver -d1 writes the trace to its own stderr: a file of ours)."""
    tree_plant, _, nkeys = make_delete_hooks(shape, reg_first=False)

    def trace_size(runner):
        return os.path.getsize(runner.server_trace)

    def segment(runner, start, end):
        with open(runner.server_trace, "rb") as f:
            f.seek(start)
            return count_requests(f.read(end - start).decode("latin-1"))

    def plant(runner):
        tree_plant(runner)
        # The harness started the server untraced; start it again traced.
        # The registry is saved when the server stops, so the planting is
        # read back once more afterwards.
        H.wineserver_kill(runner.prefix)
        runner.server_trace = os.path.join(runner.result.work, "server.txt")
        with open(runner.server_trace, "wb") as err:
            subprocess.run(["wineserver", "-p", "-d1"], env=runner.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=err, timeout=30, check=True,
                           start_new_session=True)
        runner.wine("rundll32.exe", "user32.dll,GetDesktopWindow", what="rundll32 (desktop start)")
        for root in ROOTS.values():
            n = count_keys(runner, root)
            if n != nkeys:
                raise H.HarnessError(f"planting: {root} holds {n} keys after the server restart")
        runner.trace_marks = [trace_size(runner)]

    def split_by_log_open(runner, start, end):
        """The tool's requests cut at each open of the log file (one per message)."""
        with open(runner.server_trace, "rb") as f:
            f.seek(start)
            text = f.read(end - start).decode("latin-1")
        per_line = [{}]
        for m in _REQUEST.finditer(text):
            name = m.group(1)
            if name == "create_file":
                eol = text.find("\n", m.end())
                if H.LOG_NAME in text[m.end():eol if eol >= 0 else len(text)]:
                    per_line.append({})
            per_line[-1][name] = per_line[-1].get(name, 0) + 1
        return per_line  # per_line[k + 1]: from the k-th open to the next

    def after(runner):
        d = runner.data
        mark = trace_size(runner)
        d["tool_requests"] = segment(runner, runner.trace_marks[0], mark)
        lines = log_lines(runner.result.log or b"")
        per_open = split_by_log_open(runner, runner.trace_marks[0], mark)
        # Each message is one line, except a [GetFolderPath] line: its label
        # and its outcome are two messages.
        first_open = []
        for line in lines:
            first_open.append(len(first_open) + sum(1 for l in lines[:len(first_open)]
                                                    if l.startswith(b"[GetFolderPath]")))
        opens = len(lines) + sum(1 for l in lines if l.startswith(b"[GetFolderPath]"))
        if len(per_open) - 1 != opens:
            runner.result.errors.append(f"{len(per_open) - 1} log opens for {opens} log messages")
            return
        pos = {b[0]: i for i, l in enumerate(lines) for b in [banner_of(l)] if b}
        for view, (ask, nxt) in ((64, (13, 14)), (32, (16, 17))):
            total = {}
            # From the open writing the IDYES line to the one writing the next banner.
            for k in range(first_open[pos[ask] + 1], first_open[pos[nxt]]):
                for name, n in per_open[k + 1].items():
                    total[name] = total.get(name, 0) + n
            if total.get("delete_key", 0) != nkeys:
                runner.result.errors.append(f"step #{ask}: {total.get('delete_key', 0)} delete_key requests "
                                            f"in the deletion window, {nkeys} keys")
            d[f"tool{view}_requests"] = total
        for view in (64, 32):
            cmd = ["wine", "reg", "delete", r"HKLM\SOFTWARE\TAVOREF", "/f"] + (["/reg:32"] if view == 32 else [])
            r = runner.wine(*cmd[1:], timeout=300, check=False, what="reg delete (traced server)")
            if r.returncode != 0:
                raise H.HarnessError(f"reg delete /reg:{view} exited {r.returncode}")
            end = trace_size(runner)
            d[f"reg{view}_requests"] = segment(runner, mark, end)
            mark = end
        for root in ROOTS.values():
            if count_keys(runner, root) != 0:
                runner.result.errors.append(f"{root} still exists after the run")

    return plant, after, nkeys


def delete_scenario(shape):
    return {"name": f"bench_delete_{shape}", "relay_include": ("advapi32.RegDeleteTreeW", "advapi32.RegDeleteKeyW"),
            "dialogs": [{"answer": "Return"}, {"answer": "y"}, {"answer": "y"}, {"answer": "Return"}]}


def make_delete_hooks(shape, reg_first):
    nkeys = len(shape_keys("X", shape))

    def run_reg(runner):
        d = runner.data
        for view in (64, 32):
            d[f"reg{view}_ms"], d[f"reg{view}_wall_ms"] = reg_delete(runner, view)

    def plant(runner):
        hdir = os.path.join(runner.prefix, "drive_c", "tavo-harness")
        write_tree_reg(os.path.join(hdir, "tree.reg"), shape)
        with runner.timed("tree_import"):
            runner.wine("regedit", "/S", r"C:\tavo-harness\tree.reg", timeout=300, what="regedit /S tree.reg")
        for name, root in ROOTS.items():
            n = count_keys(runner, root)
            if n != nkeys:
                raise H.HarnessError(f"planting: {root} holds {n} keys, wanted {nkeys}")
        if reg_first:
            run_reg(runner)

    def after(runner):
        if not reg_first:
            run_reg(runner)
        for name, root in ROOTS.items():
            if count_keys(runner, root) != 0:
                runner.result.errors.append(f"{root} still exists after the run")

    return plant, after, nkeys


def analyse_delete(log, watch_lines, nkeys):
    """Deletion figures of the tool for both views from one run."""
    lines = log_lines(log)
    d = {}
    if not (len(watch_lines) == len(lines) and all(a[1] == b for a, b in zip(watch_lines, lines))):
        return {"error": "watcher lines do not match the log"}
    bans = banner_ms(lines)
    pos = {}
    for i, l in enumerate(lines):
        b = banner_of(l)
        if b:
            pos[b[0]] = i
    bms = dict(bans)
    for view, (ask, nxt) in ((64, (13, 14)), (32, (16, 17))):
        if ask not in pos or nxt not in pos:
            return {"error": f"banner #{ask} or #{nxt} missing"}
        body = lines[pos[ask] + 1: pos[nxt]]
        deleted = sum(1 for l in body if l.startswith(DELETE_LINE))
        if body[:1] != [CONFIRM + b"IDYES"] or deleted != nkeys or any(b"ERROR" in l for l in body):
            return {"error": f"step #{ask}: {deleted} keys deleted of {nkeys}, or an error logged"}
        # Host clock: the IDYES line is written as the box closes, the next
        # banner right after the last key went.
        t_yes = watch_lines[pos[ask] + 1][0]
        t_next = watch_lines[pos[nxt]][0]
        d[f"tool{view}_ms"] = (t_next - t_yes) * 1000
        # Log clock only: banner to banner, answering included.
        d[f"tool{view}_banner_gap_ms"] = bms[nxt] - bms[ask]
    return d


# ---------------------------------------------------------------------------
# Statistics and the summary

def stats(values):
    v = [x for x in values if x is not None]
    if not v:
        return None
    return {"n": len(v), "median": statistics.median(v), "min": min(v), "max": max(v)}


def fmt(s, unit="ms", digits=0):
    if not s:
        return "no data"
    f = f"{{:.{digits}f}}"
    return f"{f.format(s['median'])} {unit} (min {f.format(s['min'])}, max {f.format(s['max'])}, n={s['n']})"


def summarize(records):
    out, js = [], {}
    ok = [r for r in records if not r.get("errors")]
    bad = [r for r in records if r.get("errors")]
    if bad:
        out.append(f"failed runs (left out): {len(bad)}")
        for r in bad:
            out.append(f"  {r['part']} {r.get('case')} #{r.get('i')}: {'; '.join(r['errors'])[:300]}")
        out.append("")

    whole = [r for r in ok if r["part"] == "whole"]
    if whole:
        out.append("== whole run, #1 banner to #25 banner ==")
        for case in ("empty", "full"):
            rs = [r for r in whole if r["case"] == case]
            if not rs:
                continue
            keys = ("total_ms", "log_dialog_intervals_ms", "log_work_intervals_ms", "host_total_ms",
                    "host_answer_ms", "host_work_ms")
            js[f"whole_{case}"] = {k: stats([r.get(k) for r in rs]) for k in keys}
            each = [w for r in rs for w in r.get("host_answer_each_ms", [])]
            js[f"whole_{case}"]["answer_each_ms"] = stats(each)
            js[f"whole_{case}"]["questions"] = rs[0].get("questions")
            s = js[f"whole_{case}"]
            out.append(f"{case} machine ({s['questions']} questions answered, plus the closing dialog):")
            out.append(f"  #1..#25 (log clock)               {fmt(s['total_ms'])}")
            out.append(f"    banner intervals with a dialog  {fmt(s['log_dialog_intervals_ms'])}")
            out.append(f"    banner intervals without        {fmt(s['log_work_intervals_ms'])}")
            out.append(f"  #1..#25 (host clock, watcher)     {fmt(s['host_total_ms'])}")
            out.append(f"    waiting for answers             {fmt(s['host_answer_ms'])}")
            out.append(f"    the rest (the tool working)     {fmt(s['host_work_ms'])}")
            out.append(f"    one answer                      {fmt(s['answer_each_ms'])}")
            # Where the working time goes: the gaps between two log lines that
            # are not an answer, by the line that ended them (median over runs).
            lines = log_lines(M.log_bytes(golden_lines_of(case)))
            gaps = {}
            for r in rs:
                t = r.get("host_line_ms") or []
                if len(t) != len(lines):
                    continue
                for i in range(1, len(t)):
                    if lines[i].startswith(CONFIRM) or i == len(t) - 1:
                        continue
                    gaps.setdefault(i, []).append(t[i] - t[i - 1])
            top = [kv for kv in sorted(gaps.items(), key=lambda kv: -statistics.median(kv[1]))[:5]
                   if statistics.median(kv[1]) > 0]
            js[f"whole_{case}"]["largest_work_gaps"] = [
                {"line": lines[i].decode("cp932", "replace"), "median_ms": statistics.median(v)} for i, v in top]
            out.append("    largest working gaps (median ms, the line written at the end of the gap):"
                       + ("" if top else " none of 1 ms or more"))
            for i, v in top:
                text = lines[i].decode("cp932", "replace")
                out.append(f"      {statistics.median(v):6.1f}  line {i + 1}: {text[:70]}")
        out.append("")

    mem = [r for r in ok if r.get("mem")]
    if mem:
        out.append("== peak memory of the Wine process running the program (VmHWM) ==")
        js["memory"] = {}
        for case in ("empty", "full", "baseline"):
            rs = [r for r in mem if r["case"] == case]
            if not rs:
                continue
            s = {k: stats([r["mem"].get(k) for r in rs]) for k in ("VmHWM", "VmPeak")}
            js["memory"][case] = s
            out.append(f"  {case:9s} VmHWM {fmt(s['VmHWM'], 'kB')}; VmPeak {fmt(s['VmPeak'], 'kB')}")
        # What the tool has resident beyond a bare message-box program: the
        # median resident kB per mapping over the runs, full minus baseline.
        med = {}
        for case in ("full", "baseline"):
            maps = [r["rss_by_mapping"] for r in mem if r["case"] == case and r.get("rss_by_mapping")]
            names = {k for m in maps for k in m}
            med[case] = {k: statistics.median([m.get(k, 0) for m in maps]) for k in names} if maps else {}
        if med["full"] and med["baseline"]:
            diff = {k: med["full"].get(k, 0) - med["baseline"].get(k, 0)
                    for k in set(med["full"]) | set(med["baseline"])}
            js["memory"]["resident_kb_full_minus_baseline"] = diff
            js["memory"]["resident_kb_total"] = {c: sum(m.values()) for c, m in med.items()}
            out.append(f"  resident at the fullest look (smaps, medians): full {sum(med['full'].values()):.0f} kB, "
                       f"baseline {sum(med['baseline'].values()):.0f} kB; largest differences:")
            for k, v in sorted(diff.items(), key=lambda kv: -abs(kv[1]))[:10]:
                out.append(f"    {v:+7.0f} kB  {k}")
        out.append("")

    dele = [r for r in ok if r["part"] == "delete"]
    if dele:
        out.append("== recursive deletion: the tool against reg.exe, same prefix, same run ==")
        js["delete"] = {}
        for shape in SHAPES:
            rs = [r for r in dele if r["case"] == shape]
            if not rs:
                continue
            s = {k: stats([r.get(k) for r in rs]) for k in (
                "tool64_ms", "tool32_ms", "reg64_ms", "reg32_ms", "reg64_wall_ms", "reg32_wall_ms",
                "tool64_banner_gap_ms", "tool32_banner_gap_ms")}
            s["keys"] = rs[0]["keys"]
            js["delete"][shape] = s
            out.append(f"{shape} ({s['keys']} keys per tree):")
            for v in (64, 32):
                t, g = s[f"tool{v}_ms"], s[f"reg{v}_ms"]
                ratio = t["median"] / g["median"] if t and g and g["median"] else None
                s[f"ratio{v}"] = ratio
                # Tool and reg.exe of one run shared the prefix and the moment:
                # the ratio per run, and the ratio of the fastest runs, suffer
                # less from a busy machine than the ratio of medians.
                pairs = [r[f"tool{v}_ms"] / r[f"reg{v}_ms"] for r in rs
                         if r.get(f"reg{v}_ms") and r.get(f"tool{v}_ms") is not None]
                s[f"paired_ratio{v}"] = stats(pairs)
                s[f"min_ratio{v}"] = t["min"] / g["min"] if t and g and g["min"] else None
                below = " (below the watcher's 1 ms step)" if t and t["max"] < 1 else ""
                out.append(f"  {v}-bit view  tool {fmt(t, digits=1)}{below}")
                out.append(f"               reg.exe {fmt(g, digits=1)}  (wall incl. start: {fmt(s[f'reg{v}_wall_ms'])})")
                out.append(f"               ratio of medians tool/reg.exe: "
                           f"{'%.1f' % ratio if ratio else 'n/a'}"
                           + (f"; per key: tool {t['median'] * 1000 / s['keys']:.0f} us" if t else ""))
                if s[f"paired_ratio{v}"] and s[f"min_ratio{v}"]:
                    out.append(f"               per-run ratio {fmt(s[f'paired_ratio{v}'], 'x', 1)}; "
                               f"ratio of minimums {s[f'min_ratio{v}']:.1f}")
                out.append(f"               banner gap #{13 if v == 64 else 16}..#{14 if v == 64 else 17} "
                           f"(answer included) {fmt(s[f'tool{v}_banner_gap_ms'])}")
        ctl = js["delete"].get("single")
        if ctl:
            out.append("banner method (gap minus the single-key control's gap, medians):")
            for shape in ("wide", "chain"):
                s = js["delete"].get(shape)
                if not s:
                    continue
                for v in (64, 32):
                    g, c = s[f"tool{v}_banner_gap_ms"], ctl[f"tool{v}_banner_gap_ms"]
                    if g and c:
                        est = g["median"] - c["median"]
                        s[f"banner_estimate{v}_ms"] = est
                        out.append(f"  {shape} {v}-bit: {g['median']:.0f} - {c['median']:.0f} = {est:.0f} ms")
        out.append("")
    req = {r["case"]: r for r in ok if r["part"] == "requests"}
    if "single" in req and "wide" in req:
        out.append("== wineserver requests per deleted key (wide tree minus single key, +server trace) ==")
        extra = req["wide"]["keys"] - req["single"]["keys"]
        per = {}
        # The tool deleted both views in one run; reg.exe one view per run.
        for who, key, n in (("tool64", "tool64_requests", extra), ("tool32", "tool32_requests", extra),
                            ("reg64", "reg64_requests", extra), ("reg32", "reg32_requests", extra)):
            a, b = req["wide"][key], req["single"][key]
            per[who] = {name: (a.get(name, 0) - b.get(name, 0)) / n for name in set(a) | set(b)}
        js["requests_per_key"] = per
        cols = ("tool64", "tool32", "reg64", "reg32")
        names = sorted({k for p in per.values() for k, v in p.items() if abs(v) >= 0.05},
                       key=lambda k: -per["tool64"].get(k, 0))
        out.append(f"  {'request':22s}" + "".join(f" {c:>7s}" for c in cols))
        for k in names:
            out.append(f"  {k:22s}" + "".join(f" {per[c].get(k, 0):7.2f}" for c in cols))
        tot = {w: sum(v for v in p.values()) for w, p in per.items()}
        js["requests_per_key_total"] = tot
        out.append(f"  {'total':22s}" + "".join(f" {tot[c]:7.2f}" for c in cols))
        out.append("")
    return "\n".join(out) + "\n", js


# ---------------------------------------------------------------------------

@contextlib.contextmanager
def start_display(tries=3):
    """The harness's Xvfb + openbox; started again when openbox gives up at
    once (seen once here: "openbox exited with 1", fine on the next try)."""
    for attempt in range(1, tries + 1):
        xs = H.XSession()
        try:
            xs.start()  # stops what it started when it fails
            break
        except H.SetupError as e:
            if attempt == tries:
                raise
            print(f"X display did not start ({e}); trying again", file=sys.stderr)
            time.sleep(2)
    try:
        yield xs
    finally:
        xs.stop()


def build_baseline(out_dir):
    exe = os.path.join(out_dir, "bin", "msgbox_baseline.exe")
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-static", "-mwindows", "-o", exe,
                    os.path.join(HERE, "msgbox_baseline.c")], check=True, timeout=120)
    return exe


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--parts", default="whole,delete,memory,requests")
    ap.add_argument("--out", default=DEFAULT_OUT)
    ap.add_argument("--exe", default=DEFAULT_EXE)
    ap.add_argument("--summarize-only", action="store_true", help="redo the summary from runs.jsonl")
    ap.add_argument("--watch-period", type=float, default=0.001,
                    help="seconds between two looks at the log (the host-clock resolution)")
    a = ap.parse_args(argv)
    # run_all.sh bounds this script with timeout(1): unwind on SIGTERM so the
    # prefix copy, Wine and the private X display are cleaned up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    parts = set(a.parts.split(","))
    BenchRunner.watch_period = a.watch_period
    out_dir = os.path.join(os.path.abspath(a.out), "wine")
    os.makedirs(out_dir, exist_ok=True)
    raw_path = os.path.join(out_dir, "runs.jsonl")

    if not a.summarize_only:
        exe = os.path.abspath(a.exe)
        if not os.path.isfile(exe):
            print(f"no exe at {exe}: cmake --preset windows-x64 && cmake --build --preset windows-x64",
                  file=sys.stderr)
            return 2
        H.require_tools()
        H.ensure_ja_locale()
        setup = H.wine_setup("win64", H.pe_machine(exe))
        template = H.ensure_template(setup, log=lambda m: print(m, file=sys.stderr))
        workdir = H.default_workdir()
        baseline = build_baseline(os.path.dirname(out_dir)) if "memory" in parts else None
        with open(raw_path, "w") as raw, start_display() as xs:
            def record(rec):
                raw.write(json.dumps(rec) + "\n")
                raw.flush()
                state = "ok" if not rec.get("errors") else "FAILED: " + "; ".join(rec["errors"])[:200]
                print(f"{rec['part']:6s} {rec['case']:8s} {rec['i']:2d} {state}", flush=True)

            for i in range(a.runs):
                if "whole" in parts or "memory" in parts:
                    for case, scen, expect in whole_scenarios():
                        runner, res = run_one(scen, exe, setup, template, xs, workdir, expect_log=expect)
                        rec = {"part": "whole", "case": case, "i": i, "errors": list(res.errors),
                               "timings": res.timings, "mem": runner.watch.mem if runner.watch else None,
                               "mem_samples": runner.watch.mem_samples if runner.watch else 0,
                               "rss_by_mapping": runner.watch.rss_by_mapping if runner.watch else None}
                        if not res.errors:
                            d = analyse_whole(res.log, runner.watch.lines)
                            if "error" in d:
                                rec["errors"].append(d.pop("error"))
                            rec.update(d)
                        if i == 0 and res.log:
                            with open(os.path.join(out_dir, f"sample_{case}.log"), "wb") as f:
                                f.write(res.log)
                        record(rec)
                if "memory" in parts:
                    scen = {"name": "bench_baseline", "exe_at": r"C:\TAVOTest\msgbox_baseline.exe",
                            "dialogs": [{"answer": "Return"}]}
                    runner = BenchRunner(scen, baseline, setup, template, xs, workdir, exe_name="msgbox_baseline.exe")
                    # Its box is up for a fraction of a second: look at the mappings often.
                    runner.smaps_period = 0.02
                    res = runner.run()
                    record({"part": "memory", "case": "baseline", "i": i, "errors": list(res.errors),
                            "mem": runner.watch.mem if runner.watch else None,
                            "rss_by_mapping": runner.watch.rss_by_mapping if runner.watch else None})
                if "delete" in parts:
                    for shape in SHAPES:
                        # Every other run reg.exe goes first, so neither side
                        # always meets the registry the other left.
                        reg_first = i % 2 == 1
                        plant, after, nkeys = make_delete_hooks(shape, reg_first)
                        runner, res = run_one(delete_scenario(shape), exe, setup, template, xs, workdir,
                                              extra_plant=plant, after_run=after)
                        rec = {"part": "delete", "case": shape, "i": i, "keys": nkeys, "reg_first": reg_first,
                               "errors": list(res.errors), "timings": res.timings}
                        rec.update(runner.data)
                        if i == 0 and res.log:
                            with open(os.path.join(out_dir, f"sample_delete_{shape}.log"), "wb") as f:
                                f.write(res.log)
                        if not res.errors:
                            d = analyse_delete(res.log, runner.watch.lines, nkeys)
                            if "error" in d:
                                rec["errors"].append(d.pop("error"))
                            rec.update(d)
                        record(rec)

            if "requests" in parts:
                # Deterministic enough to need one run per shape: the
                # difference between the wide tree and the single key is
                # what deleting 2,020 more keys per view costs in requests.
                for shape in ("single", "wide"):
                    plant, after, nkeys = make_request_hooks(shape)
                    runner, res = run_one(delete_scenario(shape), exe, setup, template, xs, workdir,
                                          extra_plant=plant, after_run=after)
                    rec = {"part": "requests", "case": shape, "i": 0, "keys": nkeys,
                           "errors": list(res.errors), "timings": res.timings}
                    rec.update(runner.data)
                    if not res.errors:
                        d = analyse_delete(res.log, runner.watch.lines, nkeys)
                        if "error" in d:
                            rec["errors"].append(d.pop("error"))
                    record(rec)

    with open(raw_path) as f:
        records = [json.loads(l) for l in f if l.strip()]
    text, js = summarize(records)
    with open(os.path.join(out_dir, "summary.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(out_dir, "summary.json"), "w") as f:
        json.dump(js, f, indent=1)
    print(text)
    wanted = {"whole": "whole", "delete": "delete", "memory": "memory", "requests": "requests"}
    missing = [p for p in parts if p in wanted and not any(
        r["part"] == p and not r.get("errors") for r in records)]
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

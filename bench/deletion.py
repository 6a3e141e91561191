r"""Parts "delete" and "requests" of the Wine benchmarks: the tool deleting
the management key (HKLM\SOFTWARE\TAVO, step #13, and its Wow6432Node twin,
step #16) against Wine's reg.exe deleting an identical tree planted in the
same prefix (HKLM\SOFTWARE\TAVOREF and its twin).

TreeDeletion and RequestCount give the runner its plant and after hooks;
what they measure lands in their data.
"""

import os
import re
import time

from common import LOG_NAME, HarnessError, run_cmd
from logsteps import CONFIRM, DELETE_LINE, FOLDER_PATH, deletion_windows, log_lines
from regfile import write_reg_file
from wineprefix import wineserver_kill

REF_KEY = r"HKLM\SOFTWARE\TAVOREF"
ROOTS = {
    "tool64": r"HKLM\SOFTWARE\TAVO",
    "tool32": r"HKLM\SOFTWARE\Wow6432Node\TAVO",
    "reg64": REF_KEY,
    "reg32": r"HKLM\SOFTWARE\Wow6432Node\TAVOREF",
}
# "wide": 20 x 10 x 9 keys below the root; "chain": 200 keys deep; "single":
# the root alone, the control for the answering time inside a step.
SHAPES = {"wide": ("tree", (20, 10, 9)), "chain": ("chain", 200), "single": ("tree", ())}
VIEWS = (64, 32)


def delete_scenario(shape):
    """Start, Yes at step #13, Yes at step #16, closing; reg.exe's relay trace
    holds only the two calls its deletion is timed by."""
    return {"name": f"bench_delete_{shape}", "relay_include": ("advapi32.RegDeleteTreeW", "advapi32.RegDeleteKeyW"),
            "dialogs": [{"answer": "Return"}, {"answer": "y"}, {"answer": "y"}, {"answer": "Return"}]}


def shape_keys(root, shape):
    """Every key of a tree of shape under root, the root first."""
    kind, arg = SHAPES[shape]
    if kind == "chain":
        return [root + "\\c" * depth for depth in range(arg + 1)]
    keys, level = [root], [root]
    for width in arg:
        level = [f"{p}\\k{j:02d}" for p in level for j in range(width)]
        keys += level
    return keys


def count_keys(runner, root):
    got = runner.export_key(root)
    return 0 if got is None else len(got)


def reg_delete(runner, view, debug="-all"):
    """Wine's reg.exe, on the prefix's own loader, deleting the reference tree in view."""
    args = ["reg", "delete", REF_KEY, "/f"] + (["/reg:32"] if view == 32 else [])
    r = run_cmd([runner.setup.tool, *args], env=runner.env(debug), cwd=os.path.join(runner.prefix, "drive_c"),
                timeout=300, check=False, what=" ".join(args))
    if r.returncode != 0:
        raise HarnessError(f"{' '.join(args)} exited {r.returncode}")
    return r


_RELAY_T = re.compile(r"^(\d+)\.(\d{3}):[0-9a-f:]+:(Call|Ret ) advapi32\.(RegDeleteTreeW|RegDeleteKeyW)\(")


def timed_reg_delete(runner, view):
    """(ms inside reg.exe, wall ms) of its deletion of the reference tree: from the
    call of RegDeleteTreeW to the return of RegDeleteKeyW in its relay trace."""
    t0 = time.monotonic()
    r = reg_delete(runner, view, "-all,+relay,+timestamp")
    wall = (time.monotonic() - t0) * 1000
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
        raise HarnessError("reg.exe relay trace without RegDeleteTreeW/RegDeleteKeyW")
    return end - start, wall


class TreeDeletion:
    """The tree of shape under all four roots: planted with regedit before the
    run, deleted by the tool in the run and by reg.exe before or after it
    (reg_first: before), all four gone at the end."""

    def __init__(self, shape, reg_first=False):
        self.shape = shape
        self.reg_first = reg_first
        self.nkeys = len(shape_keys("X", shape))
        self.data = {}

    def plant(self, runner):
        tree = {key: {"v": 1} for root in ROOTS.values() for key in shape_keys(root, self.shape)}
        write_reg_file(os.path.join(runner.prefix, "drive_c", "tavo-harness", "tree.reg"), tree)
        with runner.timed("tree_import"):
            runner.wine("regedit", "/S", r"C:\tavo-harness\tree.reg", timeout=300, what="regedit /S tree.reg")
        self.check_planted(runner, "")
        if self.reg_first:
            self.run_reg(runner)

    def check_planted(self, runner, when):
        for root in ROOTS.values():
            n = count_keys(runner, root)
            if n != self.nkeys:
                raise HarnessError(f"planting: {root} holds {n} keys{when}, wanted {self.nkeys}")

    def run_reg(self, runner):
        for view in VIEWS:
            self.data[f"reg{view}_ms"], self.data[f"reg{view}_wall_ms"] = timed_reg_delete(runner, view)

    def after(self, runner):
        if not self.reg_first:
            self.run_reg(runner)
        self.check_gone(runner)

    @staticmethod
    def check_gone(runner):
        for root in ROOTS.values():
            if count_keys(runner, root) != 0:
                runner.result.errors.append(f"{root} still exists after the run")


def analyse_delete(log, watch_lines, nkeys):
    """Deletion figures of the tool in both views from one run."""
    lines = log_lines(log)
    if [w[1] for w in watch_lines] != lines:
        return {"error": "watcher lines do not match the log"}
    try:
        windows = deletion_windows(lines)
    except HarnessError as e:
        return {"error": str(e)}
    d = {}
    for view, w in windows.items():
        body = lines[w.start:w.end]
        deleted = sum(1 for l in body if l.startswith(DELETE_LINE))
        if body[:1] != [CONFIRM + b"IDYES"] or deleted != nkeys or any(b"ERROR" in l for l in body):
            return {"error": f"step #{w.step}: {deleted} keys deleted of {nkeys}, or an error logged"}
        # Host clock: the IDYES line is written as the box closes, the next
        # banner right after the last key went.
        d[f"tool{view}_ms"] = (watch_lines[w.end][0] - watch_lines[w.start][0]) * 1000
        # Log clock only: banner to banner, answering included.
        d[f"tool{view}_banner_gap_ms"] = w.gap_ms
    return d


_REQUEST = re.compile(r"^[0-9a-f]{4}: ([a-z_]+)\( ", re.M)


def count_requests(trace):
    """{request name: count} of a wineserver -d1 trace (requests, not replies)."""
    counts = {}
    for name in _REQUEST.findall(trace):
        counts[name] = counts.get(name, 0) + 1
    return counts


def add_counts(total, counts):
    for name, n in counts.items():
        total[name] = total.get(name, 0) + n
    return total


class RequestCount(TreeDeletion):
    """A TreeDeletion with the prefix's wineserver tracing every request
    (wineserver -d1 writes the trace to its stderr, a file of ours): the
    requests of the tool in each view's deletion window and of reg.exe."""

    def __init__(self, shape):
        super().__init__(shape, reg_first=False)
        self.trace = None
        self.mark = 0

    def plant(self, runner):
        super().plant(runner)
        # The runner started the server untraced: start it again traced. The
        # registry is saved when the server stops, so the planting is read
        # back once more afterwards.
        wineserver_kill(runner.prefix)
        self.trace = os.path.join(runner.result.work, "server.txt")
        runner.start_wine(("-d1",), self.trace)
        self.check_planted(runner, " after the server restart")
        self.mark = os.path.getsize(self.trace)

    def read_trace(self, start, end):
        with open(self.trace, "rb") as f:
            f.seek(start)
            return f.read(end - start).decode("latin-1")

    @staticmethod
    def split_by_log_open(text):
        """The requests cut at each open of the log file (one per message):
        [k + 1] holds those from the k-th open to the next."""
        per_open = [{}]
        for m in _REQUEST.finditer(text):
            name = m.group(1)
            if name == "create_file":
                eol = text.find("\n", m.end())
                if LOG_NAME in text[m.end():eol if eol >= 0 else len(text)]:
                    per_open.append({})
            add_counts(per_open[-1], {name: 1})
        return per_open

    def after(self, runner):
        d = self.data
        end = os.path.getsize(self.trace)
        text = self.read_trace(self.mark, end)
        d["tool_requests"] = count_requests(text)
        per_open = self.split_by_log_open(text)
        # Each message is one open of the log; a [GetFolderPath] line is two
        # messages (its label and its outcome).
        lines = log_lines(runner.result.log)
        first_open, opens = [], 0
        for line in lines:
            first_open.append(opens)
            opens += 2 if line.startswith(FOLDER_PATH) else 1
        if len(per_open) - 1 != opens:
            runner.result.errors.append(f"{len(per_open) - 1} log opens for {opens} log messages")
            return
        for view, w in deletion_windows(lines).items():
            # From the open writing the IDYES line to the one writing the next banner.
            total = {}
            for k in range(first_open[w.start], first_open[w.end]):
                add_counts(total, per_open[k + 1])
            if total.get("delete_key", 0) != self.nkeys:
                runner.result.errors.append(f"step #{w.step}: {total.get('delete_key', 0)} delete_key requests "
                                            f"in the deletion window, {self.nkeys} keys")
            d[f"tool{view}_requests"] = total
        for view in VIEWS:
            reg_delete(runner, view)
            mark, end = end, os.path.getsize(self.trace)
            d[f"reg{view}_requests"] = count_requests(self.read_trace(mark, end))
        self.check_gone(runner)

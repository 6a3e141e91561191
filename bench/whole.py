"""Part "whole" of the Wine benchmarks: a run answered at once from the
start dialog to the closing one, on an empty machine and on the complete demo
machine, timed from the "#1" banner to the "#25" banner and split into the
time spent waiting for answers and the rest."""

import tavo_machine as M
from logsteps import CONFIRM, banners, log_lines, ms_between

# The expected log of each case: (golden file, whether it is one of the host tests').
GOLDEN = {"empty": ("empty_64.log", True), "full": ("full_yes.log", False)}


def golden(case):
    """The expected log of a case, as golden lines."""
    name, host = GOLDEN[case]
    return M.golden_lines(name, host=host)


def answered_at_once(lines):
    """The dialogs of a run logging lines: the start, Yes to every question, the closing."""
    return [{"answer": "Return"}] + [{"answer": "y"} for _ in M.questions(lines)] + [{"answer": "Return"}]


def whole_scenarios():
    """[(case, scenario)]; each scenario's log is the case's expected log."""
    registry, folders, files = M.full_machine()
    machines = {
        "empty": {},
        # Wine's own shell, as the figures in docs/performance.md were taken:
        # each deletion fails at once instead of going through the test
        # stand-in, so the planted files stay where they are.
        "full": {"registry": registry, "folders": folders, "files": files, "fileop": "wine"},
    }
    out = []
    for case, machine in machines.items():
        lines = golden(case)
        out.append((case, {"name": f"bench_{case}", **machine, "dialogs": answered_at_once(lines),
                           "log": M.log_bytes(lines)}))
    return out


def analyse_whole(log, watch_lines):
    """Figures of one whole run from its log and the watcher's line times."""
    lines = log_lines(log)
    bans = banners(lines)
    if not bans or bans[0][1] != 1 or bans[-1][1] != 25:
        return {"error": "log does not run from #1 to #25"}
    t_first = bans[0][2]
    d = {"banners": [(step, ms_between(t_first, t)) for _, step, t in bans],
         "total_ms": ms_between(t_first, bans[-1][2])}
    # Log clock: a banner interval holding a question (or, before #25, the
    # closing dialog) counts as a dialog interval; the others are pure work.
    dialog_ms = work_ms = 0
    for k, ((i, _, t), (j, _, u)) in enumerate(zip(bans, bans[1:])):
        if any(l.startswith(CONFIRM) for l in lines[i + 1:j]) or k == len(bans) - 2:
            dialog_ms += ms_between(t, u)
        else:
            work_ms += ms_between(t, u)
    d["log_dialog_intervals_ms"] = dialog_ms
    d["log_work_intervals_ms"] = work_ms
    d["questions"] = sum(1 for l in lines if l.startswith(CONFIRM))
    # Host clock: each answered box is the time from the line written just
    # before it was shown to the line written just after it closed.
    if [w[1] for w in watch_lines] != lines:
        d["error"] = "watcher lines do not match the log"
        return d
    t = [w[0] for w in watch_lines]
    waits = [(t[i] - t[i - 1]) * 1000 for i, l in enumerate(lines)
             if l.startswith(CONFIRM) or i == len(lines) - 1]
    d["host_line_ms"] = [round((x - t[0]) * 1000, 1) for x in t]
    d["host_total_ms"] = (t[-1] - t[0]) * 1000
    d["host_answer_ms"] = sum(waits)
    d["host_answer_each_ms"] = [round(w, 1) for w in waits]
    d["host_work_ms"] = d["host_total_ms"] - d["host_answer_ms"]
    return d


def work_gaps(case, runs):
    """The gaps between two log lines that are not an answer, by the line that
    ended them, over runs: [(line index, line text, [ms per run])]."""
    lines = log_lines(M.log_bytes(golden(case)))
    gaps = {}
    for r in runs:
        t = r.get("host_line_ms") or []
        if len(t) != len(lines):
            continue
        for i in range(1, len(t)):
            if not (lines[i].startswith(CONFIRM) or i == len(t) - 1):
                gaps.setdefault(i, []).append(t[i] - t[i - 1])
    return [(i, lines[i].decode("cp932", "replace"), v) for i, v in sorted(gaps.items())]

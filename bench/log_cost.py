#!/usr/bin/python3
r"""Cost of one log message under Wine: open + append + close (what the tool
does for every message) against appending to a file kept open.

    bench/log_cost.py [--out DIR] [--messages N] [--rounds R]

Builds bench/logcost.c with

    x86_64-w64-mingw32-gcc -O2 -static -o DIR/bin/logcost.exe bench/logcost.c

copies the template prefix of the Wine scenario harness (wineprefix.prepare_session
of tests/wine: the same place and environment as the scenario runs,
LANG=ja_JP.UTF-8, WINEDEBUG=-all, each program on the loader the harness picks
for it), and runs it there twice:
  C:\TAVOTest   inside the copied prefix (tmpfs, as in the scenario runs)
  Z:\...        a folder under DIR on the repository's disk
Output: DIR/logcost/logcost-<where>.txt (the program's raw output) and
DIR/logcost/summary.txt / summary.json.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "wine"))

from common import run_cmd  # noqa: E402
from summary import write_summary  # noqa: E402
from wineprefix import prepare_session, wine_env, wineserver_kill  # noqa: E402


def parse(text):
    out = {}
    for line in text.splitlines():
        f = line.split()
        if f and f[0] == "median":
            out[f[1]] = {"median": float(f[2]), "min": float(f[4]), "max": float(f[6])}
    return out


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", default=os.path.join(REPO, "build", "bench"))
    ap.add_argument("--messages", type=int, default=10000)
    ap.add_argument("--rounds", type=int, default=11)
    a = ap.parse_args(argv)
    out = os.path.abspath(a.out)
    res_dir = os.path.join(out, "logcost")
    os.makedirs(os.path.join(out, "bin"), exist_ok=True)
    os.makedirs(res_dir, exist_ok=True)
    exe = os.path.join(out, "bin", "logcost.exe")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-static", "-Wall", "-Wextra", "-o", exe,
                    os.path.join(HERE, "logcost.c")], check=True, timeout=120)

    session = prepare_session("win64", exe, tools=("wineserver",), log=lambda m: print(m, file=sys.stderr))
    base = tempfile.mkdtemp(prefix="tavo-bench-logcost-", dir=session.workdir)
    prefix = os.path.join(base, "prefix")
    disk_dir = os.path.join(out, "logcost", "disk")
    os.makedirs(disk_dir, exist_ok=True)
    summary = {}
    try:
        run_cmd(["cp", "-a", session.template, prefix], timeout=120, what="copy template prefix")
        env = wine_env(prefix, arch=session.setup.arch)
        work = os.path.join(prefix, "drive_c", "TAVOTest")
        os.makedirs(work, exist_ok=True)
        shutil.copy2(exe, os.path.join(work, "logcost.exe"))
        run_cmd(["wineserver", "-p"], env=env, timeout=30)
        # A first Wine process brings up the prefix's services before timing.
        run_cmd([session.setup.tool, "cmd", "/c", "exit"], env=env, cwd=work, timeout=120, check=False)
        places = {"c_tmpfs": r"C:\TAVOTest", "z_disk": "Z:" + disk_dir.replace("/", "\\")}
        for name, where in places.items():
            r = run_cmd([session.setup.exe, r"C:\TAVOTest\logcost.exe", str(a.messages), where, str(a.rounds)],
                        env=env, cwd=work, timeout=600, check=False)
            text = r.stdout.decode("utf-8", "replace")
            with open(os.path.join(res_dir, f"logcost-{name}.txt"), "w") as f:
                f.write(text + r.stderr.decode("utf-8", "replace"))
            if r.returncode != 0:
                print(f"logcost.exe in {where} exited {r.returncode}:\n{text}", file=sys.stderr)
                return 1
            summary[name] = {"where": where, **parse(text)}
    finally:
        wineserver_kill(prefix)
        shutil.rmtree(base, ignore_errors=True)
        shutil.rmtree(disk_dir, ignore_errors=True)

    lines = [f"{a.messages} messages of 61 bytes per measurement, {a.rounds} rounds, medians in us per message"]
    for name, s in summary.items():
        lines.append(f"{s['where']}:")
        for mode in ("reopen", "kept_open", "kept_flush"):
            m = s[mode]
            lines.append(f"  {mode:10s} {m['median']:8.3f} us  (min {m['min']:.3f}, max {m['max']:.3f})")
        lines.append(f"  reopen / kept_open: {s['reopen']['median'] / s['kept_open']['median']:.0f}x; "
                     f"reopen - kept_flush: {s['reopen']['median'] - s['kept_flush']['median']:.1f} us")
    return write_summary(res_dir, lines, summary)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

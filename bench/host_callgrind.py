#!/usr/bin/python3
"""Instruction counts of whole runs through the simulated Windows (host build).

    bench/host_callgrind.py [--out DIR] [--no-build]

Builds the host tests without sanitizers into build/bench-host (valgrind and
ASan do not mix):

    cmake -S . -B build/bench-host -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVO_SANITIZE=OFF
    cmake --build build/bench-host

then runs existing whole-run tests under `valgrind --tool=callgrind`, each
twice (the counts must come out the same to be worth anything):

    RunTest.TwoRunsAppendToOneLog                 two runs on an empty 64-bit machine
    RunTest.FullYesLeavesOnlyWhatWasNotTheProducts one run on the full demo machine, all Yes

Each test is measured two ways: the whole process (GoogleTest and the
simulator's set-up included), and only inside WinMain
(--toggle-collect='WinMain*'), i.e. the tool's runs. Inside WinMain the Ir are
split at the seam of platform/os.h: the inclusive cost of the Os* functions is
the simulated Windows; the rest is the product's own code with the C runtime
it calls directly.

Output in DIR/host/ (default build/bench/host): the callgrind.out files,
callgrind_annotate listings, and summary.txt / summary.json. The test binary's
own exit status is checked (a failing test is not a measurement).
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from summary import write_summary  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
BUILD = os.path.join(REPO, "build", "bench-host")
BINARY = os.path.join(BUILD, "tests", "tavo_host_tests")
TESTS = {
    "RunTest.TwoRunsAppendToOneLog": "2 runs, empty machine",
    "RunTest.FullYesLeavesOnlyWhatWasNotTheProducts": "1 run, full machine, all Yes",
}
REPEATS = 2
TOP = 12


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, timeout=1800, **kw)


def build():
    run(["cmake", "-S", REPO, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DTAVO_SANITIZE=OFF"],
        stdout=subprocess.DEVNULL)
    run(["cmake", "--build", BUILD, "--target", "tavo_host_tests"], stdout=subprocess.DEVNULL)


def callgrind(test, out_file, winmain_only):
    cmd = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}"]
    if winmain_only:
        cmd.append("--toggle-collect=WinMain*")
    cmd += [BINARY, f"--gtest_filter={test}"]
    p = subprocess.run(cmd, capture_output=True, text=True, timeout=1800)
    if p.returncode != 0 or "[  PASSED  ] 1 test" not in p.stdout:
        raise SystemExit(f"{test} failed under valgrind (exit {p.returncode}):\n{p.stdout[-2000:]}\n{p.stderr[-2000:]}")
    m = re.search(r"Collected : (\d+)", p.stderr)
    return int(m.group(1))


def annotate(out_file, inclusive):
    p = run(["callgrind_annotate", f"--inclusive={'yes' if inclusive else 'no'}", "--threshold=100", out_file],
            capture_output=True, text=True)
    return p.stdout


_ROW = re.compile(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+(.*?):(.*) \[(.*)\]$")


def rows(listing):
    """[(Ir, function, object)] from a callgrind_annotate listing."""
    out = []
    for line in listing.splitlines():
        m = _ROW.match(line)
        if m:
            out.append((int(m.group(1).replace(",", "")), m.group(3), os.path.basename(m.group(4))))
    return out


def short(func):
    # "sim::detail::Split(std::__cxx11::basic_string<...> const&)" -> "sim::detail::Split(...)",
    # template arguments dropped: the listings have the full names.
    while True:
        shorter = re.sub(r"<[^<>]*>", "\x00", func)
        if shorter == func:
            break
        func = shorter
    func = func.replace("\x00", "<>")
    i = func.find("(")
    return func if i < 0 else func[:i] + "(...)" + func[func.rfind(")") + 1:]


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", default=os.path.join(REPO, "build", "bench"))
    ap.add_argument("--no-build", action="store_true")
    a = ap.parse_args(argv)
    out_dir = os.path.join(os.path.abspath(a.out), "host")
    os.makedirs(out_dir, exist_ok=True)
    if not a.no_build:
        build()

    summary, lines = {}, []
    for test, what in TESTS.items():
        name = test.split(".")[1]
        s = {"what": what, "process_ir": [], "winmain_ir": []}
        for k in range(1, REPEATS + 1):
            s["process_ir"].append(callgrind(test, os.path.join(out_dir, f"callgrind.{name}.process.{k}.out"), False))
            s["winmain_ir"].append(callgrind(test, os.path.join(out_dir, f"callgrind.{name}.winmain.{k}.out"), True))
        wm = os.path.join(out_dir, f"callgrind.{name}.winmain.1.out")
        excl, incl = annotate(wm, False), annotate(wm, True)
        for kind, text in (("exclusive", excl), ("inclusive", incl)):
            with open(os.path.join(out_dir, f"annotate.{name}.winmain.{kind}.txt"), "w") as f:
                f.write(text)
        total = s["winmain_ir"][0]
        # Os* are the seam to the simulated Windows; they never call one another.
        seam = sum(ir for ir, func, obj in rows(incl) if re.match(r"Os[A-Z]\w*\(", func))
        s["seam_ir"] = seam
        s["top_exclusive"] = [(ir, short(f), o) for ir, f, o in rows(excl)[:TOP]]
        product = [(ir, short(f)) for ir, f, o in rows(incl)
                   if o == "tavo_host_tests" and ")'" not in f and re.match(r"(WriteLog|WriteLogHeader|DeleteRegKey|DeleteItem|"
                                                         r"ConfirmDeleteItem|Run\w+Steps|OpenKeyForReading|"
                                                         r"ExistsFile|ExistsFolder)\(", f)]
        s["product_inclusive"] = product
        summary[test] = s

        lines.append(f"== {test} ({what}) ==")
        lines.append("  whole process Ir:  " + ", ".join(f"{v:,}" for v in s["process_ir"]))
        lines.append("  inside WinMain Ir: " + ", ".join(f"{v:,}" for v in s["winmain_ir"]))
        lines.append(f"  of which Os* (simulated Windows), inclusive: {seam:,} ({100 * seam / total:.1f}%)")
        lines.append(f"  the rest (product code and the C runtime it calls): {total - seam:,} "
                     f"({100 * (total - seam) / total:.1f}%)")
        lines.append("  top functions inside WinMain, exclusive Ir:")
        for ir, f, o in s["top_exclusive"]:
            lines.append(f"    {ir:>10,} {100 * ir / total:5.1f}%  {f}  [{o}]")
        lines.append("  product functions, inclusive Ir:")
        for ir, f in product:
            lines.append(f"    {ir:>10,} {100 * ir / total:5.1f}%  {f}")
        lines.append("")

    return write_summary(out_dir, lines, summary)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

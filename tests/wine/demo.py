#!/usr/bin/python3
"""Runs TAVOSweeper.exe under Wine on the demo machine and prints its log.

    tests/wine/demo.py [EXE] [--auto]

EXE defaults to the shipped 32-bit build, which runs as a WOW64 process: start
this inside the Debian root that has 32-bit Wine (scripts/demo.sh does). The
demo machine is a throwaway 64-bit Wine prefix holding a complete leftover
install of the product in both registry views (tests/wine/tavo_machine.py). With a
display (DISPLAY set) the real dialogs appear for a person to answer; without
one, or with --auto, a private virtual display is used and every question is
answered with Yes. Wine has no IFileOperation deletion, so the prefix has the
test build's stand-in registered for it (tests/wine/standin/, never shipped):
folders and files are really deleted, as registry keys are. The planted files
are listed before the run and, after it, what is left of them.
"""
import os
import sys
import types

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tavo_machine as M  # noqa: E402
import wine_harness as H  # noqa: E402


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    exe = os.path.abspath(args[0] if args else os.path.join(H.REPO_ROOT, "build", "windows-x86", H.EXE_NAME))
    interactive = bool(os.environ.get("DISPLAY")) and "--auto" not in argv
    registry, folders, files = M.full_machine()
    scenario = {"name": "demo", "registry": registry, "folders": folders, "files": files,
                "check_log_times": False}
    if interactive:
        print("TAVOSweeper is starting on your display: answer its dialogs.", flush=True)
        scenario.update(dialogs=[], timeout_exit=3600)
    else:
        # Start, every question the demo machine raises, closing.
        questions = len(M.questions(M.golden_lines("full_yes_64.log", host=True)))
        scenario["dialogs"] = ([{"answer": "Return"}] + [{"answer": "y"} for _ in range(questions)] +
                               [{"answer": "Return"}])
    print("Wine lacks the shell's IFileOperation deletion, so the test build supplies a stand-in "
          "that deletes for real.")
    print("Planted before the run:")
    for path in sorted(files):
        print(f"  {path}")

    H.require_tools()
    H.ensure_ja_locale()
    setup = H.wine_setup("win64", H.pe_machine(exe))
    template = H.ensure_template(setup, log=lambda m: print(m, file=sys.stderr))
    workdir = H.default_workdir()
    if interactive:
        display = types.SimpleNamespace(display=os.environ["DISPLAY"])
        runner = H.ScenarioRunner(scenario, exe, setup, template, display, workdir)
        result = runner.run()
    else:
        with H.XSession() as xs:
            runner = H.ScenarioRunner(scenario, exe, setup, template, xs, workdir)
            result = runner.run()

    if result.log is None:
        print("The run wrote no log (cancelled at the start?).")
    else:
        print(result.log.decode("cp932", errors="replace").replace("\r\n", "\n"), end="")
    left = getattr(runner, "tree_after", None)
    if left is not None:
        kept = [p for p in sorted(files) if H._winpath_key(p).replace("{user}", runner.user) in left]
        print(f"Left after the run ({len(kept)} of {len(files)} planted files):")
        for path in kept:
            print(f"  {path}")
    for e in result.errors:
        print(f"demo: {e}", file=sys.stderr)
    print(f"exit code {result.exit_code}")
    return 0 if not result.errors else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

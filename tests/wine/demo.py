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

import tavo_machine as M  # noqa: E402
from common import EXE_NAME, REPO_ROOT, winpath_key  # noqa: E402
from runner import ScenarioRunner  # noqa: E402
from wineprefix import prepare_session  # noqa: E402
from xsession import XSession  # noqa: E402


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    exe = os.path.abspath(args[0] if args else os.path.join(REPO_ROOT, "build", "windows-x86", EXE_NAME))
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

    session = prepare_session("win64", exe, log=lambda m: print(m, file=sys.stderr))

    def run(xs):
        runner = ScenarioRunner(scenario, exe, session.setup, session.template, xs, session.workdir)
        return runner, runner.run()

    if interactive:
        runner, result = run(types.SimpleNamespace(display=os.environ["DISPLAY"]))
    else:
        with XSession() as xs:
            runner, result = run(xs)

    if result.log is None:
        print("The run wrote no log (cancelled at the start?).")
    else:
        print(result.log.decode("cp932", errors="replace").replace("\r\n", "\n"), end="")
    left = runner.tree_after
    if left is not None:
        kept = [p for p in sorted(files) if winpath_key(runner.win(p)) in left]
        print(f"Left after the run ({len(kept)} of {len(files)} planted files):")
        for path in kept:
            print(f"  {path}")
    for e in result.errors:
        print(f"demo: {e}", file=sys.stderr)
    print(f"exit code {result.exit_code}")
    return 0 if not result.errors else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

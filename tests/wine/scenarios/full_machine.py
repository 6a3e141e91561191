"""A complete leftover install in both views: every step on its Yes, No and
abort paths. Wine has no IFileOperation, so every shell deletion logs that
and leaves the item; registry deletion is real."""
import os

from wine_harness import *
import tavo_machine as M

REGISTRY, FOLDERS, FILES = M.full_machine()
QUESTIONS = 16  # on Wine every folder asked about is still there for the next step


def golden(name):
    path = os.path.join(M.GOLDEN_DIR, name)
    return M.golden_lines(name) if os.path.exists(path) else None


def dialogs(answer):
    return ([{"answer": "Return", "style": MB_OKCANCEL}] +
            [{"answer": answer, "style": MB_YESNOCANCEL} for _ in range(QUESTIONS)] +
            [{"answer": "Return", "style": MB_OK}])


YES = golden("full_yes.log")
NO = golden("full_no.log")
JAVA_KEYS = [rf"HKLM\{b}\JavaSoft\Java Runtime Environment\1.8" for b, _ in M.VIEWS]

SCENARIOS = [
    {
        "name": "full_machine_all_yes",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs("y"),
        "registry_after": dict([(k, None) for k in M.product_keys()] + [(k, {}) for k in JAVA_KEYS]),
        "files_after": {path: True for path in FILES},
        **({"log": M.log_bytes(YES)} if YES else {}),
    },
    {
        "name": "full_machine_all_no",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs("n"),
        "registry_after": {k: {} for k in M.product_keys()},
        "files_after": {path: True for path in FILES},
        **({"log": M.log_bytes(NO)} if NO else {}),
    },
]

# Cancel, then OK in the abort confirmation, at each question in turn.
if YES:
    SCENARIOS += M.abort_scenarios("full_machine_abort_at_question", YES, (REGISTRY, FOLDERS, FILES))

"""A complete leftover install in both views: every step on its Yes, No and
abort paths. The test build's IFileOperation stand-in does the shell
deletions, so a Yes run logs what the host tests' golden log says and the
harness sees each confirmed item go; registry deletion is Wine's own. One run
keeps Wine's own shell, which has no IFileOperation deletion."""
from common import MB_OK, MB_OKCANCEL, MB_YESNOCANCEL
import tavo_machine as M

REGISTRY, FOLDERS, FILES = M.full_machine()


def dialogs(answer, questions):
    return ([{"answer": "Return", "style": MB_OKCANCEL}] +
            [{"answer": answer, "style": MB_YESNOCANCEL} for _ in range(questions)] +
            [{"answer": "Return", "style": MB_OK}])


YES = M.golden_lines("full_yes_64.log", host=True)
NO = M.golden_lines("full_no_64.log", host=True)
# Wine's own shell: every deletion fails, so "#12" and "#15" still find the
# folders "#4" and "#8" were asked about and ask again.
WINE_SHELL_YES = M.golden_lines("full_yes.log")
JAVA_KEYS = [rf"HKLM\{b}\JavaSoft\Java Runtime Environment\1.8" for b, _ in M.VIEWS]
REGISTRY_AFTER_YES = dict([(k, None) for k in M.product_keys()] + [(k, {}) for k in JAVA_KEYS])

SCENARIOS = [
    {
        "name": "full_machine_all_yes",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs("y", len(M.questions(YES))),
        "registry_after": REGISTRY_AFTER_YES,
        "log": M.log_bytes(YES),
    },
    {
        "name": "full_machine_all_yes_wine_shell",
        "description": "Wine's own IFileOperation: every deletion logs its E_NOTIMPL and leaves the item",
        "fileop": "wine",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs("y", len(M.questions(WINE_SHELL_YES))),
        "registry_after": REGISTRY_AFTER_YES,
        "files_after": {path: True for path in FILES},
        "log": M.log_bytes(WINE_SHELL_YES),
    },
    {
        "name": "full_machine_all_no",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs("n", len(M.questions(NO))),
        "registry_after": {k: {} for k in M.product_keys()},
        "log": M.log_bytes(NO),
    },
]

# Cancel, then OK in the abort confirmation, at each question in turn.
SCENARIOS += M.abort_scenarios("full_machine_abort_at_question", YES, (REGISTRY, FOLDERS, FILES))

"""Deletion through the shell in the shipped exe: what a Yes removes and what
stays beside it, under code page 932 names, and every way a deletion fails,
real or injected through the test build's IFileOperation stand-in. The trace
checks of every scenario (one object per item, flags 0x214, no sink, one
PerformOperations, GetAnyOperationsAborted asked, each object released once)
apply here too."""
from common import MB_OK, MB_OKCANCEL, MB_YESNOCANCEL
import tavo_machine as M

REGISTRY, FOLDERS, FILES = M.full_machine()
YES = M.golden_lines("full_yes_64.log", host=True)
WINE_SHELL_YES = M.golden_lines("full_yes.log")
CACHE = rf"C:\Program Files\InstallShield Installation Information\{M.GUID}"
UNINSTALL = rf"Microsoft\Windows\CurrentVersion\Uninstall\{M.GUID}"


def dialogs(lines):
    return ([{"answer": "Return", "style": MB_OKCANCEL}] +
            [{"answer": "y", "style": MB_YESNOCANCEL} for _ in M.questions(lines)] +
            [{"answer": "Return", "style": MB_OK}])


def japanese(machine):
    registry, folders, files, attributes = M.japanese_machine()
    return {
        "name": f"{machine}_japanese_names_all_yes" if machine == "win32" else "japanese_names_all_yes",
        "machine": machine,
        "description": "Names with the trail bytes 0x5C and 0x7C, a 259-byte archive path, read-only and "
                       "hidden files in nested folders: each confirmed item goes whole, every decoy beside it stays",
        "registry": registry, "folders": folders, "files": files, "attributes": attributes,
        # #4, #5, #6, #12, #13, #20, #23, #24
        "dialogs": dialogs(["[ConfirmDeleteItem] "] * 8),
        "deleted": M.japanese_deleted(),
        "registry_after": {rf"HKLM\SOFTWARE\{UNINSTALL}": None, r"HKLM\SOFTWARE\TAVO": None},
    }


# Deletions 2, 4, 5, 10 and 16 of the full machine fail: the setup caches, the
# first archive of each view and the Startup shortcut, whose staying changes
# no later step. The first of them is real: another process holds a file of
# the folder open without sharing.
FAILURES = {
    2: M.shell_error("IFileOperation::PerformOperations", 0x80070020),  # sharing violation, as Wine says
    4: M.shell_error("IFileOperation::DeleteItem", 0x80004005),
    5: M.shell_error("IFileOperation::PerformOperations", 0x80270000),
    10: M.shell_error("IFileOperation::GetAnyOperationsAborted", 0x800704C7),
    16: M.shell_error("IFileOperation::PerformOperations", 0x80070005),
}

SCENARIOS = [
    japanese("win64"),
    japanese("win32"),
    {
        "name": "full_machine_yes_deletions_fail",
        "description": "A file held open in the setup cache, and DeleteItem, PerformOperations (cancelled, "
                       "access denied) and an aborted part injected: each logs its line, that item stays, "
                       "the run goes on",
        "registry": REGISTRY, "folders": FOLDERS,
        "files": {**FILES, CACHE + r"\data1.cab": b"cab"},
        "hold_open": [CACHE + r"\setup.ini"],
        "partly_deleted": [CACHE],
        "env": {"TAVO_FILEOP_FAIL": "DeleteItem:0x80004005@4;PerformOperations:0x80270000@5;"
                                    "GetAnyOperationsAborted:1@10;PerformOperations:0x80070005@16"},
        "dialogs": dialogs(YES),
        "log": M.log_bytes(M.with_errors(YES, FAILURES)),
        "files_after": {CACHE + r"\setup.ini": b"[setup]"},
    },
    {
        "name": "full_machine_yes_class_not_registered",
        "description": "CLSID_FileOperation not registered: every deletion logs the CoCreateInstance error, "
                       "nothing is deleted, the registry steps go on",
        "fileop": "unregistered",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs(WINE_SHELL_YES),
        "log": M.log_bytes([M.shell_error("CoCreateInstance", 0x80040154) if "SetOperationFlags" in l else l
                            for l in WINE_SHELL_YES]),
        "registry_after": {rf"HKLM\SOFTWARE\{UNINSTALL}": None},
    },
]

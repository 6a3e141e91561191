"""Start, end and the log's place: the run skeleton on an empty machine."""
from common import MB_OK, MB_OKCANCEL, IDOK, IDCANCEL, DEFAULT_RELAY_INCLUDE
import tavo_machine as M

START = "ツールによるTAVO利用者ソフトのアンインストールを開始します。\nよろしいですか?\n"
CLOSING = "ツールによるTAVO利用者ソフトのアンインストールを終了します。\n"
EMPTY_LINES = M.golden_lines("empty_64.log", host=True)
EMPTY_RUN = M.log_bytes(EMPTY_LINES)
# Without a Startup folder, step #24 ends at its lookup.
NO_STARTUP_RUN = M.log_bytes(EMPTY_LINES[:-4] + ["[GetFolderPath] CSIDL_COMMON_STARTUP Path", " Not Found",
                                                 EMPTY_LINES[-1]])
# kernel32 forwards both to kernelbase; GetProcAddress hands out whichever the
# relay wraps, so both names are traced.
SYSTEM_INFO_CALLS = ["kernel32.GetNativeSystemInfo", "kernelbase.GetNativeSystemInfo",
                     "kernel32.GetSystemInfo", "kernelbase.GetSystemInfo"]
OK_DIALOGS = [
    {"answer": "Return", "text": START, "style": MB_OKCANCEL, "result": IDOK},
    {"answer": "Return", "text": CLOSING, "style": MB_OK, "result": IDOK},
]

SCENARIOS = [
    {
        "name": "cancel_at_start",
        "description": "Cancel at the start dialog: exit 0, no log anywhere, no registry access",
        "folders": [r"C:\users\{user}\TAVO"],
        "dialogs": [{"answer": "Escape", "text": START, "style": MB_OKCANCEL, "result": IDCANCEL}],
        "log": None,
        "files_after": {r"C:\TAVOTest\TAVOSweeper.log": None},
        "not_called": ["RegOpenKeyExA", "RegDeleteKeyExA"],
    },
    {
        "name": "empty_machine_log_in_cwd",
        "description": "OK on an empty machine: every banner of a 64-bit run, the closing dialog; "
                       "the native system info decides, the Program Files folders come from "
                       "ProgramW6432 and ProgramFiles(x86) (in a WOW64 process ProgramFiles names the x86 one)",
        "dialogs": OK_DIALOGS,
        "log": EMPTY_RUN,
        "relay_include": list(DEFAULT_RELAY_INCLUDE) + SYSTEM_INFO_CALLS + ["msvcrt.getenv_s"],
        "calls": [("GetNativeSystemInfo", (None,), None),
                  ("getenv_s", (None, None, 260, "ProgramW6432"), 0),
                  ("getenv_s", (None, None, 260, "ProgramFiles(x86)"), 0)],
        "not_called": ["RegDeleteKeyExA", "kernel32.GetSystemInfo", "kernelbase.GetSystemInfo"],
    },
    {
        "name": "log_in_profile_tavo_folder_appends",
        "description": "The profile's TAVO folder holds the log; a second run appends to the first",
        "folders": [r"C:\users\{user}\TAVO"],
        "files": {r"C:\users\{user}\TAVO\TAVOSweeper.log": EMPTY_RUN},
        "dialogs": OK_DIALOGS,
        "log": EMPTY_RUN + EMPTY_RUN,
        "check_log_times": False,  # the planted first run's banners are from long ago
        "files_after": {r"C:\TAVOTest\TAVOSweeper.log": None},
    },
    {
        "name": "two_runs_append_to_one_log",
        "description": "Two runs in a row: the second run's lines follow the first run's",
        "runs": 2,
        "dialogs": OK_DIALOGS,
        "log": EMPTY_RUN + EMPTY_RUN,
    },
    {
        "name": "tavo_file_in_profile_means_cwd",
        "description": "A file named TAVO in the profile: the log goes to the current directory",
        "files": {r"C:\users\{user}\TAVO": b"not a folder"},
        "cwd": r"C:\work dir",
        "folders": [r"C:\work dir"],
        "dialogs": OK_DIALOGS,
        "log": EMPTY_RUN,
        "log_at": r"C:\work dir\TAVOSweeper.log",
    },
    {
        "name": "dll_search_restricted_before_com",
        "description": "The DLL search is cut down to the system folder before COM or any dialog",
        "dialogs": [{"answer": "Escape", "style": MB_OKCANCEL, "result": IDCANCEL}],
        "log": None,
        "relay_include": ["kernel32.SetDefaultDllDirectories", "kernelbase.SetDefaultDllDirectories",
                          "kernel32.SetDllDirectoryA",
                          "kernelbase.SetDllDirectoryA", "ole32.CoInitialize",
                          "ole32.CoInitializeEx", "user32.MessageBoxA"],
        # LOAD_LIBRARY_SEARCH_SYSTEM32; Wine has the newer call, so no fallback.
        "calls": [("SetDefaultDllDirectories", (0x800,), 1),
                  ("ole32.CoInitialize", (0,), None),
                  ("user32.MessageBoxA", (0,), IDCANCEL)],
        "not_called": ["kernel32.SetDllDirectoryA", "kernelbase.SetDllDirectoryA"],
    },
    {
        "name": "startup_folder_missing",
        "description": "The common Startup folder is missing: the tool asks the shell for it without having "
                       "it created, and it stays missing",
        "missing": [M.STARTUP],
        "dialogs": OK_DIALOGS,
        "log": NO_STARTUP_RUN,
        "files_after": {M.STARTUP: None},
    },
] + [
    {
        "name": "log_held_open_" + how,
        "description": f"Another process holds the log open ({how}), sharing reading and writing: the tool "
                       "opens it for nobody else, so every open fails; the run goes on, ends as usual and "
                       "writes nothing into that file",
        "files": {r"C:\TAVOTest\TAVOSweeper.log": b"held\r\n"},
        "hold_open": [(r"C:\TAVOTest\TAVOSweeper.log", how)],
        "dialogs": OK_DIALOGS,
        "log": b"held\r\n",
    } for how in ("shared", "reading", "writing")
]

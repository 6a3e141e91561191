"""32-bit Windows (a win32 prefix): one registry view, so no "(Wow6432)" step,
no view bits in any registry access mask, and the "ProgramFiles" variable
names the Program Files folder. The test build's IFileOperation stand-in does
the shell deletions; registry deletion is Wine's own."""
from common import MB_OK, MB_OKCANCEL, MB_YESNOCANCEL, IDOK, IDYES, IDNO, HKLM, DEFAULT_RELAY_INCLUDE
import tavo_machine as M

KEY_READ = 0x20019
DELETE_OPEN = 0x000A          # KEY_SET_VALUE | KEY_CREATE_SUB_KEY, no view bit
NO_VIEW = 0
PARENT = r"Microsoft\Cryptography\Defaults\Provider"
UNINSTALL = r"Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + M.GUID
JRE = r"JavaSoft\Java Runtime Environment"
PROFILE_LOG = r"C:\users\{user}\TAVO\TAVOSweeper.log"

REGISTRY, FOLDERS, FILES = M.full_machine(M.VIEWS_32)
YES = M.golden_lines("full_yes_32.log", host=True)
NO = M.golden_lines("full_no_32.log")
EMPTY = M.golden_lines("empty_32.log", host=True)
SYSTEM_INFO_CALLS = ["kernel32.GetNativeSystemInfo", "kernelbase.GetNativeSystemInfo",
                     "kernel32.GetSystemInfo", "kernelbase.GetSystemInfo"]


def dialogs(answer, lines):
    """Start, one answer per question lines records, closing: Yes asks 8 times (#12 finds the
    folder #4 deleted gone), No 9."""
    return ([{"answer": "Return", "style": MB_OKCANCEL, "result": IDOK}] +
            [{"answer": answer, "style": MB_YESNOCANCEL} for _ in M.questions(lines)] +
            [{"answer": "Return", "style": MB_OK, "result": IDOK}])


def probe(path, found):
    return ("RegOpenKeyExA", (HKLM, path, 0, KEY_READ), 0 if found else 2)


PROVIDERS = [rf"SOFTWARE\{PARENT}\{name}" for name in M.PROVIDERS]

# An empty 32-bit machine: every probe, with the bare KEY_READ mask.
EMPTY_CALLS = ([probe(r"SOFTWARE" + "\\" + UNINSTALL, False), probe(r"SOFTWARE\TAVO", False)] +
               [probe(p, False) for p in PROVIDERS] + [probe(r"SOFTWARE" + "\\" + JRE, False)])

# Yes at "#17": each provider key opened for deletion with 0x000A alone and
# deleted with view 0.
PROVIDER_CALLS = ([probe(r"SOFTWARE" + "\\" + UNINSTALL, False), probe(r"SOFTWARE\TAVO", False)] +
                  [probe(p, True) for p in PROVIDERS] +
                  sum([[("RegOpenKeyExA", (HKLM, p, 0, DELETE_OPEN), 0),
                        ("RegDeleteKeyExA", (HKLM, p, NO_VIEW, 0), 0)] for p in PROVIDERS], []) +
                  [probe(r"SOFTWARE" + "\\" + JRE, False)])


def provider_log():
    at = EMPTY.index("@#17 TAVO利用者ソフト用プロバイダ削除")
    end = EMPTY.index("@#19 JREインストールパス取得")
    return (EMPTY[:at + 1] + [rf"[OpenRegKey] HKEY_LOCAL_MACHINE\{p}" for p in PROVIDERS] +
            ["[ConfirmDeleteItem] IDYES"] + [rf"[DeleteRegKey] HKEY_LOCAL_MACHINE\{p}" for p in PROVIDERS] +
            EMPTY[end:])


def moved_program_files_log():
    """The empty run, with Program Files moved and a setup cache found there (answered No)."""
    cache = rf"C:\Programme\InstallShield Installation Information\{M.GUID}"
    at = EMPTY.index("@#5 アンインストール情報に紐付いたInstallShieldフォルダ削除")
    return (EMPTY[:at + 1] + [r"[GetFolderPath] ProgramFiles Path=C:\Programme", f"[ExistsFolder] {cache}",
                              "[ConfirmDeleteItem] IDNO"] + EMPTY[at + 4:])


SCENARIOS = [
    {
        "name": "win32_empty_machine_log_in_cwd",
        "description": "Empty 32-bit machine: OS=32bit, no Wow6432 step, KEY_READ probes without view bits",
        "dialogs": [{"answer": "Return", "style": MB_OKCANCEL, "result": IDOK},
                    {"answer": "Return", "style": MB_OK, "result": IDOK}],
        "log": M.log_bytes(EMPTY),
        # 32-bit Windows says so through GetNativeSystemInfo too, and the
        # Program Files folder comes from ProgramFiles (ProgramW6432 is not set).
        "relay_include": list(DEFAULT_RELAY_INCLUDE) + SYSTEM_INFO_CALLS + ["msvcrt.getenv_s"],
        "calls": ([("GetNativeSystemInfo", (None,), None), EMPTY_CALLS[0],
                   ("getenv_s", (None, None, 260, "ProgramFiles"), 0)] + EMPTY_CALLS[1:]),
        "not_called": ["RegDeleteKeyExA", "kernel32.GetSystemInfo", "kernelbase.GetSystemInfo"],
        "files_after": {PROFILE_LOG: None},
    },
    {
        "name": "win32_log_in_profile_tavo_folder",
        "description": "The profile's TAVO folder exists: the log goes there, none to the current directory",
        "folders": [r"C:\users\{user}\TAVO"],
        "dialogs": [{"answer": "Return"}, {"answer": "Return"}],
        "log": M.log_bytes(EMPTY),
        "files_after": {r"C:\TAVOTest\TAVOSweeper.log": None},
    },
    {
        "name": "win32_setup_cache_under_moved_program_files",
        "description": "The setup cache is looked for under the folder the ProgramFiles variable names",
        "registry": {r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion": {"ProgramFilesDir": r"C:\Programme"}},
        "folders": [rf"C:\Programme\InstallShield Installation Information\{M.GUID}"],
        "dialogs": [{"answer": "Return"}, {"answer": "n", "style": MB_YESNOCANCEL, "result": IDNO},
                    {"answer": "Return"}],
        "log": M.log_bytes(moved_program_files_log()),
        "files_after": {rf"C:\Programme\InstallShield Installation Information\{M.GUID}": True},
    },
    {
        "name": "win32_provider_keys_yes",
        "description": "Provider keys: one question, deletion opens 0x000A, RegDeleteKeyExA with view 0",
        "registry": {rf"HKLM\{p}": {"Type": 1} for p in PROVIDERS},
        "dialogs": [{"answer": "Return"},
                    {"answer": "y", "style": MB_YESNOCANCEL, "result": IDYES,
                     "text": ("このレジストリキー配下にあるTAVO利用者ソフト用プロバイダを削除しますか?\n\n"
                              rf"HKEY_LOCAL_MACHINE\SOFTWARE\{PARENT}" + "\n")},
                    {"answer": "Return"}],
        "calls": PROVIDER_CALLS,
        "log": M.log_bytes(provider_log()),
        "registry_after": {rf"HKLM\{p}": None for p in PROVIDERS},
    },
    {
        "name": "win32_full_machine_all_yes",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs("y", YES),
        "log": M.log_bytes(YES),
        "registry_after": dict([(k, None) for k in M.product_keys(M.VIEWS_32)] +
                               [(rf"HKLM\SOFTWARE\{JRE}\1.8", {})]),
        "not_called": ["kernel32.SetDllDirectoryA"],
    },
    {
        "name": "win32_full_machine_all_no",
        "registry": REGISTRY, "folders": FOLDERS, "files": FILES,
        "dialogs": dialogs("n", NO),
        "log": M.log_bytes(NO),
        "registry_after": {k: {} for k in M.product_keys(M.VIEWS_32)},
        "not_called": ["RegDeleteKeyExA"],
    },
]

# Cancel, then OK in the abort confirmation, at each question in turn.
SCENARIOS += M.abort_scenarios("win32_full_machine_abort_at_question", YES, (REGISTRY, FOLDERS, FILES))

for s in SCENARIOS:
    s["machine"] = "win32"

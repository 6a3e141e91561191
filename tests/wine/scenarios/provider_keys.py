"""The provider keys in both views: Yes at "#17", No at "#18". The trace shows
both questions and the exact access masks; afterwards the 64-bit view's keys
are gone and the 32-bit view's remain."""
from common import MB_OK, MB_OKCANCEL, MB_YESNOCANCEL, IDYES, IDNO, HKLM, KEY_WOW64_64KEY, KEY_WOW64_32KEY
import tavo_machine as M

KEY_READ = 0x20019
PARENT = r"Microsoft\Cryptography\Defaults\Provider"


def question(branch):
    return ("このレジストリキー配下にあるTAVO利用者ソフト用プロバイダを削除しますか?\n\n"
            rf"HKEY_LOCAL_MACHINE\{branch}\{PARENT}" + "\n")


def provider_paths(branch):
    return [rf"{branch}\{PARENT}\{name}" for name in M.PROVIDERS]


NATIVE = provider_paths("SOFTWARE")
WOW = provider_paths(r"SOFTWARE\Wow6432Node")
UNINSTALL = r"Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + M.GUID
JRE = r"JavaSoft\Java Runtime Environment"


def probe(path, view, found):
    return ("RegOpenKeyExA", (HKLM, path, 0, KEY_READ | view), 0 if found else 2)


# Every RegOpenKeyExA and RegDeleteKeyExA of the run, in order.
CALLS = (
    [probe(r"SOFTWARE" + "\\" + UNINSTALL, KEY_WOW64_64KEY, False),
     probe(r"SOFTWARE\Wow6432Node" + "\\" + UNINSTALL, KEY_WOW64_32KEY, False),
     probe(r"SOFTWARE\TAVO", KEY_WOW64_64KEY, False),
     probe(r"SOFTWARE\Wow6432Node\TAVO", KEY_WOW64_32KEY, False)] +
    [probe(p, KEY_WOW64_64KEY, True) for p in NATIVE] +
    # Deleting one key without subkeys: open with view | 0x000A, delete with the bare view.
    sum([[("RegOpenKeyExA", (HKLM, p, 0, KEY_WOW64_64KEY | 0x000A), 0),
          ("RegDeleteKeyExA", (HKLM, p, KEY_WOW64_64KEY, 0), 0)] for p in NATIVE], []) +
    [probe(p, KEY_WOW64_32KEY, True) for p in WOW] +
    [probe(r"SOFTWARE" + "\\" + JRE, KEY_WOW64_64KEY, False),
     probe(r"SOFTWARE\Wow6432Node" + "\\" + JRE, KEY_WOW64_32KEY, False)]
)

LOG = M.log_bytes(
    ["@#1 アンインストール開始", "@#2 OS判定", "[GetIs64BitOS] OS=64bit",
     "@#3 アンインストール情報取得", rf"[OpenRegKey] HKEY_LOCAL_MACHINE\SOFTWARE\{UNINSTALL}", " Not Found",
     "@#5 アンインストール情報に紐付いたInstallShieldフォルダ削除",
     r"[GetFolderPath] ProgramFiles Path=C:\Program Files",
     rf"[ExistsFolder] C:\Program Files\InstallShield Installation Information\{M.GUID}", " Not Found",
     "@#7 (Wow6432)アンインストール情報取得",
     rf"[OpenRegKey] HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\{UNINSTALL}", " Not Found",
     "@#9 (Wow6432)アンインストール情報に紐付いたInstallShieldフォルダ削除",
     r"[GetFolderPath] ProgramFiles(x86) Path=C:\Program Files (x86)",
     rf"[ExistsFolder] C:\Program Files (x86)\InstallShield Installation Information\{M.GUID}", " Not Found",
     "@#11 TAVO管理情報取得", r"[OpenRegKey] HKEY_LOCAL_MACHINE\SOFTWARE\TAVO", " Not Found",
     "@#14 (Wow6432)TAVO管理情報取得", r"[OpenRegKey] HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\TAVO",
     " Not Found",
     "@#17 TAVO利用者ソフト用プロバイダ削除"] +
    [rf"[OpenRegKey] HKEY_LOCAL_MACHINE\{p}" for p in NATIVE] +
    ["[ConfirmDeleteItem] IDYES"] +
    [rf"[DeleteRegKey] HKEY_LOCAL_MACHINE\{p}" for p in NATIVE] +
    ["@#18 (Wow6432)TAVO利用者ソフト用プロバイダ削除"] +
    [rf"[OpenRegKey] HKEY_LOCAL_MACHINE\{p}" for p in WOW] +
    ["[ConfirmDeleteItem] IDNO",
     "@#19 JREインストールパス取得", rf"[OpenRegKey] HKEY_LOCAL_MACHINE\SOFTWARE\{JRE}", " Not Found",
     "@#21 (Wow6432)JREインストールパス取得",
     rf"[OpenRegKey] HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\{JRE}", " Not Found",
     "@#23 スタートメニュー配下のミラネスフォルダ削除",
     rf"[GetFolderPath] CSIDL_COMMON_PROGRAMS Path={M.START_MENU}",
     rf"[ExistsFolder] {M.START_MENU}\ミラネス", " Not Found",
     "@#24 スタートアップ配下の更新通知ショートカットファイル削除",
     rf"[GetFolderPath] CSIDL_COMMON_STARTUP Path={M.STARTUP}",
     rf"[ExistsFile] {M.STARTUP}\更新通知.lnk", " Not Found",
     "@#25 アンインストール終了"])

SCENARIOS = [{
    "name": "provider_keys_yes_native_no_wow",
    "registry": {rf"HKLM\{p}": {"Type": 1} for p in NATIVE + WOW},
    "dialogs": [
        {"answer": "Return", "style": MB_OKCANCEL},
        {"answer": "y", "text": question("SOFTWARE"), "style": MB_YESNOCANCEL, "result": IDYES},
        {"answer": "n", "text": question(r"SOFTWARE\Wow6432Node"), "style": MB_YESNOCANCEL,
         "result": IDNO},
        {"answer": "Return", "style": MB_OK},
    ],
    "calls": CALLS,
    "log": LOG,
    "registry_after": dict([(rf"HKLM\{p}", None) for p in NATIVE] +
                           [(rf"HKLM\{p}", {"Type": 1}) for p in WOW]),
}]

"""What the Wine scenarios and the demo plant, and the expected logs they read.

The machine mirrors the host tests' demo machine (tests/host/demo_machine.cpp): a complete leftover
install of the product in both registry views on 64-bit Windows (VIEWS), in the one view there is on
32-bit Windows (VIEWS_32).

Expected logs are the host tests' own (tests/golden/), where a Wine run logs
the very same, and those of tests/wine/golden/ where it does not; both in one
format: UTF-8 lines, "@title" for a step's banner line, "#" for a comment.
"""
import os

from common import IDCANCEL, IDOK, MB_OKCANCEL, MB_YESNOCANCEL

GUID = "{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}"
PROVIDERS = ("TAVO Crypto Service Provider", "TAVO Crypto Service Provider for Sign",
             "TAVO Crypto Service Provider for Auth")
ARCHIVES = ("TAVOCryptJNI.jar", "TAVOCryptSignJNI.jar", "TAVOCryptAuthJNI.jar",
            "TAVOUserCertService.jar", "TAVOUserCertServiceMain.jar")
VIEWS = ((r"SOFTWARE", r"C:\Program Files"),
         (r"SOFTWARE\Wow6432Node", r"C:\Program Files (x86)"))
# 32-bit Windows: one registry view, one Program Files.
VIEWS_32 = VIEWS[:1]
START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
STARTUP = START_MENU + r"\StartUp"

GOLDEN_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "golden")
# The host tests' expected logs: with the IFileOperation stand-in, a Wine run
# of the same machine logs the very same.
HOST_GOLDEN_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden")


def provider_keys(branch):
    return [rf"HKLM\{branch}\Microsoft\Cryptography\Defaults\Provider\{p}" for p in PROVIDERS]


def product_keys(views=VIEWS):
    """Every registry key of the product the full machine holds, in views."""
    keys = []
    for branch, _ in views:
        keys.append(rf"HKLM\{branch}\Microsoft\Windows\CurrentVersion\Uninstall\{GUID}")
        keys.append(rf"HKLM\{branch}\TAVO")
        keys += provider_keys(branch)
    return keys


def full_machine(views=VIEWS):
    """(registry, folders, files) of a complete leftover install in views."""
    registry, files = {}, {}
    for branch, pf in views:
        folder = pf + r"\TAVO"
        registry[rf"HKLM\{branch}\Microsoft\Windows\CurrentVersion\Uninstall\{GUID}"] = {
            "DisplayName": "TAVO利用者ソフト", "DisplayVersion": "5.1.0",
            "InstallLocation": folder + "\\", "InstallDate": "20240401"}
        registry[rf"HKLM\{branch}\TAVO"] = {"InstallPath": folder}
        registry[rf"HKLM\{branch}\TAVO\Version"] = {"Major": 5, "Minor": 1, "Revision": 0}
        for key in provider_keys(branch):
            registry[key] = {"Image Path": folder + r"\bin\TAVOCrypt.dll", "Type": 1}
        home = pf + r"\Java\jre1.8.0_401"
        registry[rf"HKLM\{branch}\JavaSoft\Java Runtime Environment"] = {"CurrentVersion": "1.8"}
        registry[rf"HKLM\{branch}\JavaSoft\Java Runtime Environment\1.8"] = {"JavaHome": home}
        files[folder + r"\bin\TAVOCrypt.dll"] = b"MZ"
        files[folder + r"\設定\user.ini"] = "[user]"
        files[pf + rf"\InstallShield Installation Information\{GUID}\setup.ini"] = b"[setup]"
        for archive in ARCHIVES + ("other.jar",):
            files[home + r"\lib\ext" + "\\" + archive] = b"PK"
    files[START_MENU + r"\ミラネス\TAVO.lnk"] = b"L"
    files[STARTUP + r"\更新通知.lnk"] = b"L"
    return registry, [], files


def golden_lines(name, host=False):
    """The golden file's lines (UTF-8 text, comments dropped); host: one of the host tests'."""
    with open(os.path.join(HOST_GOLDEN_DIR if host else GOLDEN_DIR, name), encoding="utf-8") as f:
        return [l.rstrip("\n") for l in f if not l.startswith("#")]


def banner(title):
    """A banner line; its time is masked by the harness when logs are compared."""
    line = bytearray(b"*" * 128)
    text = b" " + title.encode("cp932") + b" 2000/01/01 00:00:00.000 "
    line[10:10 + len(text)] = text
    return bytes(line) + b"\r\n"


def log_bytes(lines):
    """Golden lines as the log's code page 932 bytes."""
    out = b""
    for line in lines:
        out += banner(line[1:]) if line.startswith("@") else line.encode("cp932") + b"\r\n"
    return out


def questions(lines):
    """Indexes of the lines that record an answered question."""
    return [i for i, l in enumerate(lines) if l.startswith("[ConfirmDeleteItem] ")]


def aborted_at(lines, k):
    """The log of a run answered like `lines` up to its k-th question (0-based),
    where the user cancels and confirms the abort instead."""
    at = questions(lines)[k]
    return lines[:at] + ["[ConfirmDeleteItem] IDCANCEL", "@#25 アンインストール終了"]


ABORT_TEXT = "処理を中止します。よろしいですか?" + " " * 27 + "\n"


def abort_scenarios(name, yes_lines, machine):
    """One scenario per question of yes_lines: Yes up to it, then Cancel and OK
    in the abort confirmation; the run ends there with the "#25" banner and no
    closing dialog. machine is (registry, folders, files)."""
    registry, folders, files = machine
    out = []
    for k in range(len(questions(yes_lines))):
        out.append({
            "name": f"{name}_{k + 1:02d}",
            "registry": registry, "folders": folders, "files": files,
            "dialogs": ([{"answer": "Return", "style": MB_OKCANCEL}] +
                        [{"answer": "y", "style": MB_YESNOCANCEL} for _ in range(k)] +
                        [{"answer": "Escape", "style": MB_YESNOCANCEL, "result": IDCANCEL},
                         {"answer": "Return", "style": MB_OKCANCEL, "result": IDOK, "text": ABORT_TEXT}]),
            "log": log_bytes(aborted_at(yes_lines, k)),
        })
    return out


def with_errors(lines, errors):
    """lines with an error line after some [DeleteItem] lines: errors is {n: line}, n counting
    the [DeleteItem] lines from 1."""
    out, n = [], 0
    for line in lines:
        out.append(line)
        if line.startswith("[DeleteItem] "):
            n += 1
            if n in errors:
                out.append(errors[n])
    return out


def shell_error(call, ret):
    """The tool's error line for a failed shell call (its LastError is masked when compared)."""
    return f" {call} ERROR : Ret=0x{ret:08X},  LastError=0x00000000"


# Code page 932 names whose second byte is "\" (0x5C) or "|" (0x7C): a
# byte-wise path handler takes them for a separator or a pipe.
JP_INSTALL = r"C:\Program Files\ソフトポ表" + "\\"
JP_MANAGED = r"C:\Program Files\能力ソフト"
# A Java home whose longest archive path is 259 bytes, the most a path
# buffer holds; two folders, as a Unix name holds at most 255 UTF-8 bytes.
_JAVA_TAIL = r"\lib\ext" + "\\" + ARCHIVES[-1]
JP_JAVA_HOME = r"C:\Program Files\Java" + "\\" + "ソポ表能" * 15 + "\\" + "jre表能" * 6
JP_JAVA_HOME += "x" * (259 - len((JP_JAVA_HOME + _JAVA_TAIL).encode("cp932")))


def japanese_machine(branch="SOFTWARE", pf=r"C:\Program Files"):
    """(registry, folders, files, attributes) of an install in one view under code page 932 names
    with the trail bytes 0x5C and 0x7C: the install folder holds nested folders, an empty one, a
    read-only and two hidden files; beside every item stands a decoy whose name extends it."""
    assert len((JP_JAVA_HOME + _JAVA_TAIL).encode("cp932")) == 259
    registry = {
        rf"HKLM\{branch}\Microsoft\Windows\CurrentVersion\Uninstall\{GUID}": {
            "DisplayName": "TAVO利用者ソフト", "DisplayVersion": "5.1.0", "InstallLocation": JP_INSTALL,
            "InstallDate": "20240401"},
        rf"HKLM\{branch}\TAVO": {"InstallPath": JP_MANAGED},
        rf"HKLM\{branch}\JavaSoft\Java Runtime Environment": {"CurrentVersion": "1.8"},
        rf"HKLM\{branch}\JavaSoft\Java Runtime Environment\1.8": {"JavaHome": JP_JAVA_HOME},
    }
    files = {
        JP_INSTALL + r"bin\TAVOCrypt.dll": b"MZ",
        JP_INSTALL + r"設定\深い\さらに\user.ini": "[user]",
        JP_INSTALL + "readonly.dat": b"R",
        JP_INSTALL + ".dotfile": b"H",
        JP_INSTALL + "隠し属性.txt": b"H",
        JP_INSTALL.rstrip("\\") + "2\\keep.txt": b"decoy",
        JP_INSTALL.rstrip("\\") + ".txt": b"decoy",
        JP_MANAGED + r"\ソポ\表.ini": b"[m]",
        JP_MANAGED + r"x\keep.txt": b"decoy",
        pf + rf"\InstallShield Installation Information\{GUID}\setup.ini": b"[setup]",
        pf + rf"\InstallShield Installation Information\{GUID}x\setup.ini": b"decoy",
        START_MENU + r"\ミラネス\サブ\ヘルプ.lnk": b"L",
        START_MENU + r"\ミラネス2\TAVO.lnk": b"decoy",
        STARTUP + r"\更新通知.lnk": b"L",
        STARTUP + r"\更新通知2.lnk": b"decoy",
    }
    for archive in ARCHIVES + ("other.jar",):
        files[JP_JAVA_HOME + r"\lib\ext" + "\\" + archive] = b"PK"
    folders = [JP_INSTALL + "空フォルダ"]
    attributes = {JP_INSTALL + "readonly.dat": "R", JP_INSTALL + "隠し属性.txt": "H",
                  JP_INSTALL + r"設定\深い\さらに\user.ini": "RH"}
    return registry, folders, files, attributes


def japanese_deleted(pf=r"C:\Program Files"):
    """What a run answered Yes throughout deletes of japanese_machine, in the order it asks."""
    return ([JP_INSTALL, pf + rf"\InstallShield Installation Information\{GUID}", JP_MANAGED] +
            [JP_JAVA_HOME + r"\lib\ext" + "\\" + a for a in ARCHIVES] +
            [START_MENU + r"\ミラネス", STARTUP + r"\更新通知.lnk"])

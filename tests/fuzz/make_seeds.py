#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_whole_run and its dictionary.

The inputs follow the layout described in fuzz_machine.h. Run from anywhere;
the files go to tests/fuzz/corpus/whole_run/ and tests/fuzz/whole_run.dict.
Writing them again gives the very same bytes.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Opcodes.
KEY, VALUE, TREE, FOLDER, FILE, ENV, SPECIAL, REGFAIL, SHELLFAIL, FSFLAG, ANSWER, CWD, CLOCK, \
    LOGFILE, INSTALL, STARTMENU = range(16)

# Machine byte.
AMD64, X86, ARM64, IA64 = 0, 1, 2, 3
PROFILE_TAVO = 16
NOW_FAILS = 32

# regref: bit 0 Wow6432Node, bits 1-3 base, bit 4 its parent.
ENTRY, MANAGE, VERSION, PROVIDER, PROVIDER_SIGN, PROVIDER_AUTH, JAVA, PROVIDERS = range(8)
WOW = 1

# place
PROGRAM_FILES, PROGRAM_FILES_X86, START_MENU, STARTUP, PROFILE, WORK, DRIVE, LAST_VALUE = range(8)

# name byte
DISPLAY_NAME, DISPLAY_VERSION, INSTALL_LOCATION, INSTALL_DATE, INSTALL_PATH, MAJOR, MINOR, \
    REVISION, CURRENT_VERSION, JAVA_HOME = range(10)

# type byte: bits 0-2 the type, bit 3 a NUL appended
SZ, EXPAND_SZ, DWORD, BINARY, QWORD = range(5)
WITH_NUL = 8

# answers table indexes
YES, NO, CANCEL, OK, BOX_FAILS, ABORT, RETRY = 0, 1, 2, 3, 4, 5, 6

# Lengths kMadeLengths offers, by value.
MADE = [0, 1, 2, 15, 16, 17, 31, 32, 33, 59, 60, 61, 127, 128, 200, 238, 239, 240, 254, 255, 256,
        258, 259, 260, 261, 300, 1000, 1023, 1024, 2047, 2048, 4000]


def text(data):
    if isinstance(data, str):
        data = data.encode("cp932")
    assert len(data) < 0xE0, "use made() for long texts"
    return bytes([len(data)]) + data


def made(length, pattern=b""):
    """A text of exactly `length` bytes of the repeated pattern."""
    return bytes([0xE0 + MADE.index(length), len(pattern)]) + pattern


def op(code, *operands):
    out = bytes([code])
    for operand in operands:
        out += bytes([operand]) if isinstance(operand, int) else operand
    return out


def answers(*codes):
    """ANSWER operations, runs of one answer folded into repeat counts."""
    out, i = b"", 0
    while i < len(codes):
        run = 1
        while i + run < len(codes) and codes[i + run] == codes[i] and run < 16:
            run += 1
        out += op(ANSWER, ((run - 1) << 4) | codes[i])
        i += run
    return out


def full_install(is64):
    ops = op(INSTALL, 0) + op(STARTMENU, 3)
    return ops + op(INSTALL, 1) if is64 else ops


SEEDS = {
    "empty_64": bytes([AMD64]) + answers(OK, OK),
    "full_yes_64": bytes([AMD64]) + full_install(True) + answers(OK, *[YES] * 14, OK),
    "full_no_64": bytes([AMD64]) + full_install(True) + answers(OK, *[NO] * 16, OK),
    # Cancel at the first question, confirmed.
    "abort_first_question": bytes([AMD64]) + full_install(True) + answers(OK, CANCEL, OK),
    "full_yes_32": bytes([X86]) + full_install(False) + answers(OK, *[YES] * 8, OK),
    # Failures everywhere: keys that do not open, enumerate or delete, a
    # shell that fails to perform, an item in use, a locked log, a clock that
    # fails, and dialogs that go back or cannot be shown.
    "failures": bytes([AMD64 | PROFILE_TAVO | NOW_FAILS]) + full_install(True)
    + op(REGFAIL, 2, VERSION << 1, text(""), 0, 5)
    + op(REGFAIL, 0, (PROVIDER_SIGN << 1) | WOW, text(""), 0, 5)
    + op(REGFAIL, 1, ENTRY << 1, text(""), 1, 0)
    + op(TREE, MANAGE << 1, text("Sub"), 0x0F, 7)
    + op(SHELLFAIL, 4, 0, 5)
    + op(FSFLAG, 0, PROGRAM_FILES_X86, text("TAVO\\bin\\TAVOCrypt.dll"))
    + op(LOGFILE, 1 | 2 | 4)
    + answers(OK, YES, CANCEL, CANCEL, YES, RETRY, ABORT, NO, BOX_FAILS, BOX_FAILS),
    # Partial removals: the shell skips a file in use (the folder stays with
    # it), one key cannot be opened for deleting, another's subkeys cannot be
    # listed.
    "partial_removals": bytes([AMD64]) + full_install(True)
    + op(FSFLAG, 0, PROGRAM_FILES, text("TAVO\\bin\\TAVOCrypt.dll"))
    + op(REGFAIL, 0, VERSION << 1, text(""), 0, 5)
    + op(REGFAIL, 1, (MANAGE << 1) | WOW, text(""), 0, 0)
    + answers(OK, *[YES] * 15, OK),
    # Values of every odd kind: wrong types and sizes, no NUL, exactly the field widths,
    # a long Japanese path, a folder the registry names, and a current
    # Java version that names a key with conversions in it.
    "odd_values": bytes([AMD64])
    + op(VALUE, ENTRY << 1, text(""), DISPLAY_NAME, SZ, made(32, b"N"))
    + op(VALUE, ENTRY << 1, text(""), DISPLAY_VERSION, SZ, made(16, b"9"))
    + op(VALUE, ENTRY << 1, text(""), INSTALL_DATE, BINARY, text("20240401"))
    + op(VALUE, ENTRY << 1, text(""), INSTALL_LOCATION, SZ | WITH_NUL,
         text("C:\\Program Files\\TAVO\\設定ソ表"))
    + op(FOLDER, LAST_VALUE, text(""))
    + op(VALUE, (ENTRY << 1) | WOW, text(""), INSTALL_LOCATION, EXPAND_SZ, made(260, b"x"))
    + op(VALUE, MANAGE << 1, text(""), INSTALL_PATH, DWORD, b"\x04\x01\x00\x00\x00")
    + op(VALUE, VERSION << 1, text(""), MAJOR, DWORD, b"\x04\xff\xff\x00\x00")
    + op(VALUE, VERSION << 1, text(""), MINOR, QWORD, b"\x08\x01\x00\x00\x00\x00\x00\x00\x00")
    + op(VALUE, VERSION << 1, text(""), REVISION, SZ | WITH_NUL, text("1"))
    + op(VALUE, JAVA << 1, text(""), CURRENT_VERSION, SZ | WITH_NUL, text("%s%n\\.."))
    + op(VALUE, JAVA << 1, text("%s%n\\.."), JAVA_HOME, SZ, made(259, b"C:\\j"))
    + op(ENV, 0, made(260, b"C:\\P"))
    + op(ENV, 2, made(4000))
    + op(SPECIAL, 1, text(""))
    + op(SPECIAL, 0x82, made(254, b"S"))
    + answers(OK, *[YES] * 6, OK),
    # Line breaks in texts read from the machine: a registry value, one that
    # looks like a log line of its own, the name of a subkey the tool
    # deletes, an environment value (finding F1, findings/README.md).
    "line_break_in_value": bytes([AMD64])
    + op(VALUE, ENTRY << 1, text(""), INSTALL_LOCATION, SZ | WITH_NUL, text("C:\\TAVO\r\nforged"))
    + answers(OK, NO, OK),
    "line_break_forged_removal": bytes([AMD64])
    + op(VALUE, ENTRY << 1, text(""), INSTALL_LOCATION, SZ | WITH_NUL,
         text("C:\\TAVO\r\n[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"))
    + answers(OK, NO, OK),
    "line_break_in_key_name": bytes([AMD64]) + op(KEY, MANAGE << 1, text("line\r\nbreak"))
    + answers(OK, YES, OK),
    "line_break_in_environment": bytes([AMD64]) + op(ENV, 0, text("C:\\Program Files\r\nx"))
    + answers(OK, OK),
    "arm64": bytes([ARM64]) + full_install(True) + answers(OK, *[YES] * 8, OK),
    # A DEL (0x7F), which a file name may hold, in a path the tool asks about
    # and deletes; the log shows it as '?' (finding F2, findings/README.md).
    # The folder the registry names, with two-byte characters whose trail
    # byte is a backslash, the last one ending the path:
    "del_in_asked_folder": bytes([AMD64])
    + op(VALUE, ENTRY << 1, text(""), INSTALL_LOCATION, SZ | WITH_NUL,
         text("C:\\Pr\x7fgram Files\\TAVO\\設定ソ表"))
    + op(FOLDER, LAST_VALUE, text("bin"))
    + answers(OK, YES, NO, OK),
    # the Java home whose archives go:
    "del_in_java_home": bytes([AMD64])
    + op(VALUE, JAVA << 1, text(""), CURRENT_VERSION, SZ | WITH_NUL, text("1.8"))
    + op(VALUE, JAVA << 1, text("1.8"), JAVA_HOME, SZ | WITH_NUL, text("C:\\Java\x7f"))
    + op(FILE, LAST_VALUE, text("lib\\ext\\TAVOCryptJNI.jar"))
    + op(FILE, LAST_VALUE, text("lib\\ext\\other.jar"))
    + answers(OK, YES, OK),
    # the Start-menu and Startup folders Windows names:
    "del_in_start_menu": bytes([AMD64])
    + op(SPECIAL, 0x81, text("Start\x7fMenu"))
    + op(SPECIAL, 0x82, text("Start\x7fMenu\\StartUp"))
    + op(FOLDER, DRIVE, text("Start\x7fMenu\\ミラネス"))
    + op(FILE, DRIVE, text("Start\x7fMenu\\StartUp\\更新通知.lnk"))
    + answers(OK, YES, YES, OK),
    # a lead byte followed by a control character, and one followed by '?':
    # the simulated Windows takes each as one (malformed) character of a
    # name, the log shows both as the lead byte and '?', and the conversion
    # for the shell refuses the path.
    "control_after_lead_byte": bytes([AMD64])
    + op(VALUE, ENTRY << 1, text(""), INSTALL_LOCATION, SZ | WITH_NUL,
         text(b"C:\\TAVO\\\x83\n\x83?"))
    + op(FOLDER, LAST_VALUE, text(""))
    + answers(OK, YES, NO, OK),
}

# Names and path pieces of the product, for libFuzzer's -dict.
DICTIONARY = [
    "TAVO", "\\TAVO", "ミラネス", "更新通知.lnk", "lib\\ext", "\\lib\\ext\\", "Java", "jre1.8.0_401",
    "TAVOCryptJNI.jar", "TAVOCryptSignJNI.jar", "TAVOCryptAuthJNI.jar", "TAVOUserCertService.jar",
    "TAVOUserCertServiceMain.jar", "{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}",
    "InstallShield Installation Information", "Wow6432Node", "C:\\", "..", "%s%n", "ソ", "表",
    "\r\n",
]


def dict_entry(value):
    out = []
    for byte in value.encode("cp932"):
        ch = chr(byte)
        out.append(ch if 0x20 <= byte < 0x7F and ch not in '\\"' else "\\x%02X" % byte)
    return '"%s"' % "".join(out)


def main():
    corpus = os.path.join(HERE, "corpus", "whole_run")
    os.makedirs(corpus, exist_ok=True)
    for name, data in sorted(SEEDS.items()):
        with open(os.path.join(corpus, name), "wb") as f:
            f.write(data)
    with open(os.path.join(HERE, "whole_run.dict"), "w", encoding="ascii", newline="\n") as f:
        f.write("# Written by make_seeds.py: the product's names, code page 932.\n")
        for value in DICTIONARY:
            f.write(dict_entry(value) + "\n")
    print("%d seeds in %s" % (len(SEEDS), corpus))
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Checks of the stand-in's trace, the logged deletions and the planted tree (no Wine needed).
"""

import unittest

import standin as H
from regfile import reg_file_text

# What the IFileOperation stand-in wrote for one folder the exe deleted (a real
# run of the x86-64 build, the tool's first deletion).
FILEOP_TRACE = """load process=C:\\TAVOTest\\TAVOSweeper.exe pid=408
DllGetClassObject clsid={3AD05575-...} hr=0x00000000
create obj=1 live=1
QueryInterface obj=1 iid={947AAB5F-...} hr=0x00000000
Release obj=1 refs=1
SetOperationFlags obj=1 flags=0x00000214 hr=0x00000000
DeleteItem obj=1 path=C:\\Program Files\\TAVO sink=0 hr=0x00000000
SHFileOperationW obj=1 path=C:\\Program Files\\TAVO fFlags=0x0614 result=0 aborted=0
PerformOperations obj=1 queued=1 hr=0x00000000
GetAnyOperationsAborted obj=1 aborted=0 hr=0x00000000
Release obj=1 refs=0
destroy obj=1 live=0
ItemRelease item=1 refs=0
unload live=0
"""
EXE = r"C:\TAVOTest\TAVOSweeper.exe"
FOLDER = "C:\\Program Files\\TAVO\\"


def edited(trace, *subs):
    for old, new in subs:
        assert old in trace, old
        trace = trace.replace(old, new)
    return trace


def second_object(trace):
    """The trace's object made again as number 2, for a second item."""
    body = trace[trace.index("DllGetClassObject"):trace.index("unload")]
    return trace.replace("unload", body.replace("obj=1", "obj=2").replace("item=1", "item=2") + "unload")


class DeletionCheckTest(unittest.TestCase):
    def expect(self, errs, want):
        """No error where want is None, else one that says want."""
        self.assertTrue(errs == [] if want is None else any(want in e for e in errs), errs)

    def test_logged_deletions(self):
        log = ("[ExistsFolder] C:\\a\r\n[DeleteItem] C:\\a\r\n[DeleteItem] C:\\\x83\\\x83|\r\n"
               " IFileOperation::PerformOperations ERROR : Ret=0x80270000,  LastError=0x00000080\r\n"
               "[DeleteItem] C:\\b\r\n mbstowcs ERROR : Ret=42,  LastError=0x00000000\r\n[DeleteItem] C:\\c\r\n")
        self.assertEqual(H.logged_deletions(log.encode("latin-1")),
                         [("C:\\a", None, None), ("C:\\ソポ", "PerformOperations", 0x80),
                          ("C:\\b", "mbstowcs", 0), ("C:\\c", None, None)])

    def test_fileop_trace(self):
        ok = [(FOLDER, None, None)]
        failed_at = lambda call, last_error=0x80: [(FOLDER, call, last_error)]
        ABORTED = edited(FILEOP_TRACE, ("aborted=0 hr=0x00000000", "aborted=1 hr=0x00000000 lasterror=0x00000080"))
        cases = [
            ("one deletion, as the exe makes it", FILEOP_TRACE, ok, None),
            ("two items, one object each", second_object(FILEOP_TRACE), ok * 2, None),
            ("no object when CoCreateInstance failed", "", [(FOLDER, "CoCreateInstance", 0)], None),
            ("loaded by another process", edited(FILEOP_TRACE, ("TAVOTest\\TAVOSweeper", "windows\\rundll32")),
             ok, "not loaded"),
            ("other flags", edited(FILEOP_TRACE, ("0x00000214", "0x00000614")), ok, "flags"),
            ("a progress sink", edited(FILEOP_TRACE, ("sink=0", "sink=1")), ok, "sink=1"),
            ("another item", edited(FILEOP_TRACE, ("path=C:\\Program Files\\TAVO sink", "path=C:\\x sink")),
             ok, "DeleteItem path"),
            ("aborted never asked", edited(FILEOP_TRACE, ("GetAnyOperationsAborted obj=1 aborted=0 hr=0x00000000\n",
                                                          "")), ok, "calls"),
            ("performed twice", edited(FILEOP_TRACE, ("PerformOperations obj=1 queued=1 hr=0x00000000\n",
                                                      "PerformOperations obj=1 queued=1 hr=0x00000000\n" * 2)),
             ok, "calls"),
            ("two items batched in one object", edited(FILEOP_TRACE, (
                "SHFileOperationW", "DeleteItem obj=1 path=C:\\y sink=0 hr=0x00000000\nSHFileOperationW")),
             ok * 2, "calls ['SetOperationFlags', 'DeleteItem', 'DeleteItem'"),
            ("one object for two deletions", FILEOP_TRACE, ok * 2, "1 file-operation object(s) made for 2"),
            ("never released", edited(FILEOP_TRACE, ("Release obj=1 refs=0\ndestroy obj=1 live=0\n", "")), ok,
             "destroyed 0 times"),
            ("the exe kept the shell item", edited(FILEOP_TRACE, ("item=1 refs=0", "item=1 refs=1")), ok,
             "counted ['1']"),
            ("used after its release", edited(FILEOP_TRACE, ("unload", "GetAnyOperationsAborted obj=1 aborted=0 "
                                                             "hr=0x00000000\nunload")), ok, "used after"),
            ("a failure the log tells", edited(FILEOP_TRACE, (
                "PerformOperations obj=1 queued=1 hr=0x00000000\nGetAnyOperationsAborted obj=1 aborted=0 "
                "hr=0x00000000\n", "PerformOperations obj=1 queued=1 hr=0x80270000 lasterror=0x00000080\n")),
             failed_at("PerformOperations"), None),
            ("a failure the log does not tell", edited(FILEOP_TRACE, ("queued=1 hr=0x00000000", "queued=1 hr=0x80270000")),
             ok, "hr=0x80270000 but the log says no call failed"),
            ("aborted, as the log tells", ABORTED, failed_at("GetAnyOperationsAborted"), None),
            ("a LastError the call did not leave", ABORTED, failed_at("GetAnyOperationsAborted", 1), "LastError"),
        ]
        for what, trace, deletions, want in cases:
            with self.subTest(what):
                self.expect(H.check_fileop_trace(H.parse_fileop_trace(trace), deletions, EXE), want)

    def test_deleted_tree(self):
        before = {"c:\\p": None, "c:\\p\\tavo": None, "c:\\p\\tavo\\a.dll": "1", "c:\\p\\tavo\\sub": None,
                  "c:\\p\\tavo2": None, "c:\\p\\tavo.txt": "2", "c:\\p\\other.jar": "3"}
        gone = {k: v for k, v in before.items() if not k.startswith("c:\\p\\tavo\\") and k != "c:\\p\\tavo"}
        cases = [
            ("the folder and all it held", gone, ["C:\\P\\TAVO\\"], [], None),
            ("nothing asked, nothing gone", before, [], [], None),
            ("a sibling whose name extends it", {k: v for k, v in gone.items() if k != "c:\\p\\tavo2"},
             ["C:\\p\\TAVO"], [], "c:\\p\\tavo2 is gone"),
            ("a file changed", {**gone, "c:\\p\\other.jar": "4"}, ["C:\\p\\TAVO"], [], "other.jar changed"),
            ("logged done, still there", {**gone, "c:\\p\\tavo": None}, ["C:\\p\\TAVO"], [], "still there"),
            ("part of a folder left", {**gone, "c:\\p\\tavo": None, "c:\\p\\tavo\\a.dll": "1"}, ["C:\\p\\TAVO"], [],
             "still there"),
            ("a failed deletion that took part of it", {k: v for k, v in before.items() if k != "c:\\p\\tavo\\sub"},
             [], ["C:\\p\\TAVO"], None),
            ("gone without a question", gone, [], [], "no deletion logged as done covers it"),
            ("logged done, never planted", before, ["C:\\q"], [], "never planted"),
        ]
        for what, after, deleted, partly, want in cases:
            with self.subTest(what):
                self.expect(H.check_deleted_tree(before, after, deleted, partly), want)

    def test_registration_views(self):
        # A 32-bit process on 64-bit Windows reads the class from Wow6432Node.
        wow = H.fileop_registration("win64")
        self.assertEqual(wow[rf"HKLM\SOFTWARE\Wow6432Node\Classes\CLSID\{H.FILEOP_CLSID}\InprocServer32"][""],
                         rf"{H.STANDIN_DIR}\x86\{H.STANDIN_DLL}")
        self.assertEqual(wow[rf"HKLM\SOFTWARE\Classes\CLSID\{H.FILEOP_CLSID}\InprocServer32"][""],
                         rf"{H.STANDIN_DIR}\x64\{H.STANDIN_DLL}")
        self.assertEqual(list(H.fileop_registration("win32", "unregistered")),
                         [rf"-HKLM\SOFTWARE\Classes\CLSID\{H.FILEOP_CLSID}"])
        self.assertIn(rf"[-HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{H.FILEOP_CLSID}]",
                      reg_file_text(H.fileop_registration("win32", "unregistered")))

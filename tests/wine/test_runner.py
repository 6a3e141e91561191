"""Checks of the runner's reading of the registry through a scripted reg.exe (no Wine needed).
"""

import os
import shutil
import subprocess
import tempfile
import unittest

import runner as H
from regfile import full_key, write_reg_file
from common import HarnessError
from wineprefix import WINE32_LOADER, WINE64_LOADER, WineSetup

class ExportKeyTest(unittest.TestCase):
    """export_key against a scripted reg.exe: only reg's own "not found" reads as absent."""

    # The bytes Wine 8's reg.exe wrote here under LANG=ja_JP.UTF-8.
    NOT_FOUND_JA = bytes.fromhex("7265673a208e7792e882b382ea82bd838c835783588367838a20834c815b82f0"
                                 "8ca982c282af82e782ea82dc82b982f10d0a")

    def runner(self, outcomes):
        """A runner whose `wine reg export` plays outcomes in turn: (exit code, stdout, writes file)."""
        d = tempfile.mkdtemp()
        self.addCleanup(lambda: shutil.rmtree(d, ignore_errors=True))
        os.makedirs(os.path.join(d, "drive_c", "tavo-harness"))
        setup = WineSetup("win64", WINE64_LOADER, WINE32_LOADER, "tpl")
        r = H.ScenarioRunner({"name": "t"}, "x.exe", setup, "tpl", None, d)
        r.prefix = d
        calls = []

        def fake_wine(*args, **kw):
            code, out, writes = outcomes[len(calls)]
            calls.append(args)
            if writes:
                write_reg_file(os.path.join(d, "drive_c", "tavo-harness", "export.reg"),
                                 {r"HKLM\SOFTWARE\TAVO": {"V": 1}})
            return subprocess.CompletedProcess(args, code, out, b"")
        r.wine = fake_wine
        return r, calls

    def test_outcomes(self):
        key = r"HKLM\SOFTWARE\TAVO"
        found = {full_key(key): {"V": 1}}
        cases = [
            ("exported", [(0, b"", True)], found, 1),
            ("absent, English", [(1, b"reg: Unable to find the specified registry key\r\n", False)], None, 1),
            ("absent, Japanese", [(1, self.NOT_FOUND_JA, False)], None, 1),
            ("other text on exit 1 is a failure, then absent",
             [(1, "reg: 指定されたレジストリ キーが見つかりません\r\n".encode("cp932"), False),
              (1, self.NOT_FOUND_JA, False)], None, 2),
            ("fails once, then exported", [(1, b"", False), (0, b"", True)], found, 2),
            ("exit 0 but no file, then absent", [(0, b"", False), (1, self.NOT_FOUND_JA, False)], None, 2),
        ]
        for name, outcomes, want, n in cases:
            with self.subTest(name):
                r, calls = self.runner(outcomes)
                self.assertEqual(r.export_key(key), want)
                self.assertEqual(len(calls), n)
                self.assertEqual(bool(r.result.retries), n > 1)

    def test_failure_is_never_absence(self):
        r, calls = self.runner([(5, b"wine: could not load kernel32.dll", False)] * H.REG_EXPORT_ATTEMPTS)
        with self.assertRaisesRegex(HarnessError, "failed 3 times: exit 5"):
            r.export_key(r"HKLM\SOFTWARE\TAVO")
        self.assertEqual(len(calls), H.REG_EXPORT_ATTEMPTS)

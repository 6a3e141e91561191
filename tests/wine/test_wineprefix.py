"""Checks of the loader choice, the PE reading and the prefix paths (no Wine needed).
"""

import os
import shutil
import tempfile
import unittest

import wineprefix as H
from common import HarnessError

class WineSetupTest(unittest.TestCase):
    """Which loader runs what: a wrong pick plants keys in the wrong view or
    runs the exe as the wrong kind of process."""

    def test_loaders(self):
        W32, W64, I386, AMD64 = H.WINE32_LOADER, H.WINE64_LOADER, H.PE_I386, H.PE_AMD64
        # (prefix, exe machine, loaders present, (tool, exe loader, template) or None: refused)
        table = [
            ("win64", I386, {W32, W64}, (W64, W32, "wine-template-wow64")),
            ("win64", AMD64, {W32, W64}, (W64, W64, "wine-template-wow64")),
            ("win64", AMD64, {W64}, (W64, W64, "wine-template-win64")),
            ("win64", I386, {W64}, None),
            ("win64", AMD64, {W32}, None),
            ("win32", I386, {W32, W64}, (W32, W32, "wine-template-win32")),
            ("win32", AMD64, {W32, W64}, None),
            ("win32", I386, {W64}, None),
            ("win16", I386, {W32, W64}, None),
            ("win64", 0x1C0, {W32, W64}, None),
        ]
        for arch, machine, present, want in table:
            with self.subTest(arch=arch, machine=hex(machine), present=sorted(present)):
                def have(path, _mode):
                    return path in present
                if want is None:
                    with self.assertRaises(H.SetupError):
                        H.wine_setup(arch, machine, have)
                    continue
                got = H.wine_setup(arch, machine, have)
                self.assertEqual((got.arch, got.tool, got.exe, os.path.basename(got.template)), (arch, *want))

    def test_pe_machine(self):
        d = tempfile.mkdtemp()
        self.addCleanup(lambda: shutil.rmtree(d, ignore_errors=True))
        for name, data, want in [
                ("pe32", b"MZ" + b"\0" * 0x3A + (0x80).to_bytes(4, "little") + b"\0" * 0x40 + b"PE\0\0\x4c\x01", 0x14C),
                ("pe64", b"MZ" + b"\0" * 0x3A + (0x40).to_bytes(4, "little") + b"PE\0\0\x64\x86", 0x8664),
                ("elf", b"\x7fELF" + b"\0" * 100, None),
                ("no_pe", b"MZ" + b"\0" * 0x3A + (0x40).to_bytes(4, "little") + b"NE\0\0\x4c\x01", None)]:
            with self.subTest(name):
                path = os.path.join(d, name)
                with open(path, "wb") as f:
                    f.write(data)
                if want is None:
                    with self.assertRaises(H.SetupError):
                        H.pe_machine(path)
                else:
                    self.assertEqual(H.pe_machine(path), want)


class PrefixPathTest(unittest.TestCase):
    def test_unix_path(self):
        with tempfile.TemporaryDirectory() as prefix:
            os.makedirs(os.path.join(prefix, "drive_c", "users", "tester", "AppData"))
            os.makedirs(os.path.join(prefix, "drive_c", "Program Files (x86)"))
            c = os.path.join(prefix, "drive_c")
            cases = [
                (r"C:\Users\{user}\appdata\TAVO", os.path.join(c, "users", "tester", "AppData", "TAVO")),
                ("c:\\PROGRAM FILES (X86)\\利用者\\", os.path.join(c, "Program Files (x86)", "利用者")),
                ("C:\\", c),
                ("C:", c),
            ]
            for win, want in cases:
                with self.subTest(win=win):
                    self.assertEqual(H.unix_path(prefix, win, "tester"), want)
            for bad in [r"D:\x", r"C:\a\..\b", r"\\server\share", "relative"]:
                with self.subTest(bad=bad):
                    with self.assertRaises(HarnessError):
                        H.unix_path(prefix, bad, "tester")

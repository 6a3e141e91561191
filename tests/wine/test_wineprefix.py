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

    def test_pe_header(self):
        def pe(off, signature, machine, magic=0, base=0, size=0):
            """e_lfanew at 0x3C; at off the signature and machine, at off + 24 the optional header's
            magic, the image base (off + 52 in PE32, 8 bytes at off + 48 in PE32+), the size at off + 80."""
            head = bytearray(b"MZ".ljust(0x200, b"\0"))
            head[0x3C:0x40] = off.to_bytes(4, "little")
            head[off:off + 6] = signature + machine.to_bytes(2, "little")
            head[off + 24:off + 26] = magic.to_bytes(2, "little")
            at, width = (off + 52, 4) if magic == 0x10B else (off + 48, 8)
            head[at:at + width] = base.to_bytes(width, "little")
            head[off + 80:off + 84] = size.to_bytes(4, "little")
            return bytes(head)

        d = tempfile.mkdtemp()
        self.addCleanup(lambda: shutil.rmtree(d, ignore_errors=True))
        for name, data, want in [
                ("pe32", pe(0x80, b"PE\0\0", 0x14C, 0x10B, 0x400000, 0x2F000), (0x14C, (0x400000, 0x42F000))),
                ("pe64", pe(0x40, b"PE\0\0", 0x8664, 0x20B, 0x140000000, 0x31000),
                 (0x8664, (0x140000000, 0x140031000))),
                ("elf", b"\x7fELF" + b"\0" * 100, None),
                ("no_pe", pe(0x40, b"NE\0\0", 0x14C), None)]:
            with self.subTest(name):
                path = os.path.join(d, name)
                with open(path, "wb") as f:
                    f.write(data)
                if want is None:
                    self.assertRaises(H.SetupError, H.pe_machine, path)
                else:
                    self.assertEqual((H.pe_machine(path), H.pe_image(path)), want)


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

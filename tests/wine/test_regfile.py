"""Checks of the .reg writing and reading and of the export plan (no Wine needed).
"""

import os
import tempfile
import unittest
from pathlib import Path

import regfile as H
import tavo_machine as M
from common import HarnessError

# `wine reg export` output (UTF-8 here; the real file is UTF-16LE with BOM).
EXPORT = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TAVO]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TAVO\\テスト]\r\n"
    "@=\"既定\"\r\n"
    "\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
    "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23\r\n"
    "\"Ctl\"=\"a\\nb\"\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Path\"=\"C:\\\\Program Files (x86)\\\\TAVO \\\"利用者\\\"\"\r\n"
    "\"Ver\"=dword:0000000a\r\n\r\n"
)


class RegFileTest(unittest.TestCase):
    def test_roundtrip(self):
        keys = {
            r"HKLM\SOFTWARE\TAVO": {"Message": "利用者ソフト \"引用\" C:\\x\\", "Ver": 5, "": "既定"},
            r"HKLM\SOFTWARE\Wow6432Node\TAVO\空": {},
            r"HKCU\Software\TAVO": {"Ctl": "a\nb\tc", "Bin": b"\x00\xff", "Max": 0xFFFFFFFF},
        }
        with tempfile.TemporaryDirectory() as d:
            p = os.path.join(d, "x.reg")
            H.write_reg_file(p, keys)
            raw = Path(p).read_bytes()
        self.assertTrue(raw.startswith(b"\xff\xfeW\x00i\x00n\x00"))
        got = H.parse_reg_file(raw)
        self.assertEqual(got, {H.full_key(k): v for k, v in keys.items()})

    def test_bad_values(self):
        for values in [{"x": "\u00e9\u0101"}, {"x": -1}, {"x": 1 << 32}, {"x": True}, {"x": 1.5}]:
            with self.subTest(values=values):
                with self.assertRaises(HarnessError):
                    H.reg_file_text({r"HKLM\SOFTWARE\TAVO": values})
        with self.assertRaises(HarnessError):
            H.full_key(r"HKXX\SOFTWARE")

    def test_parse_wine_export(self):
        got = H.parse_reg_file(b"\xff\xfe" + EXPORT.encode("utf-16-le"))
        self.assertEqual(got, {
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TAVO": {},
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TAVO\\テスト": {
                "": "既定",
                "Bin": bytes(range(0x24)),
                "Ctl": "a\nb",
                "Multi": (7, b"a\0\0\0b\0\0\0\0\0"),
                "Path": 'C:\\Program Files (x86)\\TAVO "利用者"',
                "Ver": 10,
            },
        })


class ExportPlanTest(unittest.TestCase):
    """Reading many keys with few exports must still read every one of them,
    and must never export a huge key such as HKLM\\SOFTWARE."""

    def test_plan(self):
        P = r"HKLM\SOFTWARE\Microsoft\Cryptography\Defaults\Provider"
        F = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography\Defaults\Provider"
        table = [
            ("one key", [r"HKLM\SOFTWARE\TAVO"], [r"HKEY_LOCAL_MACHINE\SOFTWARE\TAVO"]),
            ("child read with its parent", [r"HKLM\SOFTWARE\TAVO\Version", r"hklm\software\tavo"],
             [r"HKEY_LOCAL_MACHINE\software\tavo"]),
            ("deep siblings through their parent", [P + r"\A", P + r"\B"], [F]),
            ("a lone deep key stays itself", [P + r"\A"], [F + r"\A"]),
            ("shallow siblings stay apart", [r"HKLM\SOFTWARE\TAVO", r"HKLM\SOFTWARE\JavaSoft"],
             [r"HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft", r"HKEY_LOCAL_MACHINE\SOFTWARE\TAVO"]),
            ("a prefix of a name is no parent", [r"HKLM\SOFTWARE\TAVO", r"HKLM\SOFTWARE\TAVOX\Y"],
             [r"HKEY_LOCAL_MACHINE\SOFTWARE\TAVO", r"HKEY_LOCAL_MACHINE\SOFTWARE\TAVOX\Y"]),
            ("planted parent and merged children", [P, P + r"\A", P + r"\B"], [F]),
            ("nothing", [], []),
        ]
        for name, keys, want in table:
            with self.subTest(name):
                self.assertEqual(H.export_plan(keys), want)

    def test_every_key_is_covered(self):
        for views in (M.VIEWS, M.VIEWS_32):
            keys = list(M.full_machine(views)[0]) + M.product_keys(views)
            plan = [p.lower() for p in H.export_plan(keys)]
            for k in keys:
                low = H.full_key(k).lower()
                self.assertTrue(any(low == p or low.startswith(p + "\\") for p in plan), k)
            self.assertLess(len(plan), len(set(k.lower() for k in keys)))

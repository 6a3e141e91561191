#!/usr/bin/python3
"""Checks of the harness's own parsing and comparing (no Wine needed).

    /usr/bin/python3 -B -m unittest discover -s tests/wine -p 'test_*.py'

The trace and export fixtures are lines Wine 8.0 wrote here, so a parser
change that no longer reads them fails here and not in the middle of a Wine run.
"""

import datetime
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import wine_harness as H  # noqa: E402

TITLE_CP932 = H.PRODUCT_TITLE.encode("cp932")

# Real lines from a run of a stand-in exe (thread 0140), cut where noted.
TRACE = r'''0140:trace:relay:load_list L"RelayInclude" = L"user32.MessageBoxA;advapi32.RegOpenKeyExA"
0140:Call PE DLL (proc=0000000170068C10,module=0000000170000000 L"ntdll.dll",reason=PROCESS_ATTACH,res=000000000021FB00)
0140:Ret  PE DLL (proc=0000000170068C10,module=0000000170000000 L"ntdll.dll",reason=PROCESS_ATTACH,res=000000000021FB00) retval=1
0140:Call user32.MessageBoxA(00000000,140009000 "\x83A\x83\x93\x83C\x83\x93\x83X\x83g\x81[\x83\x8b\x82\xcc\x8ec\x82\xe8\x82\xf0\x8d\xed\x8f\x9c\x82\xb5\x82\xdc\x82\xb7\x81B\n\"\x91\xb1\x8ds\"\x82\xb5\x82\xdc\x82\xb7\x82\xa9? C:\\temp",1400090e0 "TAVO\x97\x98\x97p\x8e\xd2\x83\\\x83t\x83g \x83A\x83\x93\x83C\x83\x93\x83X\x83g\x81[\x83\x8b\x83c\x81[\x83\x8b",00000001) ret=140001560
0140:Call window proc 00000002169EF630 (hwnd=0000000000030044,msg=WM_KILLFOCUS,wp=00000000,lp=00000000)
0140:Ret  window proc 00000002169EF630 (hwnd=0000000000030044,msg=WM_KILLFOCUS,wp=00000000,lp=00000000) retval=00000000
0140:Ret  user32.MessageBoxA() retval=00000001 ret=140001560
0140:Call advapi32.RegOpenKeyExA(ffffffff80000002,1400090a1 "SOFTWARE\\TAVO",00000000,00020119,0021ed18) ret=1400016d3
0140:Ret  advapi32.RegOpenKeyExA() retval=00000000 ret=1400016d3
0140:Call advapi32.RegDeleteKeyExA(ffffffff80000002,1400090b7 "SOFTWARE\\Wow6432Node\\TAVO",00000200,00000000) ret=1400016f4
0140:Ret  advapi32.RegDeleteKeyExA() retval=00000005 ret=1400016f4
0140:Call user32.MessageBoxA(00000000,0021ed20 "\x97\x98\x97p\x8e\xd2\x83\\\x83t\x83g\x82\xcc\x8ec\x82"...,1400090e0 "TAVO\x97\x98\x97p\x8e\xd2\x83\\\x83t\x83g \x83A\x83\x93\x83C\x83\x93\x83X\x83g\x81[\x83\x8b\x83c\x81[\x83\x8b",00000003) ret=140001708
0140:Ret  user32.MessageBoxA() retval=00000007 ret=140001708
'''

BOX1 = "アンインストールの残りを削除します。\n\"続行\"しますか? C:\\temp".encode("cp932")

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

def _banner(stamp):
    """A banner line without its CR LF: 128 bytes."""
    text = b" " + "#1 アンインストール開始".encode("cp932") + b" " + stamp + b" "
    return b"*" * 10 + text + b"*" * (128 - 10 - len(text))


BANNER_BODY = _banner(b"2024/05/06 07:08:09.123")


class DebugStringTest(unittest.TestCase):
    def test_decode(self):
        cases = [
            # (trace text, bytes, cut, wide)
            ('"abc"', b"abc", False, False),
            ('""', b"", False, False),
            (r'"a\nb\rc\td\"e\\f"', b'a\nb\rc\td"e\\f', False, False),
            (r'"\x83A\x93\x5c"', b"\x83A\x93\\", False, False),
            (r'"\x97\x98\x97p\x8e\xd2\x83\\\x83t"...', "利用者ソフ".encode("cp932"), True, False),
            (r'L"\x3042b"', "あb".encode("utf-16-le"), False, True),
            (r'L"x"...', "x".encode("utf-16-le"), True, True),
        ]
        for text, data, cut, wide in cases:
            with self.subTest(text=text):
                ts, end = H.decode_debugstr(text)
                self.assertEqual((ts.data, ts.cut, ts.wide), (data, cut, wide))
                self.assertEqual(end, len(text))

    def test_bad_strings(self):
        for text in ['"abc', r'"a\q"', r'"\x8"', r'"\xzz"', "abc", r'"\x', 'L"\\x30"']:
            with self.subTest(text=text):
                with self.assertRaises(ValueError):
                    H.decode_debugstr(text)

    def test_matches(self):
        shown = "利用者".encode("cp932")
        cases = [
            # (shown data, cut, expected, match)
            (shown, False, "利用者", True),
            (shown, False, shown, True),
            (shown, False, "利用者ソフト", False),         # whole string must be equal
            (shown, True, "利用者ソフト", True),           # cut: the shown start is enough
            (shown, True, "利用者", False),               # cut, so the real text was longer
            (shown, True, "利用ソフト", False),
            (b"", True, "x", True),
        ]
        for data, cut, expected, ok in cases:
            with self.subTest(cut=cut, expected=expected):
                self.assertIs(H.TraceString(data, cut).matches(expected), ok)


class RelayParseTest(unittest.TestCase):
    def test_records(self):
        t = H.parse_relay(TRACE)
        self.assertEqual(t.bad_lines, [])
        self.assertEqual(t.processes, 1)
        boxes = t.message_boxes()
        self.assertEqual([(b.style, b.result) for b in boxes], [(1, 1), (3, 7)])
        self.assertEqual(boxes[0].text.data, BOX1)
        self.assertFalse(boxes[0].text.cut)
        self.assertEqual(boxes[0].title.data, TITLE_CP932)
        self.assertEqual(len(TITLE_CP932), 39)
        self.assertTrue(boxes[1].text.cut)
        self.assertTrue(boxes[1].text.matches("利用者ソフトの残りを削除しました。"))
        self.assertEqual(boxes[1].hwnd, 0)
        opens = t.reg_opens()
        self.assertEqual([(o.hkey, o.subkey.data, o.options, o.access, o.result) for o in opens],
                         [(H.HKLM, b"SOFTWARE\\TAVO", 0, 0x20119, 0)])
        dels = t.reg_deletes()
        self.assertEqual([(d.hkey, d.subkey.data, d.view, d.result) for d in dels],
                         [(H.HKLM, b"SOFTWARE\\Wow6432Node\\TAVO", 0x200, 5)])

    def test_pairing(self):
        cases = [
            # (trace, [(func, retval)])
            ("0020:Call a.F(1) ret=1\n0024:Call a.G(2) ret=1\n0020:Ret  a.F() retval=0000000a ret=1\n"
             "0024:Ret  a.G() retval=0000000b ret=1\n", [("a.F", 10), ("a.G", 11)]),
            # nested: inner returns first
            ("0020:Call a.F(1) ret=1\n0020:Call a.G(2) ret=1\n0020:Ret  a.G() retval=00000002 ret=1\n"
             "0020:Ret  a.F() retval=00000001 ret=1\n", [("a.F", 1), ("a.G", 2)]),
            # never returned (process died inside)
            ("0020:Call a.F(1) ret=1\n", [("a.F", None)]),
            # +pid prefix
            ("0010:0020:Call a.F(1) ret=1\n0010:0020:Ret  a.F() retval=00000003 ret=1\n", [("a.F", 3)]),
            # a string holding ") ret=" and a comma
            ('0020:Call a.F(1 "x) ret=1, y",2) ret=1\n0020:Ret  a.F() retval=00000000 ret=1\n', [("a.F", 0)]),
        ]
        for text, want in cases:
            with self.subTest(text=text):
                t = H.parse_relay(text)
                self.assertEqual([(c.func, c.retval) for c in t.calls], want)

    def test_args(self):
        cases = [
            ("00000000,140009000 \"a,b\",00000001", [(0, None), (0x140009000, b"a,b"), (1, None)]),
            ("ffffffff80000002,00000000", [(0xffffffff80000002, None), (0, None)]),
            ("", []),
            ("1,", [(1, None), (None, None)]),
        ]
        for text, want in cases:
            with self.subTest(text=text):
                got = [(a.value, a.string.data if a.string else None) for a in H.parse_args(text)]
                self.assertEqual(got, want)

    def test_compare_calls(self):
        t = H.parse_relay(TRACE)
        good_open = ("RegOpenKeyExA", (H.HKLM, r"SOFTWARE\TAVO", 0, 0x20119), 0)
        good_del = ("advapi32.RegDeleteKeyExA", (H.HKLM, r"SOFTWARE\Wow6432Node\TAVO", 0x200), 5)
        cases = [
            ([good_open, good_del], []),
            ([good_open], []),                                   # only named functions count
            ([("RegOpenKeyExA", (None, None, None, 0x20119), None)], []),
            ([("RegOpenKeyExA", (H.HKLM, r"SOFTWARE\Wow6432Node\TAVO"), None)], ["arg 2"]),
            ([("RegOpenKeyExA", (H.HKCU,), None)], ["arg 1"]),
            ([("RegOpenKeyExA", (), 2)], ["retval"]),
            ([good_open, good_open], ["not made"]),
            ([good_del, good_open], ["expected advapi32.RegDeleteKeyExA, got advapi32.RegOpenKeyExA"]),
            ([("MessageBoxA", (0, BOX1), 1)], ["more call(s) than expected"]),
        ]
        for expected, want in cases:
            with self.subTest(expected=expected):
                errs = H.compare_calls(expected, t)
                self.assertEqual(len(errs), len(want), errs)
                for e, w in zip(errs, want):
                    self.assertIn(w, e)
        # A helper process Wine starts during the run (seen: COM's first use
        # started one) is traced too; its calls are not the exe's.
        helper = ('0124:trace:relay:load_list L"RelayInclude" = L"advapi32.RegOpenKeyExA"\n'
                  '0124:Call advapi32.RegOpenKeyExA(ffffffff80000002,1400090a1 "SOFTWARE\\\\Wine",'
                  '00000000,00020019,0021ed18) ret=1400016d3\n'
                  '0124:Ret  advapi32.RegOpenKeyExA() retval=00000000 ret=1400016d3\n')
        self.assertEqual(H.compare_calls([good_open, good_del], H.parse_relay(TRACE + helper)), [])

    def test_compare_dialogs(self):
        boxes = H.parse_relay(TRACE).message_boxes()
        full = "利用者ソフトの残りを削除しました。"
        ok1 = {"answer": "Return", "text": BOX1, "style": H.MB_OKCANCEL, "result": H.IDOK}
        ok2 = {"answer": "n", "text": full, "style": H.MB_YESNOCANCEL, "result": H.IDNO}
        cases = [
            ([ok1, ok2], [H.PRODUCT_TITLE] * 2, []),
            ([ok1, {**ok2, "style": H.MB_OK}], [], ["style"]),
            ([ok1, {**ok2, "result": H.IDYES}], [], ["result"]),
            ([{**ok1, "text": "違う"}, ok2], [], ["dialog 1 text"]),
            ([ok1, {**ok2, "title": "TAVO"}], [], ["dialog 2 title"]),
            ([ok1, ok2], [H.PRODUCT_TITLE, "TAVO???"], ["window shows title"]),
            ([ok1], [], ["more MessageBoxA"]),
            ([ok1, ok2, ok2], [], ["dialog 3: not in the trace"]),
            ([{"answer": "y"}, {"answer": "n"}], [], []),
        ]
        for expected, shown, want in cases:
            with self.subTest(expected=expected, shown=shown):
                errs = H.compare_dialogs(expected, boxes, shown)
                self.assertEqual(len(errs), len(want), errs)
                for e, w in zip(errs, want):
                    self.assertIn(w, e)


class LogTest(unittest.TestCase):
    def test_mask(self):
        masked_banner = _banner(b"YYYY/MM/DD HH:MM:SS.mmm")
        cases = [
            (BANNER_BODY + b"\r\n", masked_banner + b"\r\n"),
            (BANNER_BODY, masked_banner),                                   # no line end
            (BANNER_BODY[1:] + b"\r\n", BANNER_BODY[1:] + b"\r\n"),        # 127 bytes: not a banner
            (b"*" + BANNER_BODY + b"\r\n", b"*" + BANNER_BODY + b"\r\n"),   # 129 bytes: not a banner
            (b"x LastError=0x0000007B y LastError=0xDEADbeef\r\n",
             b"x LastError=0x........ y LastError=0x........\r\n"),
            (b"LastError=0x7B\r\n", b"LastError=0x7B\r\n"),
            ("削除 LastError=0x00000005\n".encode("cp932"), "削除 LastError=0x........\n".encode("cp932")),
        ]
        for data, want in cases:
            with self.subTest(data=data):
                self.assertEqual(H.mask_log(data), want)

    def test_compare(self):
        start = datetime.datetime(2024, 5, 6, 7, 8, 8)
        end = datetime.datetime(2024, 5, 6, 7, 8, 10)
        line = "開始 LastError=0x00000000\r\n".encode("cp932")
        actual = BANNER_BODY + b"\r\n" + line
        other_time = _banner(b"1999/12/31 23:59:59.999") + b"\r\n"
        cases = [
            (other_time + "開始 LastError=0x00000002\r\n".encode("cp932"), actual, []),     # masked parts differ only
            (other_time + "開始 LastError=0x00000000\n".encode("cp932"), actual, ["log differs at line 2"]),
            (None, None, []),
            (None, actual, ["should not exist"]),
            (actual, None, ["log file missing"]),
            (actual, actual.replace(b"2024/05/06 07:08:09", b"2024/05/05 22:08:09"), ["outside the run"]),
        ]
        for expected, got, want in cases:
            with self.subTest(expected=expected, got=got):
                errs = H.compare_log(expected, got, run_start=start, run_end=end)
                self.assertEqual(len(errs), len(want), errs)
                for e, w in zip(errs, want):
                    self.assertIn(w, e)

    def test_banner_times(self):
        data = b"x\r\n" + BANNER_BODY + b"\r\nLastError=0x00000000\r\n" + BANNER_BODY.replace(b"123", b"999")
        self.assertEqual(H.banner_times(data), [datetime.datetime(2024, 5, 6, 7, 8, 9, 123000),
                                                datetime.datetime(2024, 5, 6, 7, 8, 9, 999000)])


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
            with open(p, "rb") as f:
                raw = f.read()
        self.assertTrue(raw.startswith(b"\xff\xfeW\x00i\x00n\x00"))
        got = H.parse_reg_file(raw)
        self.assertEqual(got, {H.full_key(k): v for k, v in keys.items()})

    def test_bad_values(self):
        for values in [{"x": "\u00e9\u0101"}, {"x": -1}, {"x": 1 << 32}, {"x": True}, {"x": 1.5}]:
            with self.subTest(values=values):
                with self.assertRaises(H.HarnessError):
                    H.reg_file_text({r"HKLM\SOFTWARE\TAVO": values})
        with self.assertRaises(H.HarnessError):
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


class ExportKeyTest(unittest.TestCase):
    """export_key against a scripted reg.exe: only reg's own "not found" reads as absent."""

    # The bytes Wine 8's reg.exe wrote here under LANG=ja_JP.UTF-8.
    NOT_FOUND_JA = bytes.fromhex("7265673a208e7792e882b382ea82bd838c835783588367838a20834c815b82f0"
                                 "8ca982c282af82e782ea82dc82b982f10d0a")

    def runner(self, outcomes):
        """A runner whose `wine reg export` plays outcomes in turn: (exit code, stdout, writes file)."""
        d = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(d, ignore_errors=True))
        os.makedirs(os.path.join(d, "drive_c", "tavo-harness"))
        setup = H.WineSetup("win64", H.WINE64_LOADER, H.WINE32_LOADER, "tpl")
        r = H.ScenarioRunner({"name": "t"}, "x.exe", setup, "tpl", None, d)
        r.prefix = d
        calls = []

        def fake_wine(*args, **kw):
            code, out, writes = outcomes[len(calls)]
            calls.append(args)
            if writes:
                H.write_reg_file(os.path.join(d, "drive_c", "tavo-harness", "export.reg"),
                                 {r"HKLM\SOFTWARE\TAVO": {"V": 1}})
            return H.subprocess.CompletedProcess(args, code, out, b"")
        r.wine = fake_wine
        return r, calls

    def test_outcomes(self):
        key = r"HKLM\SOFTWARE\TAVO"
        found = {H.full_key(key): {"V": 1}}
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
        with self.assertRaisesRegex(H.HarnessError, "failed 3 times: exit 5"):
            r.export_key(r"HKLM\SOFTWARE\TAVO")
        self.assertEqual(len(calls), H.REG_EXPORT_ATTEMPTS)


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
        import tavo_machine as M
        for views in (M.VIEWS, M.VIEWS_32):
            keys = list(M.full_machine(views)[0]) + M.product_keys(views)
            plan = [p.lower() for p in H.export_plan(keys)]
            for k in keys:
                low = H.full_key(k).lower()
                self.assertTrue(any(low == p or low.startswith(p + "\\") for p in plan), k)
            self.assertLess(len(plan), len(set(k.lower() for k in keys)))


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
        self.addCleanup(lambda: __import__("shutil").rmtree(d, ignore_errors=True))
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


class ScenarioDataTest(unittest.TestCase):
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
                    with self.assertRaises(H.HarnessError):
                        H.unix_path(prefix, bad, "tester")

    def test_log_location(self):
        cases = [
            ({}, r"C:\TAVOTest\TAVOSweeper.log"),
            ({"cwd": r"C:\work"}, r"C:\work\TAVOSweeper.log"),
            ({"exe_at": r"C:\a\b\TAVOSweeper.exe"}, r"C:\a\b\TAVOSweeper.log"),
            ({"folders": ["C:\\Users\\{user}\\TAVO\\"]}, r"C:\users\{user}\TAVO\TAVOSweeper.log"),
            ({"files": {r"C:\users\{user}\TAVO\TAVOSweeper.log": b""}}, r"C:\users\{user}\TAVO\TAVOSweeper.log"),
            ({"folders": [r"C:\users\{user}\TAVO\sub"]}, r"C:\TAVOTest\TAVOSweeper.log"),
            ({"folders": [r"C:\users\{user}\TAVO"], "log_at": r"C:\x.log"}, r"C:\x.log"),
        ]
        for s, want in cases:
            with self.subTest(s=s):
                self.assertEqual(H.log_location(s), want)

    def test_validate(self):
        cases = [
            ({"name": "ok", "dialogs": [{"answer": "y"}, {"answer": "Escape", "text": "x"}]}, []),
            ({"name": "bad name"}, ["name"]),
            ({"name": "a", "dialogs": [{"answer": "Y"}]}, ["answer"]),
            ({"name": "a", "dialogs": [{"answer": "y", "txt": "x"}]}, ["unknown field 'txt'"]),
            ({"name": "a", "log_path": "x"}, ["unknown field 'log_path'"]),
            ({"name": "a", "log": 5}, ["log must be"]),
            ({"name": "a", "calls": [("F", 1, 0)]}, ["calls entry"]),
            ({"name": "a", "registry_after": {"HKLM\\X": True}}, ["registry_after"]),
            ({"name": "a", "not_called": "RegDeleteKeyExA"}, ["not_called"]),
            ({"name": "a", "fileop": "shell32"}, ["fileop must be"]),
        ]
        for s, want in cases:
            with self.subTest(s=s):
                errs = H.validate_scenario(s)
                self.assertEqual(len(errs), len(want), errs)
                for e, w in zip(errs, want):
                    self.assertIn(w, e)


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
    return trace.replace("unload", body.replace("obj=1", "obj=2") + "unload")


class DeletionCheckTest(unittest.TestCase):
    def test_logged_deletions(self):
        log = ("[ExistsFolder] C:\\a\r\n[DeleteItem] C:\\a\r\n[DeleteItem] C:\\\x83\\\x83|\r\n"
               " IFileOperation::PerformOperations ERROR : Ret=0x80270000,  LastError=0x00000000\r\n"
               "[DeleteItem] C:\\b\r\n mbstowcs ERROR : Ret=42,  LastError=0x00000000\r\n[DeleteItem] C:\\c\r\n")
        self.assertEqual(H.logged_deletions(log.encode("latin-1")),
                         [("C:\\a", None), ("C:\\ソポ", "PerformOperations"),
                          ("C:\\b", "mbstowcs"), ("C:\\c", None)])

    def test_fileop_trace(self):
        ok = [(FOLDER, None)]
        failed_at = lambda call: [(FOLDER, call)]
        cases = [
            ("one deletion, as the exe makes it", FILEOP_TRACE, ok, None),
            ("two items, one object each", second_object(FILEOP_TRACE), ok * 2, None),
            ("no object when CoCreateInstance failed", "", [(FOLDER, "CoCreateInstance")], None),
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
            ("used after its release", edited(FILEOP_TRACE, ("unload", "GetAnyOperationsAborted obj=1 aborted=0 "
                                                             "hr=0x00000000\nunload")), ok, "used after"),
            ("a failure the log tells", edited(FILEOP_TRACE, (
                "PerformOperations obj=1 queued=1 hr=0x00000000\nGetAnyOperationsAborted obj=1 aborted=0 "
                "hr=0x00000000\n", "PerformOperations obj=1 queued=1 hr=0x80270000\n")),
             failed_at("PerformOperations"), None),
            ("a failure the log does not tell", edited(FILEOP_TRACE, ("queued=1 hr=0x00000000", "queued=1 hr=0x80270000")),
             ok, "hr=0x80270000 but the log says no call failed"),
            ("aborted, as the log tells", edited(FILEOP_TRACE, ("aborted=0 hr", "aborted=1 hr")),
             failed_at("GetAnyOperationsAborted"), None),
        ]
        for what, trace, deletions, want in cases:
            with self.subTest(what):
                errs = H.check_fileop_trace(H.parse_fileop_trace(trace), deletions, EXE)
                if want is None:
                    self.assertEqual(errs, [])
                else:
                    self.assertTrue(any(want in e for e in errs), errs)

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
                errs = H.check_deleted_tree(before, after, deleted, partly)
                if want is None:
                    self.assertEqual(errs, [])
                else:
                    self.assertTrue(any(want in e for e in errs), errs)

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
                      H.reg_file_text(H.fileop_registration("win32", "unregistered")))


if __name__ == "__main__":
    unittest.main()

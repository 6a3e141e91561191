"""Checks of the relay-trace reading and of the call and dialog comparisons
(no Wine needed). The fixture is lines Wine 8.0 wrote here, so a parser
change that no longer reads them fails here and not in the middle of a Wine run.
"""

import unittest

import relay as H
from common import HKCU, HKLM, IDNO, IDOK, IDYES, MB_OK, MB_OKCANCEL, MB_YESNOCANCEL, PRODUCT_TITLE

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
            # Wine's own form, as it traced a Start-menu path here.
            (r'L"s\\\30df\30e9"', "s\\ミラ".encode("utf-16-le"), False, True),
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
        self.assertEqual(boxes[0].title.data, PRODUCT_TITLE.encode("cp932"))
        self.assertTrue(boxes[1].text.cut)
        self.assertTrue(boxes[1].text.matches("利用者ソフトの残りを削除しました。"))
        self.assertEqual(boxes[1].hwnd, 0)

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
        good_open = ("RegOpenKeyExA", (HKLM, r"SOFTWARE\TAVO", 0, 0x20119), 0)
        good_del = ("advapi32.RegDeleteKeyExA", (HKLM, r"SOFTWARE\Wow6432Node\TAVO", 0x200), 5)
        cases = [
            ([good_open, good_del], []),
            ([good_open], []),                                   # only named functions count
            ([("RegOpenKeyExA", (None, None, None, 0x20119), None)], []),
            ([("RegOpenKeyExA", (HKLM, r"SOFTWARE\Wow6432Node\TAVO"), None)], ["arg 2"]),
            ([("RegOpenKeyExA", (HKCU,), None)], ["arg 1"]),
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

    def test_seam(self):
        def call(func, args, retval, caller="401234"):
            return f"0140:Call {func}({args}) ret={caller}\n0140:Ret  {func}() retval={retval:08x} ret={caller}\n"
        opened = call("advapi32.RegOpenKeyExA", '80000002,00405000 "SOFTWARE",00000000,00020119,0061eb38', 0)
        closed = call("advapi32.RegCloseKey", "00000068", 0)
        folder = "00000000,0061e000,00000018,0000000{}"
        cases = [
            ("opened, closed", opened + closed, None),
            ("a failed open needs no close", call("advapi32.RegOpenKeyExA", "80000002,00405000", 2), None),
            ("never closed", opened + opened + closed, "1 registry key(s) the exe opened were never closed"),
            ("closed twice", opened + closed + call("advapi32.RegCloseKey", "00000068", 6), "closed twice"),
            ("a close before any open", closed + opened + closed, "closed twice"),
            ("Wine's own calls are not the exe's", opened + closed + call("advapi32.RegCloseKey", "00000070", 6,
                                                                          caller="7b012345"), None),
            ("nor another process's at the same address", TRACE.splitlines(True)[0] + opened + closed +
             closed.replace("0140:", "0150:"), None),
            ("a lookup", call("shell32.SHGetSpecialFolderPathA", folder.format(0), 1), None),
            ("a lookup that creates", call("shell32.SHGetSpecialFolderPathA", folder.format(1), 1), "create folder"),
        ]
        for what, text, want in cases:
            with self.subTest(what):
                errs = H.check_seam(H.parse_relay(text), (0x400000, 0x420000))
                self.assertEqual(len(errs), want is not None, errs)
                self.assertIn(want or "", "".join(errs))

    def test_compare_dialogs(self):
        boxes = H.parse_relay(TRACE).message_boxes()
        full = "利用者ソフトの残りを削除しました。"
        ok1 = {"answer": "Return", "text": BOX1, "style": MB_OKCANCEL, "result": IDOK}
        ok2 = {"answer": "n", "text": full, "style": MB_YESNOCANCEL, "result": IDNO}
        cases = [
            ([ok1, ok2], [PRODUCT_TITLE] * 2, []),
            ([ok1, {**ok2, "style": MB_OK}], [], ["style"]),
            ([ok1, {**ok2, "result": IDYES}], [], ["result"]),
            ([{**ok1, "text": "違う"}, ok2], [], ["dialog 1 text"]),
            ([ok1, {**ok2, "title": "TAVO"}], [], ["dialog 2 title"]),
            ([ok1, ok2], [PRODUCT_TITLE, "TAVO???"], ["window shows title"]),
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

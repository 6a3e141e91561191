"""Checks of the log masking and comparison (no Wine needed).
"""

import datetime
import unittest

import logcheck as H

def _banner(stamp):
    """A banner line without its CR LF: 128 bytes."""
    text = b" " + "#1 アンインストール開始".encode("cp932") + b" " + stamp + b" "
    return b"*" * 10 + text + b"*" * (128 - 10 - len(text))


BANNER_BODY = _banner(b"2024/05/06 07:08:09.123")


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
            # The milliseconds must come from the clock: three banners all at .123 did not.
            (actual * 3, actual * 3, ["all 3 banner times end in .123"]),
            (actual * 3, actual + actual.replace(b".123", b".124") + actual, []),
        ]
        for expected, got, want in cases:
            with self.subTest(expected=expected, got=got):
                errs = H.compare_log(expected, got, run_start=start, run_end=end)
                self.assertEqual(len(errs), len(want), errs)
                for e, w in zip(errs, want):
                    self.assertIn(w, e)

    def test_banner_times(self):
        data = b"x\r\n" + BANNER_BODY + b"\r\nLastError=0x00000000\r\n" + BANNER_BODY.replace(b"123", b"999")
        title = "#1 アンインストール開始"
        self.assertEqual(H.banner_times(data), [(title, datetime.datetime(2024, 5, 6, 7, 8, 9, 123000)),
                                                (title, datetime.datetime(2024, 5, 6, 7, 8, 9, 999000))])

#!/usr/bin/env python3
"""Tests of cp932_literals.py: what it escapes, what it leaves alone, and that
the product compiled from its copies holds the very bytes g++ gives it with
-fexec-charset=CP932."""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import cp932_literals

ROOT = os.environ.get("TAVO_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
A = "\\203\\101"  # "ア" in code page 932, as the escapes are written


class ConvertTest(unittest.TestCase):
    CASES = [
        # (source, expected)
        ('"ア"', '"%s"' % A),
        ("'ア'", "'%s'" % A),
        ('"ア1"', '"%s1"' % A),  # an octal escape takes at most three digits
        ('"アF"', '"%sF"' % A),
        ('"\\tア\\x41\\\\"', '"\\t%s\\x41\\\\"' % A),
        ('"\\"ア"', '"\\"%s"' % A),
        ('"a" "ア"', '"a" "%s"' % A),
        ('f("ア", \'"\')', 'f("%s", \'"\')' % A),
        ('#define T "ア"', '#define T "%s"' % A),
        ("x = 1'000 + 'ア';", "x = 1'000 + '%s';" % A),
        # Left as they are: comments, header names, prefixed and raw literals.
        ('// "ア"\n"ア"', '// "ア"\n"%s"' % A),
        ('/* "ア" */ "ア"', '/* "ア" */ "%s"' % A),
        ('#include "ア.h"\n', '#include "ア.h"\n'),
        ('  #  include "ア.h"\n', '  #  include "ア.h"\n'),
        ('u8"ア" L"ア" u"ア" U"ア"', 'u8"ア" L"ア" u"ア" U"ア"'),
        ('R"x(")ア")x" "ア"', 'R"x(")ア")x" "%s"' % A),
        ('u8R"(ア)"', 'u8R"(ア)"'),
        ('x = 1;  // ア "ア"', 'x = 1;  // ア "ア"'),
    ]

    def test_cases(self):
        for source, expected in self.CASES:
            with self.subTest(source=source):
                self.assertEqual(cp932_literals.convert(source), expected)

    def test_refuses(self):
        for source in ['"ア', "'ア\n'", 'R"x(ア)"', '"😀"']:
            with self.subTest(source=source):
                with self.assertRaises(ValueError):
                    cp932_literals.convert(source)

    def test_bytes_are_iconvs(self):
        # Half-width katakana, a trail byte 0x5C, the wave dash iconv maps to 0x8160.
        text = 'ｱソ〜'
        escaped = cp932_literals.convert('"%s"' % text)[1:-1]
        data = bytes(int(o, 8) for o in re.findall(r"\\([0-7]{3})", escaped))
        self.assertEqual(data, b"\xb1\x83\x5c\x81\x60")


@unittest.skipIf(shutil.which("g++") is None, "needs g++")
class SameAsGccTest(unittest.TestCase):
    """The copies compiled without a character set option give the assembly
    the originals give with -fexec-charset=CP932."""

    @staticmethod
    def assembly(source, include, extra):
        out = subprocess.run(["g++", "-std=c++17", "-O1", "-I", include, *extra, "-S", "-o", "-", source],
                             capture_output=True, check=True, text=True, errors="replace").stdout
        return "\n".join(line for line in out.splitlines() if not line.lstrip().startswith(".file"))

    def test_product_sources(self):
        sources, headers = [], []
        for folder in ("app", "ui", "log", "registry", "files", "record", "text", "platform"):
            for path in glob.glob(os.path.join(ROOT, folder, "**", "*.*"), recursive=True):
                rel = os.path.relpath(path, ROOT)
                if rel.startswith("platform/windows/"):
                    continue
                (sources if rel.endswith(".cpp") else headers if rel.endswith(".h") else []).append(rel)
        sources.sort()
        self.assertIn("app/winmain.cpp", sources)
        differs_plain = []
        with tempfile.TemporaryDirectory() as out:
            self.assertEqual(cp932_literals.main(["", ROOT, out, *sources, *headers]), 0)
            for rel in sources:
                with self.subTest(source=rel):
                    want = self.assembly(os.path.join(ROOT, rel), ROOT,
                                         ["-finput-charset=UTF-8", "-fexec-charset=CP932"])
                    got = self.assembly(os.path.join(out, rel), out, [])
                    self.assertEqual(got, want)
                    if self.assembly(os.path.join(ROOT, rel), ROOT, []) != want:
                        differs_plain.append(rel)
        # Without the copies the Japanese texts would be UTF-8: the comparison
        # above can tell.
        self.assertIn("ui/messages.cpp", differs_plain)


if __name__ == "__main__":
    unittest.main()

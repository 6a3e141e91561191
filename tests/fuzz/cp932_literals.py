#!/usr/bin/env python3
"""Copies C/C++ sources with their non-ASCII narrow literals spelled in code page 932.

clang accepts no execution character set but UTF-8, so it cannot build the
tool's code page 932 texts from its UTF-8 sources the way g++ does with
-fexec-charset=CP932. This writes copies in which every non-ASCII character
inside a plain "..." or '...' literal is replaced by its code page 932 bytes
as three-digit octal escapes (an octal escape stops after three digits, so a
following digit or letter is never taken into it). Comments, header names and
prefixed literals (u8, u, U, L, raw) are left as they are, as g++ leaves them.

The bytes come from glibc's iconv, the converter g++ itself uses.

Usage: cp932_literals.py SRC_ROOT OUT_ROOT RELPATH...
"""

import os
import subprocess
import sys

_PREFIXES = ("u8", "u", "U", "L")


def to_cp932(texts):
    """Converts a list of UTF-8 texts with one iconv call; a text iconv cannot
    convert stops the build rather than producing other bytes."""
    if not texts:
        return []
    joined = "\n".join(texts).encode("utf-8")
    done = subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=joined,
                          capture_output=True, check=False)
    if done.returncode != 0:
        raise ValueError("not convertible to code page 932: " + done.stderr.decode(errors="replace"))
    # No code page 932 trail byte is 0x0A, so the separators split cleanly.
    return done.stdout.split(b"\n")


def _find_literals(text):
    """Yields (start, end) of the body of every plain narrow literal."""
    i, n = 0, len(text)
    line_start = True  # only blanks since the last newline
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t":
            i += 1
            continue
        if line_start and c == "#":
            # A directive: an #include's header name is no literal.
            end = text.find("\n", i)
            end = n if end < 0 else end
            directive = text[i + 1:end].lstrip()
            if directive.startswith("include"):
                i = end
                continue
        line_start = False
        if text.startswith("//", i):
            end = text.find("\n", i)
            i = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
        elif c.isalnum() or c == "_":
            # An identifier or a number (with its digit separators), or the
            # prefix of a literal that is kept as it is.
            j = i
            while j < n and (text[j].isalnum() or text[j] == "_" or
                             (text[i].isdigit() and text[j] in ".'")):
                j += 1
            word = text[i:j]
            if j < n and text[j] in "\"'" and (word in _PREFIXES or word.endswith("R")):
                if word.endswith("R") and text[j] == '"':
                    i = _skip_raw(text, j)
                else:
                    i = _skip_quoted(text, j)
            else:
                i = j
        elif c in "\"'":
            end = _skip_quoted(text, i)
            yield i + 1, end - 1
            i = end
        else:
            i += 1


def _skip_quoted(text, i):
    """Index just after the literal whose opening quote is at i."""
    quote, j, n = text[i], i + 1, len(text)
    while j < n and text[j] != quote:
        if text[j] == "\n":
            raise ValueError("unterminated literal at offset %d" % i)
        j += 2 if text[j] == "\\" else 1
    if j >= n:
        raise ValueError("unterminated literal at offset %d" % i)
    return j + 1


def _skip_raw(text, i):
    """Index just after the raw literal whose opening quote is at i."""
    paren = text.index("(", i)
    close = ")" + text[i + 1:paren] + '"'
    end = text.find(close, paren)
    if end < 0:
        raise ValueError("unterminated raw literal at offset %d" % i)
    return end + len(close)


def _non_ascii_runs(body):
    """(start, end) of each run of non-ASCII characters outside escapes."""
    runs, i, n = [], 0, len(body)
    while i < n:
        if body[i] == "\\":
            i += 2
        elif ord(body[i]) > 0x7F:
            j = i
            while j < n and ord(body[j]) > 0x7F:
                j += 1
            runs.append((i, j))
            i = j
        else:
            i += 1
    return runs


def convert(text):
    """The source text with every non-ASCII literal character escaped."""
    spans = []  # absolute (start, end) of non-ASCII runs
    for start, end in _find_literals(text):
        for a, b in _non_ascii_runs(text[start:end]):
            spans.append((start + a, start + b))
    encoded = to_cp932([text[a:b] for a, b in spans])
    out, last = [], 0
    for (a, b), data in zip(spans, encoded):
        out.append(text[last:a])
        out.append("".join("\\%03o" % byte for byte in data))
        last = b
    out.append(text[last:])
    return "".join(out)


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    src_root, out_root = argv[1], argv[2]
    for rel in argv[3:]:
        source = os.path.join(src_root, rel)
        with open(source, encoding="utf-8", newline="") as f:
            text = f.read()
        try:
            result = convert(text)
        except ValueError as e:
            sys.stderr.write("%s: %s\n" % (source, e))
            return 1
        target = os.path.join(out_root, rel)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w", encoding="utf-8", newline="") as f:
            f.write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

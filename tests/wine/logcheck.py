"""The run log, TAVOSweeper.log, against what a scenario expects: the parts
that change from run to run (banner times, LastError values) are masked on
both sides, and the banner times must fall inside the run."""

import datetime
import re

from common import as_cp932

# A banner: ten asterisks, " title ", the local time, " ", asterisks to 128
# bytes, then CR LF (not part of the matched body).
_BANNER_RE = re.compile(rb"^(\*{10} (.*) )(\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3})( \*+)$", re.S)
_LASTERROR_RE = re.compile(rb"LastError=0x[0-9A-Fa-f]{8}")
BANNER_LEN = 130
BANNER_MASK = b"YYYY/MM/DD HH:MM:SS.mmm"
LASTERROR_MASK = b"LastError=0x........"


def _lines(data):
    """(body, line end) of each line of data."""
    for line in data.splitlines(keepends=True):
        body = line.rstrip(b"\r\n")
        yield body, line[len(body):]


def banner_match(body):
    """The match of a banner line's body (without its CR LF), or None."""
    m = _BANNER_RE.match(body)
    return m if m and len(body) == BANNER_LEN - 2 else None


def banner_time(m):
    """The local time a banner_match carries."""
    y, mo, d, h, mi, s, ms = (int(g) for g in m.groups()[2:9])
    return datetime.datetime(y, mo, d, h, mi, s, ms * 1000)


def mask_log(data):
    """Hide banner times (130-byte asterisk lines) and LastError values."""
    out = []
    for body, eol in _lines(data):
        m = banner_match(body)
        if m:
            body = m.group(1) + BANNER_MASK + m.group(10)
        out.append(_LASTERROR_RE.sub(LASTERROR_MASK, body) + eol)
    return b"".join(out)


def banner_times(data):
    """(title, local time) of each banner line of a log, in order."""
    return [(m.group(2).decode("cp932", "replace"), banner_time(m))
            for m in (banner_match(body) for body, _ in _lines(data)) if m]


def first_difference(expected, actual):
    """One-line description of where two byte strings first differ, by line."""
    el, al = expected.splitlines(keepends=True), actual.splitlines(keepends=True)
    for i in range(max(len(el), len(al))):
        e = el[i] if i < len(el) else None
        a = al[i] if i < len(al) else None
        if e != a:
            return f"line {i + 1}: expected {e!r}, got {a!r}"
    return "identical"


def compare_log(expected, actual, *, run_start=None, run_end=None, check_times=True):
    """Errors comparing the log bytes (None: the log must not exist)."""
    if expected is None:
        return [] if actual is None else [f"log should not exist, has {len(actual)} bytes: {actual[:120]!r}"]
    if actual is None:
        return ["log file missing"]
    errs = []
    exp = mask_log(as_cp932(expected))
    got = mask_log(actual)
    if exp != got:
        errs.append("log differs at " + first_difference(exp, got))
    if check_times and run_start is not None and run_end is not None:
        # Banner times are local time (TZ=JST-9): they must fall inside the run.
        slack = datetime.timedelta(seconds=2)
        times = [t for _, t in banner_times(actual)]
        for t in times:
            if not (run_start - slack <= t <= run_end + slack):
                errs.append(f"log banner time {t} outside the run ({run_start:%H:%M:%S}..{run_end:%H:%M:%S} JST)")
        # Banners seconds apart share their milliseconds only when the clock's are not read.
        if len(times) >= 3 and len({t.microsecond for t in times}) == 1:
            errs.append(f"all {len(times)} banner times end in .{times[0].microsecond // 1000:03d}")
    return errs

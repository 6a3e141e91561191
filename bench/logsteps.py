"""The tool's log as the Wine benchmarks read it: its lines, its step banners
(recognised by the harness's logcheck) with their step numbers and times,
and the windows of lines in which the tool deletes the management key."""

import datetime
import re
from dataclasses import dataclass

from common import HarnessError
from logcheck import banner_match, banner_time

CONFIRM = b"[ConfirmDeleteItem] "
DELETE_LINE = b"[DeleteRegKey] "
FOLDER_PATH = b"[GetFolderPath]"
# Per registry view, the step that asks to delete the management key
# (HKLM\SOFTWARE\TAVO or its Wow6432Node twin) and the step after it.
DELETION_STEPS = {64: (13, 14), 32: (16, 17)}
_STEP = re.compile(rb"#(\d+)")
_MS = datetime.timedelta(milliseconds=1)


def log_lines(data):
    """The log's lines without their CR LF."""
    return data.split(b"\r\n")[:-1] if data else []


def ms_between(t0, t1):
    """Whole milliseconds from t0 to t1 (banner times carry milliseconds)."""
    return (t1 - t0) // _MS


def banners(lines):
    """[(line index, step number, local time)] of the step banners, in order."""
    out = []
    for i, line in enumerate(lines):
        m = banner_match(line)
        step = _STEP.match(m.group(2)) if m else None
        if step:
            out.append((i, int(step.group(1)), banner_time(m)))
    return out


@dataclass
class Window:
    step: int      # the step that asks (13 or 16)
    start: int     # index of the line after its banner: the answer
    end: int       # index of the next step's banner
    gap_ms: int    # banner to banner on the log clock, answering included


def deletion_windows(lines):
    """{view: Window} of the management key's deletion in each registry view;
    HarnessError when a banner of those steps is missing."""
    at = {step: (i, t) for i, step, t in banners(lines)}
    out = {}
    for view, (ask, nxt) in DELETION_STEPS.items():
        if ask not in at or nxt not in at:
            raise HarnessError(f"banner #{ask} or #{nxt} missing")
        out[view] = Window(ask, at[ask][0] + 1, at[nxt][0], ms_between(at[ask][1], at[nxt][1]))
    return out

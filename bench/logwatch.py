"""The host-side watcher of one exe run: each new line of the log with the
time it was first seen, and the memory of the Wine process running the exe.
Watcher is the runner's around_exe hook that starts and stops it."""

import contextlib
import os
import threading
import time

from common import EXE_NAME

# The /proc/<pid>/status fields kept.
STATUS_FIELDS = ("VmHWM", "VmRSS", "VmPeak", "VmSize")


def find_pid(exe_name):
    """The process whose command line names exe_name, or None."""
    low = exe_name.lower().encode()
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/cmdline", "rb") as f:
                cmd = f.read()
        except OSError:
            continue
        # Wine shows the Windows path of the program as the process's first word.
        first = cmd.split(b"\0", 1)[0].lower()
        if first.endswith(b"\\" + low):
            return int(d)
    return None


def read_status(pid):
    """{field: kB} of STATUS_FIELDS, or None once the process is gone."""
    out = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                k, _, v = line.partition(":")
                if k in STATUS_FIELDS:
                    out[k] = int(v.split()[0])
    except OSError:
        return None
    return out


def rss_by_mapping(smaps):
    """{mapped file name or [heap]/[anon]/...: resident kB} from /proc/<pid>/smaps."""
    out, cur = {}, None
    for line in smaps.splitlines():
        f = line.split()
        if len(f) >= 5 and "-" in f[0] and ":" in f[3]:
            cur = f[5] if len(f) > 5 else "[anon]"
            cur = os.path.basename(cur) if cur.startswith("/") else cur
        elif f and f[0] == "Rss:" and cur is not None:
            out[cur] = out.get(cur, 0) + int(f[1])
    return out


class Watch(threading.Thread):
    """Polls the log every period seconds, the exe's status every mem_period
    and its mappings every smaps_period (reading smaps costs the kernel more)."""

    def __init__(self, log_path, exe_name, period=0.001, mem_period=0.02, smaps_period=0.25):
        super().__init__(daemon=True)
        self.log_path, self.exe_name = log_path, exe_name
        self.periods = (period, mem_period, smaps_period)
        self.lines = []             # (host time, line bytes)
        self.mem = None             # last /proc status of the exe process
        self.mem_samples = 0
        self.rss_by_mapping = None  # resident kB per mapping at the fullest look
        self.pid = None
        self._halt = threading.Event()
        self._pos, self._buf = 0, b""

    def stop(self):
        self._halt.set()
        self.join(timeout=5)
        self._poll(time.time())  # whatever came after the last poll

    def _poll(self, now):
        try:
            size = os.stat(self.log_path).st_size
        except OSError:
            return
        if size <= self._pos:
            return
        with open(self.log_path, "rb") as f:
            f.seek(self._pos)
            data = f.read(size - self._pos)
        self._pos += len(data)
        self._buf += data
        while b"\r\n" in self._buf:
            line, self._buf = self._buf.split(b"\r\n", 1)
            self.lines.append((now, line))

    def _read_smaps(self):
        try:
            with open(f"/proc/{self.pid}/smaps") as f:
                text = f.read()
        except OSError:
            return
        if not text:  # empty once the process is gone
            return
        # Keep the look with the most resident: the nearest to the peak.
        m = rss_by_mapping(text)
        if self.rss_by_mapping is None or sum(m.values()) >= sum(self.rss_by_mapping.values()):
            self.rss_by_mapping = m

    def _sample_memory(self, now, next_smaps):
        if self.pid is None:
            self.pid = find_pid(self.exe_name)
        if self.pid is None:
            return next_smaps
        st = read_status(self.pid)
        if st is not None and st.get("VmHWM"):
            self.mem = st
            self.mem_samples += 1
        if now >= next_smaps:
            self._read_smaps()
            return now + self.periods[2]
        return next_smaps

    def run(self):
        period, mem_period, _ = self.periods
        next_mem = next_smaps = 0.0
        while not self._halt.is_set():
            now = time.time()
            self._poll(now)
            if now >= next_mem:
                next_mem = now + mem_period
                next_smaps = self._sample_memory(now, next_smaps)
            time.sleep(period)


class Watcher:
    """The runner's around_exe hook: a Watch over the run's log and the exe's
    process while the exe runs, kept for reading afterwards."""

    def __init__(self, exe_name=EXE_NAME, period=0.001, smaps_period=0.25):
        self.exe_name = exe_name
        self.period = period
        self.smaps_period = smaps_period
        self.watch = None

    @contextlib.contextmanager
    def __call__(self, runner):
        self.watch = Watch(runner.upath(runner.log_win), self.exe_name, period=self.period,
                           smaps_period=self.smaps_period)
        self.watch.start()
        try:
            yield self.watch
        finally:
            self.watch.stop()

    @property
    def lines(self):
        return self.watch.lines if self.watch else []

    def memory(self):
        """The record fields of the exe's memory."""
        w = self.watch
        return {"mem": w and w.mem, "mem_samples": w.mem_samples if w else 0,
                "rss_by_mapping": w and w.rss_by_mapping}

"""The X display of a session: a private Xvfb with openbox (message boxes take
keys only under a window manager), and the xdotool calls that find the
tool's boxes and answer them."""

import contextlib
import os
import select
import subprocess
import sys
import time

from common import SetupError, kill_group, run_cmd

# Title substring used to find the tool's boxes on the X display.
WINDOW_MATCH = "TAVO"


class XSession:
    def __init__(self, timeout=30, tries=3):
        self.timeout = timeout
        self.tries = tries
        self.xvfb = None
        self.wm = None
        self.display = None

    def __enter__(self):
        # openbox has been seen to give up at once ("exited with 1") and to
        # come up fine on the next try.
        for attempt in range(1, self.tries + 1):
            try:
                self.start()
                return self
            except SetupError as e:
                if attempt == self.tries:
                    raise
                print(f"X display did not start ({e}); trying again", file=sys.stderr)
                time.sleep(2)

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        """Xvfb on a free display, then openbox on it; what started is stopped again on failure."""
        rfd, wfd = os.pipe()
        try:
            # -displayfd: Xvfb takes a free display number itself and tells us which.
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(wfd), "-nolisten", "tcp", "-screen", "0", "1280x1024x24"],
                pass_fds=(wfd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True)
            os.close(wfd)
            wfd = None
            buf = b""
            deadline = time.monotonic() + self.timeout
            while not buf.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.xvfb.poll() is not None:
                    raise SetupError("Xvfb did not start (no display number within "
                                     f"{self.timeout}s, exit={self.xvfb.poll()})")
                ready, _, _ = select.select([rfd], [], [], left)
                if ready:
                    chunk = os.read(rfd, 64)
                    if not chunk:
                        raise SetupError("Xvfb closed -displayfd without a display number")
                    buf += chunk
            self.display = ":" + buf.decode().strip()
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(rfd)
            if wfd is not None:
                os.close(wfd)
        try:
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
            self._wait_wm()
        except BaseException:
            self.stop()
            raise

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def _wait_wm(self):
        # openbox sets _NET_SUPPORTING_WM_CHECK on the root window once it manages the screen.
        deadline = time.monotonic() + self.timeout
        while time.monotonic() < deadline:
            if self.wm.poll() is not None:
                raise SetupError(f"openbox exited with {self.wm.returncode}")
            r = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(),
                               capture_output=True, timeout=10)
            if r.returncode == 0 and b"window id" in r.stdout:
                return
            time.sleep(0.1)
        raise SetupError(f"openbox not managing {self.display} after {self.timeout}s")

    def stop(self):
        for p in (self.wm, self.xvfb):
            if p is not None and p.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    kill_group(p)
        self.wm = self.xvfb = None

    # -- xdotool wrappers (all bounded)
    def xdo(self, *args, timeout=10, check=False):
        return run_cmd(["xdotool", *args], env=self.env(), timeout=timeout, check=check,
                       what="xdotool " + " ".join(args))

    def visible_windows(self, match=WINDOW_MATCH):
        r = self.xdo("search", "--onlyvisible", "--name", match)
        return [int(x) for x in r.stdout.split()] if r.returncode == 0 else []

    def window_name(self, wid):
        r = self.xdo("getwindowname", str(wid))
        return r.stdout.decode("utf-8", "replace").rstrip("\n") if r.returncode == 0 else None

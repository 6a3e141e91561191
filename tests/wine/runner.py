"""One scenario, run: a fresh copy of the template prefix, the planting, the
exe run with its dialogs answered, and every check of what it did.

A caller that measures rather than tests (the benchmarks) runs the exe
untraced (relay=False), skips reading the planting back (read_back=False)
and adds its own steps through Hooks.
"""

import contextlib
import datetime
import os
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

from common import LOG_NAME, HarnessError, as_cp932, kill_group, run_cmd, tool_said, winpath_key
from logcheck import compare_log
from regfile import export_plan, full_key, parse_reg_file, registry_differences, write_reg_file
from common import DEFAULT_RELAY_INCLUDE
from relay import RelayTrace, check_seam, compare_calls, compare_dialogs, read_relay, relay_include_value
from scenario import DEFAULT_EXE_AT, log_location, scenario_cwd, validate_scenario
from standin import (FILEOP_TRACE, HOLD_OPEN_EXE, STANDIN_DIR, STANDIN_DLL, check_deleted_tree, check_fileop_trace,
                     fileop_registration, fileop_views, logged_deletions, parse_fileop_trace, standin_builds,
                     tree_state)
from wineprefix import TEMPLATE_STAMP, WINE32_LOADER, current_user, pe_image, unix_path, wine_env, wineserver_kill

# What Wine's reg.exe prints (English, or Japanese in code page 932) when the
# key to export does not exist. Only this message may be read as "absent".
REG_KEY_NOT_FOUND = ("Unable to find the specified registry key",
                     "指定されたレジストリ キーを見つけられません")
REG_EXPORT_ATTEMPTS = 3
JST = datetime.timezone(datetime.timedelta(hours=9))


@dataclass
class Result:
    name: str
    errors: list = field(default_factory=list)
    notes: list = field(default_factory=list)
    retries: list = field(default_factory=list)   # Wine tool runs that had to be repeated
    timings: dict = field(default_factory=dict)
    exit_code: int = None
    trace: RelayTrace = None
    log: bytes = None
    work: str = None

    @property
    def ok(self):
        return not self.errors


@dataclass
class Hooks:
    """Steps a caller adds to a run; each is called with the runner."""
    plant: object = None        # after the scenario's own planting
    around_exe: object = None   # a context manager around each run of the exe
    after: object = None        # after the checks, when they passed


def _jst_now():
    return datetime.datetime.now(JST).replace(tzinfo=None)


class ScenarioRunner:
    """Runs one scenario in a fresh copy of the template prefix."""

    def __init__(self, scenario, exe, setup, template, xs, workdir, keep=False, artifacts=None, *,
                 relay=True, read_back=True, hooks=None):
        self.s = scenario
        self.exe = exe
        self.setup = setup
        self.template = template
        self.xs = xs
        self.workdir = workdir
        self.keep = keep
        self.artifacts = artifacts
        self.relay = relay
        self.read_back = read_back
        self.hooks = hooks or Hooks()
        self.result = Result(scenario.get("name"))
        self.prefix = None
        self.proc = None
        self.holders = []
        self.hold_open_exe = None
        self.tree_after = None
        self.user = current_user()

    @contextlib.contextmanager
    def timed(self, label):
        t = time.monotonic()
        try:
            yield
        finally:
            self.result.timings[label] = round(time.monotonic() - t, 2)

    def env(self, debug="-all"):
        extra = {"TAVO_FILEOP_TRACE": FILEOP_TRACE, **(self.s.get("env") or {})}
        return wine_env(self.prefix, self.xs.display, debug, extra, arch=self.setup.arch)

    def wine(self, *args, timeout=60, check=True, what=None):
        """A Wine tool (reg, regedit, rundll32...) on the prefix's own loader."""
        return run_cmd([self.setup.tool, *args], env=self.env(), cwd=os.path.join(self.prefix, "drive_c"),
                       timeout=timeout, check=check, what=what or "wine " + " ".join(args))

    def win(self, winpath):
        """A scenario's Windows path with "{user}" made the profile's name."""
        return winpath.replace("{user}", self.user)

    def upath(self, winpath):
        return unix_path(self.prefix, winpath, self.user)

    @property
    def exe_win(self):
        return self.win(self.s.get("exe_at", DEFAULT_EXE_AT))

    @property
    def log_win(self):
        return self.win(log_location(self.s))

    def run(self):
        r = self.result
        t0 = time.monotonic()
        try:
            errs = validate_scenario(self.s)
            if errs:
                raise HarnessError("bad scenario: " + "; ".join(errs))
            if not os.path.isfile(self.exe):
                raise HarnessError(f"exe not found: {self.exe}")
            base = tempfile.mkdtemp(prefix=f"tavo-wine-{r.name}-", dir=self.workdir)
            r.work = base
            self.prefix = os.path.join(base, "prefix")
            with self.timed("copy"):
                run_cmd(["cp", "-a", self.template, self.prefix], timeout=120, what="copy template prefix")
                with contextlib.suppress(FileNotFoundError):
                    os.remove(os.path.join(self.prefix, TEMPLATE_STAMP))
            with self.timed("plant"):
                self.plant()
                if self.hooks.plant:
                    self.hooks.plant(self)
            self.hold_files_open()
            self.tree_before = self.tree()
            with self.timed("run"):
                # Each run answers the same dialogs; the checks see the last
                # run's trace and whatever all runs left behind.
                for _ in range(self.s.get("runs", 1)):
                    with self.hooks.around_exe(self) if self.hooks.around_exe else contextlib.nullcontext():
                        self.execute()
            self.tree_after = self.tree()
            with self.timed("check"):
                self.check()
            if self.hooks.after and r.ok:
                self.hooks.after(self)
        except HarnessError as e:
            r.errors.append(str(e))
        except Exception as e:  # a harness bug or odd scenario data: fail this scenario, go on
            r.errors.append(f"harness error: {type(e).__name__}: {e}")
        finally:
            with self.timed("cleanup"):
                self.cleanup()
            r.timings["total"] = round(time.monotonic() - t0, 2)
        return r

    # -- planting
    def plant(self):
        s = self.s
        for path in s.get("missing", []):
            shutil.rmtree(self.upath(path))
        for folder in s.get("folders", []):
            os.makedirs(self.upath(folder), exist_ok=True)
        for path, content in (s.get("files") or {}).items():
            up = self.upath(path)
            os.makedirs(os.path.dirname(up), exist_ok=True)
            with open(up, "wb") as f:
                f.write(as_cp932(content))
        for path, attrs in (s.get("attributes") or {}).items():
            self.set_attributes(self.upath(path), attrs)
        exe_at = self.upath(self.exe_win)
        os.makedirs(os.path.dirname(exe_at), exist_ok=True)
        shutil.copy2(self.exe, exe_at)
        os.makedirs(self.upath(scenario_cwd(s)), exist_ok=True)
        hdir = os.path.join(self.prefix, "drive_c", "tavo-harness")
        os.makedirs(hdir, exist_ok=True)
        self.copy_standin()
        reg = dict(s.get("registry") or {})
        reg[r"HKCU\Software\Wine\Debug"] = {
            "RelayInclude": relay_include_value(s.get("relay_include", DEFAULT_RELAY_INCLUDE))}
        # A crash then ends the exe with its exception code instead of leaving a
        # winedbg dialog up until the exit timeout.
        reg[r"HKCU\Software\Wine\WineDbg"] = {"ShowCrashDialog": 0}
        if s.get("fileop", "standin") != "standin":
            reg.update(fileop_registration(self.setup.arch, s["fileop"]))
        write_reg_file(os.path.join(hdir, "plant.reg"), reg)
        with self.timed("desktop"):
            self.start_wine()
        with self.timed("reg_import"):
            self.import_planted()
        if not self.read_back:
            return
        with self.timed("reg_verify"):
            try:
                self.verify_planted(s.get("registry") or {})
            except HarnessError as e:
                # Seldom, a `reg export` here exits 1 without a word (export_key
                # tries again). Should the import itself ever miss a key, importing
                # again is harmless; a key still missing after that fails the scenario.
                self.result.retries.append(f"importing again: {e}")
                self.import_planted()
                self.verify_planted(s.get("registry") or {})

    def start_wine(self, server_args=(), server_log=None):
        """Start this prefix's server (kept up: -p), services and desktop process untraced: the
        exe's run is then fast and its trace holds only its own calls. server_log takes what the
        server itself prints (with -d1, every request)."""
        try:
            with open(server_log or os.devnull, "wb") as err:
                subprocess.run(["wineserver", "-p", *server_args], env=self.env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=err, timeout=30, check=True,
                               start_new_session=True)
        except (subprocess.SubprocessError, OSError) as e:
            raise HarnessError(f"wineserver -p: {e}") from e
        # rundll32 creates a window, which starts explorer /desktop.
        self.wine("rundll32.exe", "user32.dll,GetDesktopWindow", what="rundll32 (desktop start)")

    @staticmethod
    def set_attributes(up, attrs):
        """"R": read-only (Wine reads a file without write permission so); "H": hidden (Wine
        reads the DOS attributes from the user.DOSATTRIB extended attribute)."""
        if "R" in attrs:
            os.chmod(up, 0o444)
        if "H" in attrs:
            try:
                os.setxattr(up, "user.DOSATTRIB", b"0x2")
            except OSError as e:
                raise HarnessError(f"cannot mark {up} hidden: {e}") from e

    def copy_standin(self):
        """The current build of the stand-in to where the template registered it; the helper that
        holds files open beside it, of the exe's machine."""
        builds = standin_builds()
        for _, machine in fileop_views(self.setup.arch):
            if os.path.isfile(builds[machine]):
                dest = self.upath(rf"{STANDIN_DIR}\{machine}\{STANDIN_DLL}")
                os.makedirs(os.path.dirname(dest), exist_ok=True)
                shutil.copy2(builds[machine], dest)
        machine = "x86" if self.setup.exe == WINE32_LOADER else "x64"
        if self.s.get("fileop", "standin") == "standin" and not os.path.isfile(builds[machine]):
            raise HarnessError(f"the IFileOperation stand-in is not built: {builds[machine]} "
                               f"(cmake --build --preset windows-{machine})")
        self.hold_open_exe = os.path.join(os.path.dirname(builds[machine]), HOLD_OPEN_EXE)

    def hold_files_open(self):
        """Starts one process per hold_open path that keeps the file open (path, or (path, "shared"))."""
        for i, entry in enumerate(self.s.get("hold_open", [])):
            path, *how = (entry,) if isinstance(entry, str) else entry
            out = os.path.join(self.result.work, f"hold-{i}.txt")
            with open(out, "wb") as fout:
                proc = subprocess.Popen([self.setup.exe, self.hold_open_exe, self.win(path), *how],
                                        env=self.env(), stdin=subprocess.DEVNULL, stdout=fout,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
            self.holders.append(proc)
            deadline = time.monotonic() + 60
            while True:
                said = Path(out).read_bytes().decode("ascii", "replace").strip()
                if said:
                    break
                if proc.poll() is not None or time.monotonic() > deadline:
                    raise HarnessError(f"{HOLD_OPEN_EXE} {path}: no answer (exit {proc.poll()})")
                time.sleep(0.1)
            if said != "held":
                raise HarnessError(f"{HOLD_OPEN_EXE} {path}: {said}")

    def tree(self):
        return tree_state(os.path.join(self.prefix, "drive_c"), [self.log_win])

    def import_planted(self):
        """reg import of plant.reg; one failed run (reg.exe sometimes exits 1 unasked) is repeated."""
        r = self.wine("reg", "import", r"C:\tavo-harness\plant.reg", check=False, what="reg import plant.reg")
        if r.returncode != 0:
            said = tool_said(r)
            self.result.retries.append(f"reg import exited {r.returncode}, said {said[-200:]!r}")
            self.wine("reg", "import", r"C:\tavo-harness\plant.reg", what="reg import plant.reg (again)")

    def export_key(self, key):
        """{full key: values} of key and its subkeys, or None when reg.exe says key does not exist.

        Any other failure is tried again and then raised: a check that a key is
        gone must never pass because the export itself failed."""
        out = os.path.join(self.prefix, "drive_c", "tavo-harness", "export.reg")
        failures = []
        for _ in range(REG_EXPORT_ATTEMPTS):
            with contextlib.suppress(FileNotFoundError):
                os.remove(out)
            r = self.wine("reg", "export", full_key(key), r"C:\tavo-harness\export.reg", "/y", check=False,
                          what=f"reg export {key}")
            said = tool_said(r)
            exported = r.returncode == 0 and os.path.exists(out)
            absent = r.returncode == 1 and any(m in said for m in REG_KEY_NOT_FOUND)
            if exported or absent:
                if failures:
                    self.result.retries.append(f"reg export {key} answered after: {'; '.join(failures)}")
                if absent:
                    return None
                return parse_reg_file(Path(out).read_bytes())
            failures.append(f"exit {r.returncode}, file {'written' if os.path.exists(out) else 'missing'}, "
                            f"said {said[-200:]!r}")
        raise HarnessError(f"reg export {key} failed {len(failures)} times: {failures[-1]}")

    def read_keys(self, keys):
        """{key: its values, or None when it does not exist} for keys, with as
        few reg.exe runs as export_plan allows (each one costs a second or
        more when Wine is emulated)."""
        found = {}
        for root in export_plan(keys):
            for k, v in (self.export_key(root) or {}).items():
                found[k.lower()] = v
        return {key: found.get(full_key(key).lower()) for key in keys}

    def verify_planted(self, reg):
        errs = registry_differences(reg, self.read_keys(list(reg)), gone="missing after reg import")
        if errs:
            raise HarnessError("planting failed: " + errs[0])

    # -- running
    def execute(self):
        s = self.s
        r = self.result
        dialog_timeout = s.get("timeout_dialog", 30)
        exit_timeout = s.get("timeout_exit", 30)
        self.shown_titles = []
        self.run_start = _jst_now()
        with open(os.path.join(r.work, "relay.txt"), "wb") as ferr, \
                open(os.path.join(r.work, "stdout.txt"), "wb") as fout:
            self.proc = subprocess.Popen([self.setup.exe, self.exe_win],
                                         env=self.env("-all,+relay" if self.relay else "-all"),
                                         cwd=self.upath(scenario_cwd(s)), stdin=subprocess.DEVNULL, stdout=fout,
                                         stderr=ferr, start_new_session=True)
        try:
            answered = set()
            for i, d in enumerate(s.get("dialogs", []), 1):
                wid = self.wait_dialog(i, d["answer"], answered, dialog_timeout)
                self.shown_titles.append(self.xs.window_name(wid))
                self.answer(i, wid, d["answer"])
                answered.add(wid)
            try:
                r.exit_code = self.proc.wait(timeout=exit_timeout)
            except subprocess.TimeoutExpired:
                left = [self.xs.window_name(w) for w in self.xs.visible_windows(".")]
                more = f"; windows still open: {left}" if left else ""
                raise HarnessError(f"program did not exit within {exit_timeout}s after the last answer{more}")
        finally:
            self.run_end = _jst_now()
            if self.proc.poll() is None:
                wineserver_kill(self.prefix)
                kill_group(self.proc)

    def wait_dialog(self, i, key, answered, timeout):
        deadline = time.monotonic() + timeout
        while True:
            wins = [w for w in self.xs.visible_windows() if w not in answered]
            if wins:
                return wins[0]
            code = self.proc.poll()
            if code is not None:
                self.result.exit_code = code
                raise HarnessError(f"program exited with {code} before dialog {i} (to answer {key!r})")
            if time.monotonic() > deadline:
                raise HarnessError(f"dialog {i} (to answer {key!r}) did not appear within {timeout}s")
            time.sleep(0.1)

    def answer(self, i, wid, key):
        for _ in range(3):
            self.xs.xdo("windowactivate", "--sync", str(wid), timeout=10)
            self.xs.xdo("key", "--clearmodifiers", key, timeout=10)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                if wid not in self.xs.visible_windows():
                    return
                time.sleep(0.1)
            # The key was lost (box not ready for input yet): the same box is still up.
        raise HarnessError(f"dialog {i} did not close after key {key!r} (sent 3 times)")

    # -- results
    def check(self):
        s = self.s
        r = self.result
        errs = r.errors
        want_exit = s.get("exit_code", 0)
        if want_exit is not None and r.exit_code != want_exit:
            errs.append(f"exit code {r.exit_code}, expected {want_exit}")
        if self.relay:
            self.check_trace()
        log_path = Path(self.upath(self.log_win))
        r.log = log_path.read_bytes() if log_path.is_file() else None
        if "log" in s:
            errs += compare_log(s["log"], r.log, run_start=self.run_start, run_end=self.run_end,
                                check_times=s.get("check_log_times", True))
        errs += self.check_deletions()
        after = s.get("registry_after") or {}
        errs += registry_differences(after, self.read_keys(list(after)))
        for path, want in (s.get("files_after") or {}).items():
            up = Path(self.upath(path))
            if not os.path.lexists(up):
                errs += [] if want is None else [f"{path} is gone"]
            elif want is None:
                errs.append(f"{path} still exists")
            elif want is not True and not (up.is_file() and up.read_bytes() == as_cp932(want)):
                got = up.read_bytes()[:80] if up.is_file() else "not a file"
                errs.append(f"{path}: {got!r}, expected {as_cp932(want)[:80]!r}")

    def check_trace(self):
        """The relay trace against the scenario's dialogs, calls and not_called, and what the exe
        promises Windows in every run it traces whole."""
        s, r = self.s, self.result
        r.trace = read_relay(os.path.join(r.work, "relay.txt"))
        errs = r.errors
        if r.trace.bad_lines:
            errs.append(f"unparsed relay lines, first: line {r.trace.bad_lines[0][0]}: {r.trace.bad_lines[0][1]}")
        if r.trace.processes > 1:
            r.notes.append(f"{r.trace.processes} processes traced: calls of all are in the records")
        boxes = r.trace.message_boxes()
        errs += compare_dialogs(s.get("dialogs", []), boxes, self.shown_titles)
        if s.get("calls"):
            errs += compare_calls(s["calls"], r.trace)
        traced = relay_include_value(s.get("relay_include", DEFAULT_RELAY_INCLUDE))
        if all(f in traced for f in DEFAULT_RELAY_INCLUDE):
            errs += check_seam(r.trace, pe_image(self.exe))
        for func in s.get("not_called", []):
            made = r.trace.calls_to(func)
            if made:
                errs.append(f"{func} called {len(made)} time(s), first: {[a.raw[:80] for a in made[0].args]}")
        for b in boxes:
            if b.text is not None and b.text.cut:
                r.notes.append(f"dialog text cut in the trace after {len(b.text.data)} bytes: prefix compared")

    def check_deletions(self):
        """The planted tree lost exactly what the log says was deleted; the stand-in saw the calls
        the log implies."""
        s = self.s
        deletions = logged_deletions(self.result.log)
        done = [self.win(p) for p, failed, _ in deletions if failed is None]
        errs = []
        if "deleted" in s:
            want = [self.win(p) for p in s["deleted"]]
            if sorted(map(winpath_key, done)) != sorted(map(winpath_key, want)):
                errs.append(f"deleted without an error line: {done}, expected {want}")
        errs += check_deleted_tree(self.tree_before, self.tree_after, done,
                                   [self.win(p) for p in s.get("partly_deleted", [])])
        trace = Path(self.upath(FILEOP_TRACE))
        text = trace.read_bytes().decode("utf-8", "replace") if trace.exists() else ""
        if s.get("fileop", "standin") == "standin":
            errs += check_fileop_trace(parse_fileop_trace(text), deletions, self.exe_win)
        elif text:
            errs.append(f"the stand-in was loaded though the scenario runs without it: {text[:120]!r}")
        return errs

    def cleanup(self):
        r = self.result
        for proc in self.holders:
            if proc.poll() is None:
                kill_group(proc)
        if self.prefix and os.path.isdir(self.prefix):
            wineserver_kill(self.prefix)
        if self.proc is not None and self.proc.poll() is None:
            kill_group(self.proc)
        if r.work and self.artifacts and (self.keep or not r.ok):
            self.save_artifacts(os.path.join(self.artifacts, r.name))
        if r.work and not self.keep:
            shutil.rmtree(r.work, ignore_errors=True)

    def save_artifacts(self, dest):
        """What a failed run leaves for reading: its traces, its log, what it left under C:\\
        (Wine's own folders aside) and the result."""
        r = self.result
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest, exist_ok=True)
        for fn in ("relay.txt", "stdout.txt", "prefix/drive_c/tavo-harness/fileop-trace.txt"):
            src = os.path.join(r.work, fn)
            if os.path.exists(src):
                shutil.copy2(src, dest)
        if r.log is not None:
            with open(os.path.join(dest, LOG_NAME), "wb") as f:
                f.write(r.log)
        if self.prefix and os.path.isdir(self.prefix):
            left = tree_state(os.path.join(self.prefix, "drive_c"))
            Path(dest, "drive_c.txt").write_text("".join(f"{k} {v or ''}\n" for k, v in sorted(left.items())),
                                                 encoding="utf-8")
        Path(dest, "result.txt").write_text("\n".join(["errors:"] + r.errors + ["notes:"] + r.notes + [
            f"timings: {r.timings}", f"exit code: {r.exit_code}"]) + "\n", encoding="utf-8")

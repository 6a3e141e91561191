#!/usr/bin/env python3
"""Mutation testing of the product against the host tier or the Wine tier.

One fault at a time goes into a product source; the tests then run against it, cheapest first, and
stop at the first failure. The host tier mutates the product's folders and runs the host tests (ASan
+ UBSan) and the fuzz corpus replay; the Wine tier mutates platform/windows/ with operators on the
Win32 calls' arguments, rebuilds the shipped x86 exe and runs the Wine scenarios. A mutant is killed
(a test failed, a sanitizer fired or a stage timed out), lived, or did not compile. Builds run
without -Werror: a mutant that only adds a warning is judged like the others and marked "warned".
Every file is put back after each mutant, on Ctrl-C and on SIGTERM; a copy of the file being mutated
waits in <out>/pending/ so that even a killed runner is undone by its next start.

    mutate.py --root COPY [--tier host|wine] [--only text/ ...] [--sample N --seed S] [--list]

Campaigns edit sources in place: run them on a copy of the tree (without
.git), never in a working clone, which the runner refuses.
"""
import argparse, hashlib, json, os, random, re, shutil, signal, subprocess, sys, time

TIERS = {"host": ("app/", "ui/", "files/", "registry/", "log/", "text/", "record/"),
         "wine": ("platform/windows/",)}
TOKEN = re.compile(r"""
    (?P<skip>//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*'
        |^[ \t]*\#(?:\\\n|[^\n])*)
  | (?P<num>\b(?:0[xX][0-9a-fA-F]+|[0-9]+)[uUlL]*\b)
  | (?P<id>[A-Za-z_]\w*)
  | (?P<op><<=|>>=|->|\+\+|--|<<|>>|<=|>=|==|!=|&&|\|\||[-+*/%&|^=]=|::|\S)
""", re.S | re.M | re.X)
ROR = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
LOGIC = {"&&": "||", "||": "&&"}
RETURNS = {"0": "1", "1": "0", "kRunGoesOn": "kRunAborted", "kRunAborted": "kRunGoesOn",
           "IDYES": "IDNO", "IDNO": "IDYES", "IDCANCEL": "IDNO"}
STATEMENT_START = {";", "{", "}", "else", ":"}
# Operators, by name: relational and equality flips (ror), && for || and back
# (logic), a dropped ! (not), return-value swaps (ret), +-1 on integer
# constants (const), +-1 on an index and + for - (index), a dropped call
# statement (call). The Wine tier adds, on the Win32 and C runtime calls of
# platform/windows/: an argument made 0 or FALSE and TRUE swapped (arg), a
# flag OR-ed into a mask or style (flag), a neighbouring constant, field or
# function in place of another (swap), and returns swapped by return type.
SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
OPERATORS = ("ror", "logic", "not", "ret", "const", "index", "call", "arg", "flag", "swap")
ARG_FLIPS = {"FALSE": "TRUE", "TRUE": "FALSE"}
ARG_ZERO = ("0", "NULL", "nullptr")  # already nothing: not made 0 again
# callee: (argument index, flags OR-ed into that argument one at a time)
FLAGS = {
    "RegOpenKeyExA": (3, ("KEY_WOW64_64KEY", "KEY_WOW64_32KEY", "KEY_SET_VALUE")),
    "RegDeleteKeyExA": (2, ("KEY_WOW64_64KEY", "KEY_WOW64_32KEY")),
    "MessageBoxA": (3, ("MB_DEFBUTTON2", "MB_ICONWARNING")),
    "SHGetSpecialFolderPathA": (2, ("CSIDL_FLAG_CREATE",)),
    "SetOperationFlags": (0, ("FOF_ALLOWUNDO", "FOF_NOERRORUI")),
    "setDefault": (0, ("LOAD_LIBRARY_SEARCH_APPLICATION_DIR",  # SetDefaultDllDirectories
                       "LOAD_LIBRARY_SEARCH_USER_DIRS")),
}
# name: the neighbours put in its place, one at a time
NEIGHBOURS = {
    "_SH_DENYRW": ("_SH_DENYNO", "_SH_DENYWR", "_SH_DENYRD"),
    "LC_CTYPE": ("LC_ALL", "LC_COLLATE", "LC_MONETARY", "LC_NUMERIC", "LC_TIME"),
    "CLSCTX_ALL": ("CLSCTX_INPROC_SERVER", "CLSCTX_INPROC_HANDLER", "CLSCTX_LOCAL_SERVER",
                   "CLSCTX_REMOTE_SERVER"),
    "LOAD_LIBRARY_SEARCH_SYSTEM32": ("LOAD_LIBRARY_SEARCH_DEFAULT_DIRS",
                                     "LOAD_LIBRARY_SEARCH_APPLICATION_DIR"),
    "_TRUNCATE": ("MAX_PATH",),  # a fixed count instead of "cut to fit"
    "PathIsDirectoryA": ("PathFileExistsA",),
    "PathFileExistsA": ("PathIsDirectoryA",),
    "_localtime64_s": ("_gmtime64_s",),
    "millitm": ("dstflag",),
    "tm_mday": ("tm_wday", "tm_yday"),
    "tm_mon": ("tm_mday",),
}
# Wine tier: a returned expression by the function's return type; "%s" is the
# expression, a pointer type (ending in *) returns NULL. Others as RETURNS.
RETURN_BY_TYPE = {"HRESULT": "SUCCEEDED(%s) ? E_FAIL : S_OK", "OsSystemInfoFn": "NULL"}
NOT_CALLS = {"if", "for", "while", "switch", "return", "sizeof", "defined"}
# The compiler as the project calls it, less -Werror (CMAKE_CXX_COMPILER_LAUNCHER
# of the copy's builds): warnings are read from the build's output instead.
LAUNCHER = """#!/bin/sh
for a do shift; [ "$a" = -Werror ] || set -- "$@" "$a"; done
exec "$@"
"""
# The Wine tier's first scenarios (win64: the exe as a WOW64 process), each a
# stage of its own, cheapest first. Together they reach every function of
# platform/windows/os_win.cpp: the DLL search and COM set-up with their
# arguments in the trace; an empty run logging into the profile's TAVO folder
# and appending to the log there (log file, clock, local time, folder lookups,
# environment, system info, message boxes, registry probes); a complete install
# in both views answered Yes (every registry call, the shell item and file
# operation calls, the code page 932 conversion); the same with deletions that
# fail or are aborted. Mutants that survive them run every other scenario, on
# both machines.
WINE_FIRST = ("dll_search_restricted_before_com", "log_in_profile_tavo_folder_appends",
              "full_machine_all_yes", "full_machine_yes_deletions_fail")


def tokens(text):
    """Code tokens as (kind, start, end, text): comments, string and character
    literals and preprocessor lines never yield one."""
    return [(m.lastgroup, m.start(), m.end(), m.group()) for m in TOKEN.finditer(text)
            if m.lastgroup != "skip"]


def matching(toks, i, open_, close):
    depth, step = 0, 1 if toks[i][3] == open_ else -1
    while 0 <= i < len(toks):
        depth += (toks[i][3] == open_) - (toks[i][3] == close)
        if depth == 0:
            return i
        i += step
    return None


def at_statement_start(toks, i):
    if i == 0:
        return True
    prev = toks[i - 1][3]
    if prev == ")":  # the condition of an if, for or while
        j = matching(toks, i - 1, "(", ")")
        return j is not None and j > 0 and toks[j - 1][3] in ("if", "for", "while")
    return prev in STATEMENT_START


def brace_depths(toks):
    """The depth of braces each token sits at (0: outside every body)."""
    depth, out = 0, []
    for tok in toks:
        depth -= tok[3] == "}"
        out.append(depth)
        depth += tok[3] == "{"
    return out


def return_type(text, toks, i):
    """The source text of the return type of the function whose body holds token i."""
    body, depth = None, 0
    for j in range(i - 1, 0, -1):  # the outermost open brace after a ")" is the body
        depth += (toks[j][3] == "}") - (toks[j][3] == "{")
        if depth < 0:
            depth = 0
            if toks[j - 1][3] == ")":
                body = j
    if body is None:
        return ""
    name = matching(toks, body - 1, "(", ")") - 1
    k = name
    while k > 0 and toks[k - 1][3] not in (";", "{", "}"):
        k -= 1
    return " ".join(text[toks[k][1]:toks[name - 1][2]].split()) if k < name else ""


def call_arguments(toks, i, depths):
    """The arguments, as (first, last) token indexes, of the call that toks[i]
    names (None for a literal, which has no token); None when it names no call:
    a keyword, a declaration or definition (a type name before it, a body after
    it) or anything outside a body."""
    if toks[i][0] != "id" or toks[i][3] in NOT_CALLS or depths[i] == 0 \
            or i + 1 >= len(toks) or toks[i + 1][3] != "(":
        return None
    if toks[i - 1][0] == "id" and toks[i - 1][3] not in ("return", "else", "case"):
        return None
    close = matching(toks, i + 1, "(", ")")
    if close is None or (close + 1 < len(toks) and toks[close + 1][3] == "{"):
        return None
    args, first, level = [], i + 2, 0
    for j in range(i + 2, close + 1):
        level += (toks[j][3] in ("(", "[", "{")) - (toks[j][3] in (")", "]", "}"))
        if (toks[j][3] == "," and level == 0) or j == close:
            args.append((first, j - 1) if j > first else None)
            first = j + 1
    return [] if args == [None] else args


def wine_mutants(text, toks, i, depths):
    """The Wine tier's own mutants at token i: arg, flag and swap."""
    out, (_, s, e, t) = [], toks[i]
    for n in NEIGHBOURS.get(t, ()):
        out.append((s, e, n, "swap"))
    args = call_arguments(toks, i, depths) or []
    for a, b in filter(None, args):
        arg = text[toks[a][1]:toks[b][2]]
        if arg in ARG_FLIPS or arg not in ARG_ZERO:
            out.append((toks[a][1], toks[b][2], ARG_FLIPS.get(arg, "0"), "arg"))
    where, flags = FLAGS.get(t, (len(args), ()))
    if where < len(args) and args[where]:
        a, b = args[where]
        arg = text[toks[a][1]:toks[b][2]]
        out += [(toks[a][1], toks[b][2], "%s | %s" % (arg, f), "flag") for f in flags]
    return out


def mutants_of(text, tier="host"):
    """Every mutant of one source: (start, end, replacement, operator)."""
    toks, out = tokens(text), []
    depths = brace_depths(toks)
    for i, (kind, s, e, t) in enumerate(toks):
        prev = toks[i - 1][3] if i else ""
        nxt = toks[i + 1][3] if i + 1 < len(toks) else ""
        if t in ROR:
            out.append((s, e, ROR[t], "ror"))
        if t in LOGIC:
            out.append((s, e, LOGIC[t], "logic"))
        if t == "!":
            out.append((s, e, "", "not"))
        if t == "return" and nxt != ";":
            end = i + 1
            while toks[end][3] != ";":
                end += matching(toks, end, "(", ")") - end if toks[end][3] == "(" else 0
                end += 1
            a, b = toks[i + 1][1], toks[end - 1][2]
            expr = text[a:b]
            swap = RETURNS.get(expr, "!(%s)" % expr)
            if tier == "wine" and expr not in RETURNS:
                rtype = return_type(text, toks, i)
                swap = RETURN_BY_TYPE.get(rtype, "NULL" if rtype.endswith("*") else "!(%s)")
                swap = swap % expr if "%s" in swap else swap
            if swap != expr:
                out.append((a, b, swap, "ret"))
        if kind == "num" and not (prev == "return" and nxt == ";"):
            digits = re.match(r"0[xX][0-9a-fA-F]+|[0-9]+", t).group()
            value, hexa = int(digits, 0), digits[:2].lower() == "0x"
            for v in ([value + 1, value - 1] if value else [1]):
                out.append((s, s + len(digits), ("0x%X" % v) if hexa else str(v), "const"))
        if t == "[" and i + 2 < len(toks) and toks[i + 2][3] == "]" and toks[i + 1][0] == "id" \
                and not (i >= 2 and toks[i - 2][0] == "id" and toks[i - 2][3] != "return"):
            # a[i] in an expression; "char name[kSize]" declares (const covers sizes)
            for d in ("+ 1", "- 1"):
                out.append((toks[i + 1][2], toks[i + 1][2], " " + d, "index"))
        if t in ("+", "-") and i and (toks[i - 1][0] in ("id", "num") or prev in (")", "]")) \
                and prev not in ("return", "case"):
            out.append((s, e, "-" if t == "+" else "+", "index"))
        if (kind == "id" or t == "(") and at_statement_start(toks, i) and t not in (
                "return", "if", "for", "while", "switch", "else", "case", "break", "do"):
            # f(...); and p->f(...); and ((T*)p)->f(...);
            j = matching(toks, i, "(", ")") if t == "(" else i
            while j is not None and j + 2 < len(toks) and toks[j + 1][3] in ("->", ".") \
                    and toks[j + 2][0] == "id":
                j += 2
            if j is not None and toks[j][0] == "id" and j + 1 < len(toks) \
                    and toks[j + 1][3] == "(":
                close = matching(toks, j + 1, "(", ")")
                if close and close + 1 < len(toks) and toks[close + 1][3] == ";":
                    out.append((s, toks[close + 1][2], "{}", "call"))
        if tier == "wine":
            out += wine_mutants(text, toks, i, depths)
    return out


def describe(path, text, m):
    s, e, repl, op = m
    line = text.count("\n", 0, s) + 1
    bol = text.rfind("\n", 0, s) + 1
    eol = text.find("\n", e) if text.find("\n", e) >= 0 else len(text)
    src, mutated = text[bol:eol].strip(), (text[bol:s] + repl + text[e:eol]).strip()
    # The key names a mutant by its line's text and column, not its line
    # number, so that it survives edits elsewhere in the file.
    return {"id": "%s:%d:%d:%s" % (path, line, s - bol + 1, op), "file": path, "line": line,
            "op": op, "from": text[s:e], "to": repl, "source": src, "mutated": mutated,
            "key": "%s | %s | %s | %d: %s -> %s" % (path, op, src, s - bol + 1,
                                                   " ".join(text[s:e].split()), repl)}


def all_mutants(root, only, tier="host"):
    found = []
    for folder in TIERS[tier]:
        for dirpath, _, names in sorted(os.walk(os.path.join(root, folder))):
            for name in sorted(names):
                path = os.path.relpath(os.path.join(dirpath, name), root)
                if name.endswith((".cpp", ".h")) and (not only or any(
                        path.startswith(o) for o in only)):
                    text = open(os.path.join(root, path), encoding="utf-8").read()
                    found += [(path, m, describe(path, text, m)) for m in mutants_of(text, tier)]
    return found


class Interrupted(Exception):
    pass


def run(cmd, cwd, timeout, output=None):
    """Exit code of cmd, or 'timeout'; its whole process group dies with it
    (SIGTERM first, so that the Wine runner can clean up, then SIGKILL)."""
    sink = open(output, "wb") if output else subprocess.DEVNULL
    p = subprocess.Popen(cmd, cwd=cwd, stdout=sink, stderr=subprocess.STDOUT,
                         start_new_session=True)
    try:
        return p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return "timeout"
    finally:
        if output:
            sink.close()
        if p.poll() is None:
            try:
                os.killpg(p.pid, signal.SIGTERM)
                p.wait(timeout=20)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass
            try:
                os.killpg(p.pid, signal.SIGKILL)  # and whatever the leader left behind
            except ProcessLookupError:
                pass
            p.wait()


def stages(root, with_fuzz, jobs, tier="host"):
    """(name, command, is a build, working directory) of each stage, cheapest first."""
    nice = ["nice", "-n", "10"]
    if tier == "wine":
        exe = os.path.join(root, "build/windows-x86/TAVOSweeper.exe")
        wine = ["bash", os.path.join(root, "scripts/wine-root.sh"), "run", "python3",
                os.path.join(root, "tests/wine/run_wine_tests.py"), exe]
        rest = "^(?!(?:%s)$)" % "|".join(WINE_FIRST)
        return ([("build exe", nice + ["ninja", "-C", os.path.join(root, "build/windows-x86"),
                                       "-j%d" % jobs], True, root)] +
                [("wine " + n, wine + ["^%s$" % n, "--machine", "win64"], False, root)
                 for n in WINE_FIRST] +
                [("wine win64 rest", wine + [rest, "--machine", "win64"], False, root),
                 ("wine win32", wine + ["", "--machine", "win32"], False, root)])
    host, fuzz = os.path.join(root, "build/host"), os.path.join(root, "build/fuzz")
    tests, cwd = os.path.join(host, "tests/tavo_host_tests"), os.path.join(host, "tests")
    out = [("build host", nice + ["ninja", "-C", host, "-j%d" % jobs, "tests/tavo_host_tests"],
            True, cwd),
           ("host tests", [tests, "--gtest_fail_fast", "--gtest_filter=-HostileTest.*"], False, cwd)]
    if with_fuzz:
        corpus = os.path.join(root, "tests/fuzz/corpus/whole_run")
        seeds = sorted(os.path.join(corpus, n) for n in os.listdir(corpus))
        out += [("build fuzz", nice + ["ninja", "-C", fuzz, "-j%d" % jobs, "fuzz_whole_run",
                                       "fuzz_checks_test"], True, cwd),
                ("fuzz replay", [os.path.join(fuzz, "fuzz_whole_run")] + seeds, False, cwd),
                ("fuzz checks", [os.path.join(fuzz, "fuzz_checks_test"), "--gtest_fail_fast"],
                 False, cwd)]
    return out + [("hostile tests", [tests, "--gtest_filter=HostileTest.*"], False, cwd)]


def judge(plan, limits, build_log):
    """'killed by <stage>', 'lived' or 'not compiled', the stages' times, and
    whether a build printed a warning (which -Werror would have made an error)."""
    times, warned = {}, False
    for name, cmd, is_build, cwd in plan:
        t0 = time.time()
        rc = run(cmd, cwd, limits.get(name, 3600), build_log if is_build else None)
        times[name] = time.time() - t0
        if is_build:
            warned |= b"warning:" in open(build_log, "rb").read()
        if rc != 0:
            return ("not compiled" if is_build else "killed by %s" % name), times, warned
    return "lived", times, warned


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "../.."))
    ap.add_argument("--tier", choices=sorted(TIERS), default="host",
                    help="host: the product's folders against the host tests and fuzz replay; "
                         "wine: platform/windows/ against the Wine scenarios of the x86 exe")
    ap.add_argument("--only", action="append", help="a folder or file below the root")
    ap.add_argument("--op", action="append", choices=OPERATORS)
    ap.add_argument("--match", help="only mutants whose mutated line matches this regex")
    ap.add_argument("--sample", type=int, help="a seeded sample of this many mutants")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--no-fuzz", action="store_true", help="host tier: host tests only")
    ap.add_argument("--jobs", type=int, default=1, help="build jobs (default 1)")
    ap.add_argument("--list", action="store_true", help="list the mutants, run nothing")
    ap.add_argument("--resume", action="store_true",
                    help="keep the results already in <out>, judge only the other mutants, and "
                         "take the unmutated tree's stage times from the run that began them")
    ap.add_argument("--out", help="results folder (default <root>/build/mutation)")
    ap.add_argument("--equivalent", default=os.path.join(os.path.dirname(__file__),
                                                         "equivalent.txt"))
    a = ap.parse_args(argv)
    root = os.path.abspath(a.root)
    out = os.path.abspath(a.out or os.path.join(root, "build/mutation"))
    pending = os.path.join(out, "pending")
    os.makedirs(pending, exist_ok=True)
    for name in os.listdir(pending):  # left by a runner that was killed
        slot = os.path.join(pending, name)
        if os.path.exists(os.path.join(slot, "original")):  # else not yet mutated
            rel = json.load(open(os.path.join(slot, "path")))
            shutil.copyfile(os.path.join(slot, "original"), os.path.join(root, rel))
            print("restored %s from an interrupted run" % rel)
        shutil.rmtree(slot)
    chosen = [m for m in all_mutants(root, a.only, a.tier) if (not a.op or m[1][3] in a.op)
              and (not a.match or re.search(a.match, m[2]["mutated"]))]
    if a.sample and a.sample < len(chosen):
        chosen = sorted(random.Random(a.seed).sample(chosen, a.sample), key=lambda m: m[2]["id"])
    if a.list:
        for _, _, d in chosen:
            print("%s  %s -> %s   %s" % (d["id"], d["from"], d["to"], d["source"]))
        print("%d mutants" % len(chosen))
        return 0
    if os.path.exists(os.path.join(root, ".git")):
        sys.exit("%s is a git clone: run campaigns on a copy of it" % root)
    equivalent = {}
    if os.path.exists(a.equivalent):
        for line in open(a.equivalent, encoding="utf-8"):
            if " # " in line and not line.startswith("#"):
                key, reason = line.rstrip("\n").split(" # ", 1)
                equivalent[key.strip()] = reason.strip()
    # The copy's builds compile C++ through LAUNCHER, so without -Werror.
    launcher = os.path.join(root, "build/cxx-without-werror.sh")
    os.makedirs(os.path.dirname(launcher), exist_ok=True)
    with open(launcher, "w") as f:
        f.write(LAUNCHER)
    os.chmod(launcher, 0o755)
    allow = "-DCMAKE_CXX_COMPILER_LAUNCHER=" + launcher
    configure = [["cmake", "--preset", "windows-x86" if a.tier == "wine" else "host", allow]]
    if a.tier == "host" and not a.no_fuzz:
        configure.append(["cmake", "-S", "tests/fuzz", "-B", "build/fuzz", "-G", "Ninja",
                          "-DCMAKE_CXX_COMPILER=clang++", "-DCMAKE_C_COMPILER=clang", allow])
    for cmd in configure:
        subprocess.run(cmd, cwd=root, check=True, stdout=subprocess.DEVNULL)
    plan = stages(root, not a.no_fuzz, a.jobs, a.tier)
    build_log, base_path = os.path.join(out, "build.txt"), os.path.join(out, "unmutated.json")
    results_path = os.path.join(out, "results.jsonl")
    done = {}
    if a.resume and os.path.exists(results_path):
        with open(results_path, encoding="utf-8") as f:
            done = {(d["id"], d["to"]): d for d in map(json.loads, f)}
    if a.resume and os.path.exists(base_path):
        verdict, _, warned = judge([p for p in plan if p[2]], {}, build_log)  # builds only
        with open(base_path) as f:
            base = json.load(f)
    else:
        verdict, base, warned = judge(plan, {}, build_log)
        with open(base_path, "w") as f:
            json.dump(base, f)
    print("unmutated tree: %s (%s)" % (verdict, ", ".join("%s %.1f s" % kv for kv in base.items())))
    if verdict != "lived":
        sys.exit("the unmutated tree must build and pass")
    if warned:
        print("note: the unmutated tree built with warnings; 'warned' below means little")
    limits = {name: 60 + 5 * t for name, t in base.items()}

    def stop(signum, frame):
        raise Interrupted()
    for sig in SIGNALS:
        signal.signal(sig, stop)
    results = [done[d["id"], d["to"]] for _, _, d in chosen if (d["id"], d["to"]) in done]
    chosen = [m for m in chosen if (m[2]["id"], m[2]["to"]) not in done]
    counts, skipped = {}, len(results)
    for d in results:
        counts[d["kind"]] = counts.get(d["kind"], 0) + 1
    log = open(results_path, "a" if a.resume else "w")
    try:
        for n, (path, (s, e, repl, op), d) in enumerate(chosen, 1):
            full = os.path.join(root, path)
            original = open(full, "rb").read()
            slot = os.path.join(pending, hashlib.sha1(path.encode()).hexdigest())
            os.makedirs(slot, exist_ok=True)
            json.dump(path, open(os.path.join(slot, "path"), "w"))
            open(os.path.join(slot, "original.tmp"), "wb").write(original)
            os.replace(os.path.join(slot, "original.tmp"), os.path.join(slot, "original"))
            try:
                text = original.decode("utf-8")
                open(full, "w", encoding="utf-8").write(text[:s] + repl + text[e:])
                print("[%d/%d] %s  %s -> %s" % (n, len(chosen), d["id"], d["from"], repl),
                      end="  ", flush=True)
                t0 = time.time()
                verdict, _, warned = judge(plan, limits, build_log)
            finally:
                signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)  # no signal cuts this short
                open(full, "wb").write(original)  # a new mtime: the next build redoes it
                shutil.rmtree(slot)
                signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
            kind = verdict.split(" by ")[0]
            if kind == "lived" and d["key"] in equivalent:
                kind = "equivalent"
            counts[kind] = counts.get(kind, 0) + 1
            d.update(outcome=verdict, kind=kind, warned=warned, seconds=round(time.time() - t0, 1))
            results.append(d)
            log.write(json.dumps(d, ensure_ascii=False) + "\n")
            log.flush()
            print((verdict if kind != "equivalent" else "lived (equivalent)") +
                  (" (warned)" if warned else ""), flush=True)
    except Interrupted:
        print("\ninterrupted: every file is restored")
    finally:
        log.close()
    with open(os.path.join(out, "lived.txt"), "w", encoding="utf-8") as f:
        for d in results:
            if d["kind"] == "lived":
                f.write("%s # %s\n" % (d["key"], d["id"]))
    scored = counts.get("killed", 0) + counts.get("lived", 0)
    print("%d mutants: %d killed, %d lived, %d equivalent, %d not compiled; score %.1f %% "
          "of %d non-equivalent" % (len(results), counts.get("killed", 0),
                                    counts.get("lived", 0), counts.get("equivalent", 0),
                                    counts.get("not compiled", 0),
                                    100.0 * counts.get("killed", 0) / max(scored, 1), scored))
    def tally(rows):
        kinds = [d["kind"] for d in rows]
        return ", ".join("%d %s" % (kinds.count(k), k) for k in
                         ("killed", "lived", "equivalent", "not compiled") if k in kinds)
    for op in OPERATORS:
        if any(d["op"] == op for d in results):
            print("  %-6s %s" % (op, tally([d for d in results if d["op"] == op])))
    warned = [d for d in results if d["warned"]]
    print("%d built only with warnings, which -Werror would have stopped: %s" % (
        len(warned), tally(warned) or "none"))
    print("lived: %s, all results: %s" % (os.path.join(out, "lived.txt"), results_path))
    return 0 if len(results) == skipped + len(chosen) else 130


if __name__ == "__main__":
    sys.exit(main())

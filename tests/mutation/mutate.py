#!/usr/bin/env python3
"""Mutation testing of the product against the host tier.

One fault at a time goes into a product source; the host tests (ASan +
UBSan) and the fuzz corpus replay then run against it, cheapest first, and
stop at the first failure. A mutant is killed (a test failed, a sanitizer
fired or a stage timed out), lived, or did not compile. Every file is put
back after each mutant, on Ctrl-C and on SIGTERM; a copy of the file being
mutated waits in <out>/pending/ so that even a killed runner is undone by
its next start.

    mutate.py --root COPY [--only text/ ...] [--sample N --seed S] [--list]

Campaigns edit sources in place: run them on a copy of the tree (without
.git), never in a working clone, which the runner refuses.
"""
import argparse, hashlib, json, os, random, re, shutil, signal, subprocess, sys, time

FOLDERS = ("app/", "ui/", "files/", "registry/", "log/", "text/", "record/")
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
# statement (call).
SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
OPERATORS = ("ror", "logic", "not", "ret", "const", "index", "call")


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


def mutants_of(text):
    """Every mutant of one source: (start, end, replacement, operator)."""
    toks, out = tokens(text), []
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
            out.append((a, b, RETURNS.get(expr, "!(%s)" % expr), "ret"))
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
        if kind == "id" and at_statement_start(toks, i) and t not in ("return", "if", "for",
                                                                    "while", "switch", "else",
                                                                    "case", "break", "do"):
            j = i
            while j + 2 < len(toks) and toks[j + 1][3] in ("->", ".") and toks[j + 2][0] == "id":
                j += 2
            if j + 1 < len(toks) and toks[j + 1][3] == "(":
                close = matching(toks, j + 1, "(", ")")
                if close and close + 1 < len(toks) and toks[close + 1][3] == ";":
                    out.append((s, toks[close + 1][2], "{}", "call"))
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


def all_mutants(root, only):
    found = []
    for folder in FOLDERS:
        for dirpath, _, names in sorted(os.walk(os.path.join(root, folder))):
            for name in sorted(names):
                path = os.path.relpath(os.path.join(dirpath, name), root)
                if name.endswith((".cpp", ".h")) and (not only or any(
                        path.startswith(o) for o in only)):
                    text = open(os.path.join(root, path), encoding="utf-8").read()
                    found += [(path, m, describe(path, text, m)) for m in mutants_of(text)]
    return found


class Interrupted(Exception):
    pass


def run(cmd, cwd, timeout):
    """Exit code of cmd, or 'timeout'; its whole process group dies with it."""
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    try:
        return p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return "timeout"
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()


def stages(root, with_fuzz, jobs):
    host, fuzz = os.path.join(root, "build/host"), os.path.join(root, "build/fuzz")
    tests = os.path.join(host, "tests/tavo_host_tests")
    nice = ["nice", "-n", "10"]
    out = [("build host", nice + ["ninja", "-C", host, "-j%d" % jobs, "tests/tavo_host_tests"], True),
           ("host tests", [tests, "--gtest_fail_fast", "--gtest_filter=-HostileTest.*"], False)]
    if with_fuzz:
        corpus = os.path.join(root, "tests/fuzz/corpus/whole_run")
        seeds = sorted(os.path.join(corpus, n) for n in os.listdir(corpus))
        out += [("build fuzz", nice + ["ninja", "-C", fuzz, "-j%d" % jobs, "fuzz_whole_run",
                                       "fuzz_checks_test"], True),
                ("fuzz replay", [os.path.join(fuzz, "fuzz_whole_run")] + seeds, False),
                ("fuzz checks", [os.path.join(fuzz, "fuzz_checks_test"), "--gtest_fail_fast"],
                 False)]
    return out + [("hostile tests", [tests, "--gtest_filter=HostileTest.*"], False)]


def judge(root, plan, limits):
    """'killed by <stage>', 'lived' or 'not compiled', with the stages' times."""
    times = {}
    for name, cmd, is_build in plan:
        t0 = time.time()
        rc = run(cmd, os.path.join(root, "build/host/tests"), limits.get(name, 3600))
        times[name] = time.time() - t0
        if rc != 0:
            return ("not compiled" if is_build else "killed by %s" % name), times
    return "lived", times


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "../.."))
    ap.add_argument("--only", action="append", help="a folder or file below the root")
    ap.add_argument("--op", action="append", choices=OPERATORS)
    ap.add_argument("--match", help="only mutants whose mutated line matches this regex")
    ap.add_argument("--sample", type=int, help="a seeded sample of this many mutants")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--no-fuzz", action="store_true", help="host tests only")
    ap.add_argument("--jobs", type=int, default=1, help="build jobs (default 1)")
    ap.add_argument("--list", action="store_true", help="list the mutants, run nothing")
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
    chosen = [m for m in all_mutants(root, a.only) if (not a.op or m[1][3] in a.op)
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
    configure = [["cmake", "--preset", "host"]]
    if not a.no_fuzz:
        configure.append(["cmake", "-S", "tests/fuzz", "-B", "build/fuzz", "-G", "Ninja",
                          "-DCMAKE_CXX_COMPILER=clang++", "-DCMAKE_C_COMPILER=clang"])
    for cmd in configure:
        subprocess.run(cmd, cwd=root, check=True, stdout=subprocess.DEVNULL)
    plan = stages(root, not a.no_fuzz, a.jobs)
    verdict, base = judge(root, plan, {})
    print("unmutated tree: %s (%s)" % (verdict, ", ".join("%s %.1f s" % kv for kv in base.items())))
    if verdict != "lived":
        sys.exit("the unmutated tree must build and pass")
    limits = {name: 60 + 5 * t for name, t in base.items()}

    def stop(signum, frame):
        raise Interrupted()
    for sig in SIGNALS:
        signal.signal(sig, stop)
    results, counts = [], {}
    results_path = os.path.join(out, "results.jsonl")
    log = open(results_path, "w")
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
                verdict, _ = judge(root, plan, limits)
            finally:
                signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)  # no signal cuts this short
                open(full, "wb").write(original)  # a new mtime: the next build redoes it
                shutil.rmtree(slot)
                signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
            kind = verdict.split(" by ")[0]
            if kind == "lived" and d["key"] in equivalent:
                kind = "equivalent"
            counts[kind] = counts.get(kind, 0) + 1
            d.update(outcome=verdict, kind=kind, seconds=round(time.time() - t0, 1))
            results.append(d)
            log.write(json.dumps(d, ensure_ascii=False) + "\n")
            log.flush()
            print(verdict if kind != "equivalent" else "lived (equivalent)", flush=True)
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
    print("lived: %s, all results: %s" % (os.path.join(out, "lived.txt"), results_path))
    return 0 if len(results) == len(chosen) else 130


if __name__ == "__main__":
    sys.exit(main())

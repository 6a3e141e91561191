#!/usr/bin/env python3
"""Self-test of the mutation runner: its operators, the Wine tier's too, stay out of comments and
literals and find the faults they should, the Wine tier's stages run every scenario once, a known
fault is caught by the host tests (also one that only builds without -Werror), and the tree it ran
on is left byte-identical, also after an interrupt or a killed runner. The runner only ever works on
a throwaway copy of this tree, so a test run cannot leave the checkout mutated; nothing here runs
Wine. Ends with "N passed, M failed"."""
import hashlib, json, os, re, shutil, signal, subprocess, sys, tempfile, unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "../.."))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(REPO, "tests/wine"))
sys.dont_write_bytecode = True
import mutate  # noqa: E402
import run_wine_tests  # noqa: E402

# The lead-byte test with its lower edge moved: 0x81 no longer starts a
# two-byte character, so texts would be cut inside one.
KNOWN_FAULT = ["--only", "text/text.cpp", "--op", "ror", "--match", r"\(c > 0x81 &&"]
# The format's flag loop without its end-of-text test: "a || b && c" warns
# (-Wparentheses), and the loop then runs past a format's NUL.
KNOWN_WARNED = ["--only", "log/log.cpp", "--op", "logic", "--match", r"while \(\*at != '\\0' \|\|"]
COPIED = ("app", "ui", "files", "registry", "log", "text", "record", "platform", "res", "cmake",
          "tests/host", "tests/golden", "tests/lint", "tests/mutation", "tests/CMakeLists.txt",
          "CMakeLists.txt", "CMakePresets.json")


def digest(root):
    """Hash of every file below root but its build folder."""
    out = {}
    for dirpath, dirs, names in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.relpath(os.path.join(dirpath, d), root) != "build"]
        for name in names:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root)] = hashlib.sha256(f.read()).hexdigest()
    return out


def changed(root, before):
    """Files that differ from `before`, appeared or went."""
    now = digest(root)
    return sorted(k for k in set(now) | set(before) if now.get(k) != before.get(k))


class OperatorTest(unittest.TestCase):
    def test_comments_literals_and_directives_are_never_mutated(self):
        code = ('#include <a.h>\n#define LIMIT (1 < 2)\n// if (a < b) return 0;\n'
                '/* x && y; Drop(); */ const char* s = "a < b || !c"; char q = \'<\';\n'
                'int F(int a, int b) {\n  if (a < b && !b) return 0;\n  Drop(a[b], 3);\n'
                '  return a - b;\n}\n')
        code_start = code.index("int F")
        found = mutate.mutants_of(code)
        self.assertTrue(all(s >= code_start for s, _, _, _ in found), found)
        self.assertNotIn(code.index('"a < b'), [s for s, _, _, _ in found])
        got = sorted((code[s:e], repl, op) for s, e, repl, op in found)
        self.assertEqual(got, sorted([
            ("<", "<=", "ror"), ("&&", "||", "logic"), ("!", "", "not"), ("0", "1", "ret"),
            ("", " + 1", "index"), ("", " - 1", "index"), ("3", "4", "const"),
            ("3", "2", "const"), ("Drop(a[b], 3);", "{}", "call"), ("-", "+", "index"),
            ("a - b", "!(a - b)", "ret")]))

    def test_a_call_in_a_condition_or_declaration_is_not_a_statement(self):
        code = "void G() {\n  if (Open(x)) Close(x);\n  int n = Count(x);\n  obj->Release();\n}\n"
        calls = [code[s:e] for s, e, _, op in mutate.mutants_of(code) if op == "call"]
        self.assertEqual(calls, ["Close(x);", "obj->Release();"])


    def test_wine_operators_find_the_seam_faults_and_only_in_code(self):
        code = ('#define MODE _SH_DENYRW\n// RegCloseKey(key); CLSCTX_ALL FALSE\n'
                'const char* s = "_fsopen(p, \\"ab\\", _SH_DENYRW) CLSCTX_ALL FALSE";\n'
                'FILE* Open(const char* path) { return _fsopen(path, "ab", _SH_DENYRW); }\n'
                'int Folder(char* buf, int csidl) {\n'
                '  return SHGetSpecialFolderPathA(NULL, buf, csidl, FALSE) != FALSE;\n}\n'
                'HRESULT Create(void** op) {\n'
                '  HRESULT result = CoCreateInstance(CLSID_X, NULL, CLSCTX_ALL, IID_X, op);\n'
                '  return result;\n}\n'
                'void Close(HKEY key) { RegCloseKey(key); }\n'
                'void Release(Item* item) { ((IShellItem*)item)->Release(); }\n')
        code_start = code.index("FILE* Open")
        found = mutate.mutants_of(code, "wine")
        self.assertTrue(all(s >= code_start for s, _, _, _ in found), found)
        got = sorted((code[s:e], repl, op) for s, e, repl, op in found)

        def within(name):  # the mutants inside one function's definition
            a = code.index(name)
            b = code.index("}", a)
            return sorted((code[s:e], repl, op) for s, e, repl, op in found if a <= s < b)
        self.assertEqual(within("FILE* Open"), sorted([
            ('_fsopen(path, "ab", _SH_DENYRW)', "NULL", "ret"), ("path", "0", "arg"),
            ("_SH_DENYRW", "0", "arg"), ("_SH_DENYRW", "_SH_DENYNO", "swap"),
            ("_SH_DENYRW", "_SH_DENYWR", "swap"), ("_SH_DENYRW", "_SH_DENYRD", "swap")]))
        call = "SHGetSpecialFolderPathA(NULL, buf, csidl, FALSE)"
        self.assertEqual(within("int Folder"), sorted([
            (call + " != FALSE", "!(%s != FALSE)" % call, "ret"), ("buf", "0", "arg"),
            ("csidl", "0", "arg"), ("FALSE", "TRUE", "arg"),
            ("csidl", "csidl | CSIDL_FLAG_CREATE", "flag"), ("!=", "==", "ror")]))
        for mutant in [("CLSCTX_ALL", "CLSCTX_INPROC_SERVER", "swap"),
                       ("CLSCTX_ALL", "CLSCTX_LOCAL_SERVER", "swap"), ("op", "0", "arg"),
                       ("result", "SUCCEEDED(result) ? E_FAIL : S_OK", "ret")]:
            self.assertIn(mutant, got)
        self.assertEqual(within("void Close"), sorted([("RegCloseKey(key);", "{}", "call"),
                                                       ("key", "0", "arg")]))
        self.assertEqual(within("void Release"), [
            ("((IShellItem*)item)->Release();", "{}", "call")])
        # The host tier knows none of the Wine tier's operators.
        self.assertFalse({op for _, _, _, op in mutate.mutants_of(code)} & {"arg", "flag", "swap"})

    def test_wine_stages_run_every_scenario_once_the_first_ones_first(self):
        plan = mutate.stages("/copy", True, 1, "wine")
        self.assertEqual([p[0] for p in plan if p[2]], ["build exe"])
        scenarios, problems = run_wine_tests.load_scenarios([run_wine_tests.SCENARIO_DIR])
        self.assertEqual(problems, [])
        runs = {}
        for name, cmd, _, _ in plan[1:]:
            at = cmd.index("--machine")
            for s in scenarios:
                if s.get("machine", "win64") == cmd[at + 1] and re.search(cmd[at - 1], s["name"]):
                    runs.setdefault(s["name"], []).append(name)
        self.assertEqual(sorted(runs), sorted(s["name"] for s in scenarios))
        self.assertEqual([n for n, stages in runs.items() if len(stages) != 1], [])
        self.assertEqual([runs[n] for n in mutate.WINE_FIRST],
                         [["wine " + n] for n in mutate.WINE_FIRST])
        self.assertEqual([p[0] for p in plan[1:len(mutate.WINE_FIRST) + 1]],
                         ["wine " + n for n in mutate.WINE_FIRST])

    def test_the_compiler_launcher_drops_only_werror(self):
        with tempfile.NamedTemporaryFile("w", suffix=".sh") as f:
            f.write(mutate.LAUNCHER)
            f.flush()
            run = subprocess.run(["sh", f.name, "printf", "[%s]", "-Wall", "-Werror", "a b",
                                  "-Werror=format", "-Werror"], capture_output=True, text=True)
        self.assertEqual(run.stdout, "[-Wall][a b][-Werror=format]")


class RunnerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tavo-mutation-selftest-")
        cls.root = os.path.join(cls.tmp, "tree")
        for rel in COPIED:
            src, dst = os.path.join(REPO, rel), os.path.join(cls.root, rel)
            if os.path.isdir(src):
                shutil.copytree(src, dst, ignore=shutil.ignore_patterns("__pycache__"))
            else:
                os.makedirs(os.path.dirname(dst), exist_ok=True)
                shutil.copyfile(src, dst)
        cls.before = digest(cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def runner(self, *args):
        return [sys.executable, "-B", os.path.join(self.root, "tests/mutation/mutate.py"),
                "--root", self.root, "--no-fuzz", "--jobs", str(os.cpu_count() or 1)] + list(args)

    def test_1_known_fault_is_killed_and_the_tree_is_left_as_it_was(self):
        run = subprocess.run(self.runner(*KNOWN_FAULT), capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("unmutated tree: lived", run.stdout)
        self.assertIn("1 mutants: 1 killed, 0 lived", run.stdout)
        self.assertIn("0 built only with warnings", run.stdout)
        self.assertEqual(changed(self.root, self.before), [])

    def test_1b_a_resumed_campaign_judges_only_what_is_left(self):
        run = subprocess.run(self.runner("--resume", *KNOWN_FAULT), capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertNotIn("[1/", run.stdout)
        self.assertIn("1 mutants: 1 killed, 0 lived", run.stdout)
        with open(os.path.join(self.root, "build/mutation/results.jsonl")) as f:
            self.assertEqual(len(f.readlines()), 1)

    def test_2_a_fault_that_only_warns_is_judged_and_marked(self):
        out = os.path.join(self.tmp, "warned")
        run = subprocess.run(self.runner("--out", out, *KNOWN_WARNED), capture_output=True,
                             text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("1 mutants: 1 killed, 0 lived", run.stdout)
        self.assertIn("1 built only with warnings, which -Werror would have stopped: 1 killed",
                      run.stdout)
        with open(os.path.join(out, "results.jsonl")) as f:
            self.assertTrue(json.loads(f.readline())["warned"])
        self.assertEqual(changed(self.root, self.before), [])

    def test_3_an_interrupted_campaign_restores_the_file(self):
        p = subprocess.Popen(self.runner(*KNOWN_FAULT), stdout=subprocess.PIPE, text=True)
        seen = ""
        while "[1/1]" not in seen:  # printed once the fault is in the file
            c = p.stdout.read(1)
            self.assertTrue(c, seen)
            seen += c
        self.assertEqual(changed(self.root, self.before), ["text/text.cpp"])
        p.send_signal(signal.SIGTERM)
        rest = p.stdout.read()
        p.stdout.close()
        self.assertEqual(p.wait(), 130, seen + rest)
        self.assertIn("interrupted: every file is restored", rest)
        self.assertEqual(changed(self.root, self.before), [])

    def test_4_a_killed_runner_is_undone_by_the_next_start(self):
        # What a runner killed mid-mutant leaves: the file mutated, its copy pending.
        path = os.path.join(self.root, "text/text.cpp")
        with open(path, "rb") as f:
            original = f.read()
        slot = os.path.join(self.root, "build/mutation/pending/x")
        os.makedirs(slot)
        with open(os.path.join(slot, "path"), "w") as f:
            json.dump("text/text.cpp", f)
        with open(os.path.join(slot, "original"), "wb") as f:
            f.write(original)
        with open(path, "wb") as f:
            f.write(original.replace(b"c >= 0x81", b"c > 0x81"))
        run = subprocess.run(self.runner("--list", *KNOWN_FAULT), capture_output=True, text=True)
        self.assertIn("restored text/text.cpp from an interrupted run", run.stdout)
        self.assertEqual(changed(self.root, self.before), [])
        self.assertFalse(os.path.exists(slot))

    def test_5_a_git_clone_is_refused(self):
        os.makedirs(os.path.join(self.root, ".git"))
        try:
            run = subprocess.run(self.runner(*KNOWN_FAULT), capture_output=True, text=True)
        finally:
            os.rmdir(os.path.join(self.root, ".git"))
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("is a git clone", run.stderr)
        self.assertEqual(changed(self.root, self.before), [])


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    bad = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - bad, bad))
    sys.exit(1 if bad else 0)

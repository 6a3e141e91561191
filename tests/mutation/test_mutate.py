#!/usr/bin/env python3
"""Self-test of the mutation runner: its operators stay out of comments and
literals, a known fault is caught by the host tests, and the tree it ran on
is left byte-identical, also after an interrupt or a killed runner. The
runner only ever works on a throwaway copy of this tree, so a test run cannot
leave the checkout mutated. Ends with "N passed, M failed"."""
import hashlib, json, os, shutil, signal, subprocess, sys, tempfile, unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "../.."))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True
import mutate  # noqa: E402

# The lead-byte test with its lower edge moved: 0x81 no longer starts a
# two-byte character, so texts would be cut inside one.
KNOWN_FAULT = ["--only", "text/text.cpp", "--op", "ror", "--match", r"\(c > 0x81 &&"]
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
        self.assertEqual(changed(self.root, self.before), [])

    def test_2_an_interrupted_campaign_restores_the_file(self):
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

    def test_3_a_killed_runner_is_undone_by_the_next_start(self):
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

    def test_4_a_git_clone_is_refused(self):
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

"""Checks of the scenario schema, and of every scenario file against it (no Wine needed).
"""

import unittest

import scenario as H

class ScenarioDataTest(unittest.TestCase):
    def test_every_scenario_file(self):
        """A misspelled field or a broken file fails here in seconds, not inside a Wine run."""
        scenarios, problems = H.load_scenarios([H.SCENARIO_DIR])
        self.assertEqual(problems, [])
        self.assertTrue(scenarios)
        for s in scenarios:
            with self.subTest(s.get("name")):
                self.assertEqual(H.validate_scenario(s), [])

    def test_log_location(self):
        cases = [
            ({}, r"C:\TAVOTest\TAVOSweeper.log"),
            ({"cwd": r"C:\work"}, r"C:\work\TAVOSweeper.log"),
            ({"exe_at": r"C:\a\b\TAVOSweeper.exe"}, r"C:\a\b\TAVOSweeper.log"),
            ({"folders": ["C:\\Users\\{user}\\TAVO\\"]}, r"C:\users\{user}\TAVO\TAVOSweeper.log"),
            ({"files": {r"C:\users\{user}\TAVO\TAVOSweeper.log": b""}}, r"C:\users\{user}\TAVO\TAVOSweeper.log"),
            ({"folders": [r"C:\users\{user}\TAVO\sub"]}, r"C:\TAVOTest\TAVOSweeper.log"),
            ({"folders": [r"C:\users\{user}\TAVO"], "log_at": r"C:\x.log"}, r"C:\x.log"),
        ]
        for s, want in cases:
            with self.subTest(s=s):
                self.assertEqual(H.log_location(s), want)

    def test_validate(self):
        cases = [
            ({"name": "ok", "dialogs": [{"answer": "y"}, {"answer": "Escape", "text": "x"}]}, []),
            ({"name": "bad name"}, ["name must be"]),
            ({"name": 5}, ["name must be"]),
            ({"description": "no name"}, ["name is missing"]),
            ({"name": "a", "dialogs": [{"answer": "Y"}]}, ["dialogs must be"]),
            ({"name": "a", "dialogs": [{"answer": "y", "txt": "x"}]}, ["dialogs must be"]),
            ({"name": "a", "dialogs": {"answer": "y"}}, ["dialogs must be"]),
            ({"name": "a", "log_path": "x"}, ["unknown field 'log_path'"]),
            ({"name": "a", "log": 5}, ["log must be"]),
            ({"name": "a", "calls": [("F", 1, 0)]}, ["calls must be"]),
            ({"name": "a", "registry_after": {"HKLM\\X": True}}, ["registry_after must be"]),
            ({"name": "a", "registry": [r"HKLM\X"]}, ["registry must be"]),
            ({"name": "a", "not_called": "RegDeleteKeyExA"}, ["not_called must be"]),
            ({"name": "a", "fileop": "shell32"}, ["fileop must be"]),
            ({"name": "a", "runs": 0, "machine": "win16"}, ["runs must be", "machine must be"]),
        ]
        for s, want in cases:
            with self.subTest(s=s):
                errs = H.validate_scenario(s)
                self.assertEqual(len(errs), len(want), errs)
                for e, w in zip(errs, want):
                    self.assertIn(w, e)

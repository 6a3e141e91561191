"""check_layers.py on small made-up trees: each wrong include is caught and
named, and what the layers allow passes."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402

# (name, files of the tree, the files:lines expected to be reported)
CASES = [
    ("a lower folder includes a higher one",
     {"log/log.cpp": '#include "log/log.h"\n#include "ui/texts.h"\n'}, ["log/log.cpp:2"]),
    ("the seam, deep in its folder, includes the log",
     {"platform/windows/os_win.cpp": '#include "platform/os.h"\n#include "log/log.h"\n'},
     ["platform/windows/os_win.cpp:2"]),
    ("two folders of one layer include each other",
     {"ui/messages.h": '#include "registry/install_info.h"\n',
      "registry/reg_key.cpp": '#include "ui/texts.h"\n'},
     ["registry/reg_key.cpp:1", "ui/messages.h:1"]),
    ("the ground floor includes its neighbour",
     {"text/text.cpp": '#include "platform/os.h"\n'}, ["text/text.cpp:1"]),
    ("product code includes test code",
     {"app/winmain.cpp": '#include "tests/host/sim_test.h"\n'}, ["app/winmain.cpp:1"]),
    ("a quoted include without its folder",
     {"ui/confirm.cpp": '#include "texts.h"\n'}, ["ui/confirm.cpp:1"]),
    ("an angle-bracket include of a product folder",
     {"files/exists.cpp": "  #  include <app/offer.h>\n"}, ["files/exists.cpp:1"]),
    ("a new folder of code with no layer",
     {"report/report.cpp": "\n", "log/log.h": "\n"}, ["report/"]),
    ("own folder, lower layers and system headers pass",
     {"app/offer.cpp": '#include "app/offer.h"\n#include "ui/confirm.h"\n#include "registry/reg_key.h"\n'
                       '#include "files/files.h"\n#include "log/log.h"\n#include "record/install_info.h"\n'
                       '#include "text/text.h"\n#include <stdio.h>\n#include <sys/types.h>\n',
      "platform/sim/sim.h": '#include "platform/os.h"\n',
      "log/log.h": '#include "text/text.h"\n#include "platform/os.h"\n'}, []),
    ("tests, bench and build trees are not product code",
     {"tests/host/test_log.cpp": '#include "app/winmain.h"\n', "bench/logcost.c": '#include "ui/texts.h"\n',
      "build/fuzz/src/log/log.cpp": '#include "ui/texts.h"\n', "log/log.h": "\n"}, []),
]


class CheckLayersTest(unittest.TestCase):
    def test_cases(self):
        for name, files, expected in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                for rel, text in files.items():
                    os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
                    with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                        f.write(text)
                checked, wrong = check_layers.check_tree(root)
                self.assertGreater(checked, 0)
                self.assertEqual(sorted(m.split(": ")[0].rstrip(":") for m in wrong), expected, wrong)

    def test_exit_status(self):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "log"))
            path = os.path.join(root, "log", "log.cpp")
            with open(path, "w", encoding="utf-8") as f:
                f.write('#include "log/log.h"\n')
            self.assertEqual(check_layers.main(["", root]), 0)
            with open(path, "a", encoding="utf-8") as f:
                f.write('#include "app/winmain.h"\n')
            self.assertEqual(check_layers.main(["", root]), 1)
        # A root with no product code at all is a wrong root, not a pass.
        with tempfile.TemporaryDirectory() as root:
            self.assertEqual(check_layers.main(["", root]), 1)


if __name__ == "__main__":
    unittest.main()

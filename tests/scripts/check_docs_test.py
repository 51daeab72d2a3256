#!/usr/bin/env python3
"""The documentation check on a fixture tree: sound as it is, and failing on
each kind of false statement a document can make."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.normpath(os.path.join(HERE, "..", "..", "scripts", "check_docs.py"))
FIXTURE = os.path.join(HERE, "check_docs_fixture")

OPTIONS_ROW_START = "| `-start` | starts |\n"

# (what the case shows, file, text appended or (old, new) replaced, the finding
# expected, or None when the tree must pass)
CASES = [
    ("the fixture as it is", None, None, None),
    ("an inline path that does not exist", "README.md", "See `scripts/missing.sh`.\n",
     "README.md:13: no such path: scripts/missing.sh"),
    ("a command in a fenced block naming a missing script", "README.md",
     "```\nbash scripts/gone.sh -x\n```\n", "no such path: scripts/gone.sh"),
    ("a bare script name that no folder holds", "docs/agent.md", "Run `nothere.py`.\n",
     "docs/agent.md:16: no file of this name: nothere.py"),
    ("a build setting whose value names a missing file", "README.md",
     "`cmake -DKEY=tests/missing.pem`\n", "no such path: tests/missing.pem"),
    ("a trailing slash on a file", "README.md", "`scripts/run.sh/`\n",
     "no such path: scripts/run.sh/"),
    ("a link to a missing page", "README.md", "See [setup](docs/setup.md).\n",
     "link to a missing file: docs/setup.md"),
    ("a link to a heading the page does not have", "README.md",
     "See [help](docs/agent.md#usage).\n", "no heading for the link: docs/agent.md#usage"),
    ("a link to a heading of its own file", "docs/agent.md",
     "See [below](#options--h-does-not-print).\n", None),
    ("a link inside code is not a link", "README.md", "`[x](docs/setup.md)`\n", None),
    ("an option -h prints but the page does not list", "docs/agent.md",
     (OPTIONS_ROW_START, ""), "option -start printed by -h is not documented"),
    ("an option the page lists but -h does not print", "docs/agent.md",
     (OPTIONS_ROW_START, OPTIONS_ROW_START + "| `-x` | extra |\n"),
     "option -x is not printed by -h"),
    ("an option outside the -h section is not compared", "docs/agent.md",
     "| `-P` port | the port |\n", None),
    ("a page without the options section", "docs/agent.md",
     ("## Options `-h` prints", "## Options"), "no section headed"),
]


class CheckDocsTest(unittest.TestCase):
    def run_check(self, root):
        agent = os.path.join(root, "fake_agent.sh")
        return subprocess.run([sys.executable, CHECK, "--root", root, "--agent", agent],
                              capture_output=True, text=True, timeout=60, check=False)

    def test_cases(self):
        for name, relative, change, expected in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as scratch:
                root = os.path.join(scratch, "tree")
                shutil.copytree(FIXTURE, root)
                if relative:
                    path = os.path.join(root, relative)
                    with open(path, encoding="utf-8") as f:
                        text = f.read()
                    if isinstance(change, tuple):
                        self.assertIn(change[0], text)
                        text = text.replace(change[0], change[1])
                    else:
                        text += change
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(text)
                result = self.run_check(root)
                if expected is None:
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                else:
                    self.assertNotEqual(result.returncode, 0, result.stdout)
                    self.assertIn(expected, result.stdout)

    def test_agent_without_a_usage_line_fails(self):
        with tempfile.TemporaryDirectory() as scratch:
            root = os.path.join(scratch, "tree")
            shutil.copytree(FIXTURE, root)
            with open(os.path.join(root, "fake_agent.sh"), "w", encoding="utf-8") as f:
                f.write("#!/bin/sh\necho no help here\n")
            result = self.run_check(root)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("printed no usage line", result.stderr)


if __name__ == "__main__":
    unittest.main()

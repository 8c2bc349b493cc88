#!/usr/bin/env python3
"""vtools message register, run as a user would."""
import os
import subprocess
import sys
import tempfile
import unittest

VTOOLS = sys.argv.pop(1) if len(sys.argv) > 1 else "vtools"


def run(*args, runtime=None):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    env.pop("XDG_RUNTIME_DIR", None)
    if runtime is not None:
        env["XDG_RUNTIME_DIR"] = runtime
    return subprocess.run([VTOOLS, *args], capture_output=True, env=env, timeout=60)


def numbers(stdout):
    return [int(line.split()[1]) for line in stdout.decode().splitlines() if line.startswith("0x")]


class Register(unittest.TestCase):
    def test_names_get_one_number_each_in_every_process(self):
        with tempfile.TemporaryDirectory() as runtime:
            os.chmod(runtime, 0o700)
            first = run("message", "register", "Kurs_Żubr", "kurs_żubr", "Obroty", runtime=runtime)
            self.assertEqual(first.returncode, 0, first.stderr)
            a, b, c = numbers(first.stdout)
            self.assertEqual(a, b)
            self.assertNotEqual(a, c)
            self.assertTrue(all(0xC000 <= n <= 0xFFFF for n in (a, c)))
            table = os.path.join(runtime, "vlib-window-messages")
            self.assertIn(f"table: shared {table}".encode(), first.stdout)
            again = run("message", "register", "OBROTY", runtime=runtime)
            self.assertEqual(numbers(again.stdout), [c])

    def test_an_unsafe_folder_gives_a_table_of_the_process(self):
        with tempfile.TemporaryDirectory() as runtime:
            os.chmod(runtime, 0o777)
            out = run("message", "register", "A", "B", runtime=runtime)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertTrue(out.stdout.endswith(b"table: process-local\n"))
            self.assertEqual(len(set(numbers(out.stdout))), 2)

    def test_bad_names_and_arguments(self):
        self.assertEqual(run("message", "register", "x" * 256).returncode, 1)
        self.assertEqual(run("message", "register").returncode, 2)
        self.assertEqual(run("message", "nonsense").returncode, 2)
        self.assertTrue(run("message", "--help").stdout.startswith(b"usage: vtools message"))


if __name__ == "__main__":
    unittest.main(verbosity=1)

#!/usr/bin/env python3
"""vtools cmdline, instance, run, monitors and clipboard: with and without an X server of the test's own."""
import os
import pwd
import shutil
import subprocess
import tempfile
import time
import unittest

from vtools_run import run, VTOOLS
from servers import XServer


def known_uid(uid):
    try:
        pwd.getpwuid(uid)
        return True
    except KeyError:
        return False


def run_on(display, *args):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    if display is None:
        env.pop("DISPLAY", None)
    else:
        env["DISPLAY"] = display
    return subprocess.run([VTOOLS, *args], capture_output=True, env=env, timeout=60)


class Processes(unittest.TestCase):
    def test_command_lines_split_as_python_quotes_them(self):
        for argv in [["a b", "c"], ['say "hi"', "x\\"], ["tail\\\\", 'q\\"'], ["", "Łódź"]]:
            out = run("cmdline", "prog " + subprocess.list2cmdline(argv))
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout.decode(), "".join(f"[{a}]\n" for a in ["prog", *argv]))

    def test_run_reports_the_exit_code_or_ends_the_program(self):
        out = run("run", "/bin/sh", "-c", "exit 7")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertRegex(out.stdout.decode(), r"^started \d+\nexit 7\n$")
        out = run("run", "/bin/sleep", "30", "--close-after", "0")
        self.assertRegex(out.stdout.decode(), r"^started \d+\nclosed\nexit 0\n$")
        self.assertEqual(run("run", "/no/such/program").returncode, 1)

    def test_run_hands_each_argument_over_whole(self):
        argv = ["a b", 'say "hi"', "tail\\", "", "Łódź", 'q\\"x']
        with tempfile.TemporaryDirectory() as folder:
            record = os.path.join(folder, "argv.txt")
            script = "import sys; open(sys.argv[1], 'w', encoding='utf-8').write(repr(sys.argv[2:]))"
            out = run("run", "/usr/bin/python3", "-c", script, record, *argv)
            self.assertRegex(out.stdout.decode(), r"exit 0\n$", out.stderr)
            with open(record, encoding="utf-8") as f:
                self.assertEqual(f.read(), repr(argv))

    def test_an_instance_is_alone_once_the_one_before_has_ended(self):
        with tempfile.TemporaryDirectory() as runtime:
            env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
            for options in [(), (), ("--per-folder",)]:
                out = subprocess.run([VTOOLS, "instance", f"cli-{os.getpid()}", *options], capture_output=True,
                                     env=env, timeout=60)
                self.assertEqual(out.stdout, b"alone\n", options)

    @unittest.skipUnless(os.geteuid() == 0, "acting as other users needs root")
    def test_an_instance_whose_mutex_cannot_be_made_fails_instead_of_saying_alone(self):
        user, other = [uid for uid in range(62000, 63000) if not known_uid(uid)][:2]
        # Another user takes the fixed folder's name; the user has no cache folder of its own.
        taken = f"/tmp/vlibincludes-objects-{user}"
        shutil.rmtree(taken, ignore_errors=True)
        pid = os.fork()
        if pid == 0:
            os.setgroups([])
            os.setgid(other)
            os.setuid(other)
            os.mkdir(taken, 0o777)
            os._exit(0)
        self.assertEqual(os.waitpid(pid, 0)[1], 0)
        try:
            env = {k: v for k, v in os.environ.items() if k not in ("XDG_RUNTIME_DIR", "XDG_CACHE_HOME")}
            env["HOME"] = "/"
            out = subprocess.run([VTOOLS, "instance", f"cli-{os.getpid()}"], capture_output=True, env=env,
                                 user=user, group=user, extra_groups=[], timeout=60)
            self.assertEqual(out.returncode, 1, out.stdout)
            self.assertEqual(out.stdout, b"")
            self.assertIn(b"cannot be made", out.stderr)
        finally:
            shutil.rmtree(taken, ignore_errors=True)
            shutil.rmtree(f"/tmp/vlib-{user}", ignore_errors=True)  # its message table


class Desktop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = XServer([("*MAIN", 1920, 0, 1920, 1200), ("LEFT", 0, 120, 1920, 1080)], screen="3840x1200x24")
        cls.display = cls.server.display

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def test_monitors_are_listed_and_rectangles_placed(self):
        out = run_on(self.display, "monitors")
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = out.stdout.decode().splitlines()
        self.assertIn("MAIN 0,0,1920,1200 work 0,0,1920,1200 primary", lines)
        self.assertIn("LEFT -1920,120,0,1200 work -1920,120,0,1200", lines)
        self.assertEqual(lines[-1], "desktop -1920,0,1920,1200")
        out = run_on(self.display, "monitors", "place", "-1000", "0", "-899", "10", "--center")
        self.assertEqual(out.stdout, b"LEFT -1011,655,-910,665\n")
        out = run_on(self.display, "monitors", "place", "1900", "1500", "2000", "3000", "--clip", "--work")
        self.assertEqual(out.stdout, b"MAIN 1900,0,1920,1200\n")
        self.assertEqual(run_on(self.display, "monitors", "place", "1", "2").returncode, 2)

    def test_clipboard_text_reaches_other_programs_and_comes_back(self):
        self.assertEqual(run_on(self.display, "clipboard", "set", "Zażółć").returncode, 0)
        env = dict(os.environ, DISPLAY=self.display)
        # The text outlives vtools: the keeper serves it.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            got = subprocess.run(["xclip", "-selection", "clipboard", "-o"], capture_output=True, env=env)
            if got.stdout == "Zażółć".encode():
                break
            time.sleep(0.05)
        self.assertEqual(got.stdout, "Zażółć".encode())
        self.assertEqual(run_on(self.display, "clipboard", "get").stdout, "Zażółć".encode())
        self.assertEqual(run_on(self.display, "clipboard", "clear").returncode, 0)
        self.assertEqual(run_on(self.display, "clipboard", "get").returncode, 1)

    def test_without_a_display_the_desktop_commands_fail_and_the_demo_says_so(self):
        for args in [("monitors",), ("clipboard", "get"), ("clipboard", "set", "x"), ("keys",)]:
            out = run_on(None, *args)
            self.assertEqual(out.returncode, 1, args)
            self.assertIn(b"no display", out.stderr, args)
            self.assertEqual(out.stdout, b"", args)
        self.assertIn(b"ctrl 0", run_on(self.display, "keys").stdout)
        out = run_on(None, "demo")
        self.assertEqual(out.returncode, 0, out.stderr)
        for shown in ["instance: first alone, second running", "[a b]", "closed", "no display"]:
            self.assertIn(shown.encode(), out.stdout)
        out = run_on(self.display, "demo")
        for shown in ["monitor MAIN 0,0,1920,1200 primary", "clipboard round trip: ok"]:
            self.assertIn(shown.encode(), out.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=1)

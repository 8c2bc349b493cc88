#!/usr/bin/env python3
"""Runs vtools crash as a user would: the process dies by the signal and leaves a report that crash show reads."""
import os
import signal
import subprocess
import unittest

from vtools_run import VTOOLS, InFolder, run

# The sanitizers' own handlers would end the process instead of the signal.
SANITIZERS_OFF = {
    "ASAN_OPTIONS": "handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0:handle_sigill=0:detect_leaks=0",
    "UBSAN_OPTIONS": "handle_segv=0:handle_sigbus=0:handle_abort=0:handle_sigfpe=0",
}


def crash(kind, reports):
    env = dict(os.environ, LC_ALL="C.UTF-8", **SANITIZERS_OFF)
    return subprocess.run([VTOOLS, "crash", kind, "--reports", reports], capture_output=True, env=env,
                          timeout=60, preexec_fn=lambda: __import__("resource").setrlimit(
                              __import__("resource").RLIMIT_CORE, (0, 0)))


class Crash(InFolder, unittest.TestCase):
    def test_each_crash_dies_by_its_signal_and_show_summarises_its_report(self):
        for kind, sig in [("segv", signal.SIGSEGV), ("abort", signal.SIGABRT), ("throw", signal.SIGABRT),
                          ("overflow", signal.SIGSEGV)]:
            reports = os.path.join(self.dir.name, kind)
            out = crash(kind, reports)
            self.assertEqual(out.returncode, -sig, out.stderr)
            shown = run("crash", "show", reports)
            self.assertEqual(shown.returncode, 0, shown.stderr)
            text = shown.stdout.decode()
            self.assertIn("application  vtools 1.0", text)
            self.assertIn("signal       " + sig.name, text)
            self.assertIn("  #0 ", text)
            # The reporter process unwound the crashed thread and named its frames.
            self.assertIn("unwound by ptrace", text)
            if kind == "segv":
                self.assertRegex(text, r"  #0   0x[0-9a-f]{16}  vtools\+0x[0-9a-f]+  .*WriteThroughNull")
            if kind == "overflow":
                self.assertIn('"Overflow"', text)
                self.assertIn("Recurse", text)
            if kind == "throw":
                self.assertIn("exception    std::runtime_error: vtools crash throw", text)

    def test_a_reports_folder_others_can_write_is_refused_with_the_reason(self):
        reports = os.path.join(self.dir.name, "shared")
        os.mkdir(reports)
        os.chmod(reports, 0o777)
        out = crash("segv", reports)
        self.assertEqual(out.returncode, 1, out.stderr)
        self.assertIn("can be written by other users", out.stderr.decode())

    def test_bad_arguments_and_missing_reports_fail(self):
        for args in [("crash",), ("crash", "segv"), ("crash", "melt", "--reports", "x"), ("crash", "show")]:
            self.assertEqual(run(*args).returncode, 2, args)
        self.assertEqual(run("crash", "show", self.dir.name).returncode, 1)


if __name__ == "__main__":
    unittest.main()

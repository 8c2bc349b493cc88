"""Shared by the command-line tests: runs vtools as a user would, in a UTF-8 locale."""
import os
import pty
import select
import subprocess
import sys
import tempfile

VTOOLS = sys.argv.pop(1) if len(sys.argv) > 1 else "vtools"
# The X server and the SMTP server of the tests (tests/support/servers.py).
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))


def run(*args, stdin=b"", env=None):
    """Runs vtools with `args`; `env` adds environment variables."""
    environment = dict(os.environ, LC_ALL="C.UTF-8", **(env or {}))
    return subprocess.run([VTOOLS, *args], input=stdin, capture_output=True, env=environment, timeout=60)


def run_on_terminal(args, timeout=60):
    """Runs `args` (a whole command) with standard error on a pseudo-terminal;
    returns the finished process and what it showed on the terminal."""
    main, terminal = pty.openpty()
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=terminal, timeout=timeout)
    os.close(terminal)
    shown = b""
    while select.select([main], [], [], 0)[0]:
        try:
            chunk = os.read(main, 65536)
        except OSError:  # the terminal's other end is closed: all is read
            break
        if not chunk:
            break
        shown += chunk
    os.close(main)
    return done, shown


class InFolder:
    """A mixin giving each test a temporary folder and a way to write files in it."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

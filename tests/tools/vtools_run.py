"""Shared by the command-line tests: runs vtools as a user would, in a UTF-8 locale."""
import os
import subprocess
import sys
import tempfile

VTOOLS = sys.argv.pop(1) if len(sys.argv) > 1 else "vtools"


def run(*args, stdin=b""):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    return subprocess.run([VTOOLS, *args], input=stdin, capture_output=True, env=env, timeout=60)


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

"""The X server and the SMTP server of the command-line tests, started as the
support library starts them for the C++ tests (XServer.cpp, SmtpServer.cpp):
Xvfb reporting its display through -displayfd, with monitors set by xrandr;
aiosmtpd (smtp_server.py) under Debian's python3, its messages read from its
state folder."""
import email
import email.policy
import json
import os
import subprocess
import tempfile

SMTP_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "smtp_server.py")


class XServer:
    """An Xvfb of the test's own; `monitors` are (name, x, y, width, height),
    "*NAME" the primary one, the first on Xvfb's output."""

    def __init__(self, monitors, screen="5760x2400x24"):
        read, write = os.pipe()
        self.process = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-noreset", "-nolisten", "tcp",
                                         "-screen", "0", screen], pass_fds=[write],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ":" + f.readline().strip()
        env = dict(os.environ, DISPLAY=self.display)
        for i, (name, x, y, width, height) in enumerate(monitors):
            geometry = f"{width}/{width // 4}x{height}/{height // 4}+{x}+{y}"
            subprocess.run(["xrandr", "--setmonitor", name, geometry, "screen" if i == 0 else "none"], env=env,
                           check=True, capture_output=True)

    def close(self):
        self.process.kill()
        self.process.wait()


class SmtpServer:
    """The aiosmtpd server on 127.0.0.1 and a port of its own; `options` are
    smtp_server.py's."""

    def __init__(self, *options):
        self.state = tempfile.TemporaryDirectory()
        self.process = subprocess.Popen(["/usr/bin/python3", SMTP_SERVER, "--state", self.state.name, *options],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.process.stdout.readline().decode()
        if not line.startswith("PORT "):
            raise RuntimeError("the SMTP server did not start")
        self.port = int(line.split()[1])

    def messages(self):
        """The accepted messages in order: their envelope and log-in state,
        and the message parsed under "message"."""
        found = []
        n = 1
        while os.path.exists(os.path.join(self.state.name, f"{n}.json")):
            with open(os.path.join(self.state.name, f"{n}.json")) as f:
                meta = json.load(f)
            with open(os.path.join(self.state.name, f"{n}.eml"), "rb") as f:
                meta["message"] = email.message_from_bytes(f.read(), policy=email.policy.default)
            found.append(meta)
            n += 1
        return found

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)
        self.process.stdout.close()
        self.state.cleanup()

#!/usr/bin/env python3
"""Runs `vtools mail send` against the tests' aiosmtpd server."""
import email
import email.policy
import os
import socket
import subprocess
import tempfile
import time
import unittest

from vtools_run import run, run_on_terminal, VTOOLS
from servers import SmtpServer as Server

class MailSend(unittest.TestCase):
    def test_delivers_with_log_in_and_attachment(self):
        server = Server("--auth", "jan@example.com:Tajne-Haslo")
        try:
            with tempfile.NamedTemporaryFile(suffix=".csv", delete=False) as f:
                f.write(b"WIG20;2345,67\r\n")
            out = run("mail", "send", "--server", "127.0.0.1", "--port", str(server.port), "--to", "anna@example.com",
                      "--user", "jan@example.com", "--password-env", "MAIL_PASSWORD", "--from", "Jan Kowalski",
                      "--subject", "Kursy zamknięcia", "--body", "Dzień dobry", "--attach", f.name,
                      env={"MAIL_PASSWORD": "Tajne-Haslo"})
            os.unlink(f.name)
            self.assertEqual(out.returncode, 0, out.stderr.decode())
            [meta] = server.messages()
            self.assertTrue(meta["authenticated"])
            message = meta["message"]
            self.assertEqual(str(message["subject"]), "Kursy zamknięcia")
            self.assertEqual(message.get_body().get_content().strip(), "Dzień dobry")
            [attachment] = list(message.iter_attachments())
            self.assertEqual(attachment.get_payload(decode=True), b"WIG20;2345,67\r\n")
            self.assertNotIn(b"Tajne-Haslo", out.stdout + out.stderr)
        finally:
            server.close()

    def test_failures_exit_1_with_the_log_entry_or_the_reason(self):
        server = Server("--auth", "jan@example.com:right", "--refuse-login")
        try:
            with tempfile.TemporaryDirectory() as folder:
                empty = os.path.join(folder, "password")
                open(empty, "wb").close()
                os.chmod(empty, 0o600)
                out = run("mail", "send", "--server", "127.0.0.1", "--port", str(server.port), "--to",
                          "a@example.com", "--user", "jan@example.com", "--password-file", empty)
            self.assertEqual((out.returncode, server.messages()), (1, []))
            self.assertIn("Wysłanie maila nie powiodło się.", out.stderr.decode())
        finally:
            server.close()
        out = run("mail", "send", "--server", "127.0.0.1", "--to", "a@example.com>\r\nRCPT TO:<b@example.com")
        self.assertEqual(out.returncode, 1)
        self.assertIn("The recipient address contains an angle bracket.", out.stderr.decode())

    def test_a_missing_or_unreadable_attachment_refuses_the_send(self):
        server = Server()
        try:
            with tempfile.TemporaryDirectory() as folder:
                for attachment, why in [("/nonexistent/kursy.csv", "does not exist"), (folder, "is a folder")]:
                    for extra in [(), ("--dry-run",)]:
                        out = run("mail", "send", "--server", "127.0.0.1", "--port", str(server.port), "--to",
                                  "a@example.com", "--attach", __file__, "--attach", attachment, *extra)
                        self.assertEqual(out.returncode, 1, extra)
                        self.assertIn(f"{attachment} {why}; nothing was sent", out.stderr.decode())
                        self.assertEqual(out.stdout, b"")
            self.assertEqual(server.messages(), [])
        finally:
            server.close()

    def test_every_failure_gives_the_sentence_and_the_transports_reason(self):
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        closed_port = listener.getsockname()[1]
        listener.close()
        silent = Server("--mode", "silent")
        with tempfile.TemporaryDirectory() as folder:
            key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                            "-days", "1", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
            tls = Server("--mode", "tls", "--cert", cert, "--key", key)
        try:
            for options, reason in [(("--port", str(closed_port)), "the connection was refused"),
                                    (("--port", str(silent.port), "--timeout", "1"), "timed out"),
                                    (("--port", str(tls.port), "--security", "tls"), "the server's certificate is not trusted")]:
                started = time.monotonic()
                out = run("mail", "send", "--server", "127.0.0.1", "--to", "a@example.com", *options)
                self.assertEqual(out.returncode, 1, options)
                lines = out.stderr.decode().splitlines()
                self.assertEqual(lines[0], "vtools mail: Wysłanie maila nie powiodło się. Sprawdź połączenie z "
                                 "internetem lub konfigurację serwera.")
                self.assertTrue(lines[1].startswith(f"vtools mail: {reason}"), lines)
                self.assertLess(time.monotonic() - started, 20)
        finally:
            silent.close()
            tls.close()
        out = run("mail", "send", "--server", "h", "--to", "a@example.com", "--timeout", "0")
        self.assertEqual(out.returncode, 2)
        self.assertIn("--timeout: '0'", out.stderr.decode())
        self.assertIn("in clear text", run("mail", "--help").stdout.decode())

    def test_progress_shows_on_a_terminal_only(self):
        server = Server()
        try:
            with tempfile.NamedTemporaryFile(suffix=".bin") as f:
                f.write(os.urandom(2 << 20))
                f.flush()
                args = [VTOOLS, "mail", "send", "--server", "127.0.0.1", "--port", str(server.port), "--to",
                        "a@example.com", "--attach", f.name]
                done, shown = run_on_terminal(args, timeout=60)
                self.assertEqual(done.returncode, 0)
                self.assertIn(b"sending: 100%", shown)
                piped = subprocess.run(args, capture_output=True, timeout=60)
                self.assertEqual((piped.returncode, piped.stderr), (0, b""))
        finally:
            server.close()

    def test_a_password_file_other_users_may_read_or_write_is_refused(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "password")
            with open(path, "w") as f:
                f.write("Tajne-Haslo\n")
            for mode in [0o640, 0o604, 0o620, 0o602, 0o666]:
                os.chmod(path, mode)
                out = run("mail", "send", "--server", "h", "--to", "a@example.com", "--password-file", path,
                          "--dry-run")
                self.assertEqual(out.returncode, 1, oct(mode))
                self.assertIn(f"the password file {path} is open to other users (mode {mode:04o})",
                              out.stderr.decode())
                self.assertEqual(out.stdout, b"")
            os.chmod(path, 0o400)
            self.assertEqual(run("mail", "send", "--server", "h", "--to", "a@example.com", "--password-file", path,
                                 "--dry-run").returncode, 0)

    def test_dry_run_prints_the_message_and_passwords_stay_off_the_command_line(self):
        out = run("mail", "send", "--server", "smtp.example.com", "--to", "a@example.com", "--subject", "Raport",
                  "--body", "<html>x</html>", "--dry-run")
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        message = email.message_from_bytes(out.stdout, policy=email.policy.default)
        self.assertEqual(str(message["subject"]), "Raport")
        self.assertEqual(message.get_content_type(), "text/html")
        self.assertTrue(b"\r\n" in out.stdout)
        out = run("mail", "send", "--server", "h", "--to", "a@example.com", "--password", "secret")
        self.assertEqual(out.returncode, 2)
        self.assertIn("--password-env", out.stderr.decode())


if __name__ == "__main__":
    unittest.main()

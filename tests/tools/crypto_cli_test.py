#!/usr/bin/env python3
"""Runs the data-utility commands of vtools: digests, inflate, GUIDs and RSA."""
import hashlib
import os
import re
import subprocess
import unittest
import uuid
import zlib

from vtools_run import InFolder, run



class Digests(InFolder, unittest.TestCase):
    def test_match_hashlib_for_files_and_standard_input(self):
        data = os.urandom(100000) + b"kurs WIG20"
        path = self.write("data", data)
        for command, algorithm in [("sha256", hashlib.sha256), ("sha1", hashlib.sha1)]:
            out = run(command, path)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout.decode(), f"{algorithm(data).hexdigest()}  {path}\n")
            self.assertEqual(run(command, "-", stdin=data).stdout.decode(), f"{algorithm(data).hexdigest()}  -\n")
        self.assertEqual(run("sha256", "/nonexistent/file").returncode, 1)


class Inflate(unittest.TestCase):
    def test_expands_what_zlib_compressed_and_refuses_other_data(self):
        data = os.urandom(50000) + b"notowania " * 20000
        out = run("inflate", "-", stdin=zlib.compress(data))
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout, data)
        for bad in [b"not zlib", zlib.compress(data)[:-4], b""]:
            out = run("inflate", "-", stdin=bad)
            self.assertEqual(out.returncode, 1)
            self.assertEqual(out.stdout, b"")


class Guids(unittest.TestCase):
    def test_new_and_parse(self):
        texts = {run("guid", "new").stdout.decode().strip() for _ in range(2)}
        self.assertEqual(len(texts), 2)
        for text in texts:
            self.assertRegex(text, r"^\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}$")
        sample = str(uuid.uuid4())
        self.assertEqual(run("guid", "parse", sample).stdout.decode(), "{" + sample.upper() + "}\n")
        self.assertEqual(run("guid", "parse", "{00000000-0000-0000-0000-000000000000}").returncode, 0)
        for bad in ["not-a-guid", sample[:-1], sample + "0"]:
            out = run("guid", "parse", bad)
            self.assertEqual((out.returncode, out.stdout), (1, b""), bad)


class Rsa(InFolder, unittest.TestCase):
    def test_round_trip_with_an_openssl_key(self):
        key, private, public = (os.path.join(self.dir.name, n) for n in ("key.pem", "private.pem", "public.pem"))
        subprocess.run(["openssl", "genrsa", "-out", key, "1024"], check=True, capture_output=True)
        subprocess.run(["openssl", "rsa", "-traditional", "-in", key, "-out", private],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "rsa", "-pubout", "-in", key, "-out", public], check=True, capture_output=True)
        text = "tajne hasło".encode() * 20
        out = run("rsa", "encrypt", "--key", public, stdin=text)
        self.assertEqual(out.returncode, 0, out.stderr)
        digits = out.stdout.strip()
        self.assertTrue(re.fullmatch(rb"\d+", digits))
        self.assertEqual(len(digits), 3 * 128 * -(-len(text) // 117))
        out = run("rsa", "decrypt", "--key", private, stdin=digits)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout, text)
        self.assertEqual(run("rsa", "decrypt", "--key", private, stdin=digits[:-3]).returncode, 1)
        self.assertEqual(run("rsa", "encrypt", "--key", private, stdin=text).returncode, 1)
        self.assertEqual(run("rsa", "encrypt").returncode, 2)


if __name__ == "__main__":
    unittest.main()

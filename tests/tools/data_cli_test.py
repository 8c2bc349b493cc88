#!/usr/bin/env python3
"""Runs vtools json and vtools hex as a user would and checks output and exit codes."""
import json
import os
import unittest

from vtools_run import InFolder, run


class Json(InFolder, unittest.TestCase):
    def test_compact_and_pretty_hold_the_same_document(self):
        doc = {"symbol": "WIG20 Łódź", "quotes": [{"p": 1.5, "v": 10}, {"p": -2, "v": None}],
               "empty": {}, "none": [], "text": "a\"b\n" + "x" * 5000}
        path = self.write("q.json", json.dumps(doc, indent=3, ensure_ascii=False).encode())
        compact = run("json", "compact", path)
        self.assertEqual(compact.returncode, 0, compact.stderr)
        self.assertTrue(compact.stdout.startswith(b'{"symbol":"WIG20 \xc5\x81\xc3\xb3d\xc5\xba","quotes":[{"p":'))
        self.assertEqual(compact.stdout.count(b"\n"), 1)
        self.assertEqual(json.loads(compact.stdout), doc)
        pretty = run("json", "pretty", path)
        self.assertEqual(pretty.returncode, 0, pretty.stderr)
        self.assertEqual(json.loads(pretty.stdout), doc)
        lines = pretty.stdout.decode().splitlines()
        self.assertEqual(lines[0], "{")
        self.assertEqual(lines[1], '    "symbol": "WIG20 Łódź",')
        self.assertIn('    "empty": {},', lines)

    def test_invalid_files_fail_with_the_line_and_column_where_they_break(self):
        for data, where in [(b"[1,2", b":1:5: not valid JSON"), (b"{\"a\":}", b":1:6: not valid JSON"),
                            (b"{\n  \"a\": ]\n}", b":2:8: not valid JSON"), (b"[" * 40 + b"]" * 40, b":1:33: "),
                            (b"null", b"holds just null")]:
            out = run("json", "compact", self.write("bad.json", data))
            self.assertEqual(out.returncode, 1, data)
            self.assertEqual(out.stdout, b"")
            self.assertIn(where, out.stderr, data)
        out = run("json", "pretty", self.dir.name)
        self.assertEqual((out.returncode, out.stderr), (1, f"vtools json: FILE: {self.dir.name} is a folder, not a JSON file\n".encode()))
        out = run("json", "pretty", os.path.join(self.dir.name, "missing.json"))
        self.assertEqual(out.returncode, 1)
        for args in [("json",), ("json", "ugly", "f"), ("json", "compact")]:
            self.assertEqual(run(*args).returncode, 2, args)


class Hex(InFolder, unittest.TestCase):
    def test_encode_decode_round_trip_matches_python(self):
        data = bytes(range(256)) * 3
        out = run("hex", "encode", stdin=data)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout, data.hex().encode() + b"\n")
        back = run("hex", "decode", stdin=out.stdout)
        self.assertEqual(back.stdout, data)
        self.assertEqual(run("hex", "decode", self.write("h", b"DEADbeef7")).stdout, b"\xde\xad\xbe\xef")

    def test_a_line_break_ends_the_text_and_bad_arguments_fail(self):
        self.assertEqual(run("hex", "decode", stdin=b"abc\n").stdout, b"\xab")
        self.assertEqual(run("hex", "decode", stdin=b"").stdout, b"")
        self.assertEqual(run("hex", "encode", stdin=b"").stdout, b"\n")
        self.assertEqual(run("hex").returncode, 2)
        self.assertEqual(run("hex", "encode", "/nonexistent/file").returncode, 1)


if __name__ == "__main__":
    unittest.main()

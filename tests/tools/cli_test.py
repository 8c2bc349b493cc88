#!/usr/bin/env python3
"""vtools convert, scramble, log, error, help and demo: output and exit codes."""
import os
import re
import tempfile
import unittest

from vtools_run import run, run_on_terminal, VTOOLS

POLISH = "Zażółć gęślą jaźń – kurs WIG20"


class Convert(unittest.TestCase):
    def test_matches_python_codecs_both_ways_for_files_and_standard_input(self):
        for name, codec in [("windows-1250", "cp1250"), ("iso-8859-2", "iso8859_2"), ("1250", "cp1250")]:
            out = run("convert", "--from", "utf-8", "--to", name, stdin=POLISH[:17].encode())
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout, POLISH[:17].encode(codec))
            self.assertEqual(run("convert", "--from", name, "--to", "utf-8", stdin=out.stdout).stdout,
                             POLISH[:17].encode())
        with tempfile.NamedTemporaryFile(delete=False) as f:
            f.write(POLISH.encode("utf-16-le"))
        try:
            self.assertEqual(run("convert", "--from", "utf-16le", "--to", "utf-8", f.name).stdout, POLISH.encode())
        finally:
            os.unlink(f.name)
        out = run("convert", "--from", "utf-8", "--to", "utf-16le", stdin="ą😀".encode())
        self.assertEqual(out.stdout, "ą😀".encode("utf-16-le"))
        out = run("--acp", "1250", "convert", "--from", "utf-8", "--to", "ansi", stdin="ł€".encode())
        self.assertEqual(out.stdout, "ł€".encode("cp1250"))
        # Lacking characters and invalid bytes are replaced.
        self.assertEqual(run("convert", "--from", "utf-8", "--to", "iso-8859-2", stdin="a€中b".encode()).stdout, b"a??b")
        self.assertEqual(run("convert", "--from", "utf-8", "--to", "utf-8", stdin=b"a\xffb").stdout,
                         "a\ufffdb".encode())

    def test_converts_and_lists_cyrillic_greek_japanese_chinese_oem_and_utf7_pages_like_python(self):
        text = "Привет ΑΒΓ 日本語 中文 ╔═╗ A≢Α."
        for name, codec, sample in [("windows-1251", "cp1251", text[:6]), ("1253", "cp1253", text[7:10]),
                                    ("shift_jis", "cp932", text[:10] + text[11:14]), ("gbk", "gbk", text[15:17]),
                                    ("big5", "cp950", text[15:17]), ("cp437", "cp437", text[18:21]),
                                    ("utf-7", "utf-7", text)]:
            out = run("convert", "--from", "utf-8", "--to", name, stdin=sample.encode())
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout.decode(codec), sample, name)
            back = run("convert", "--from", name, "--to", "utf-8", stdin=sample.encode(codec))
            self.assertEqual(back.stdout.decode(), sample, name)
        self.assertRegex(run("convert", "--list").stdout.decode(), r"950 .*big5, cp950")

    def test_bad_arguments_and_unreadable_input_give_one_line_and_a_status(self):
        for args, code in [(("convert", "--from", "nope", "--to", "utf-8"), 2), (("convert", "--to", "utf-8"), 2),
                           (("convert", "--from", "utf-8", "--to", "utf-8", "/nonexistent/file"), 1),
                           (("frobnicate",), 2), ((), 2), (("unscramble", "0470"), 1), (("error", "abc"), 2)]:
            out = run(*args)
            self.assertEqual(out.returncode, code, args)
            self.assertEqual(out.stdout, b"")
            self.assertTrue(out.stderr.startswith(b"vtools"), out.stderr)


class Scramble(unittest.TestCase):
    def test_narrow_and_wide_forms_round_trip(self):
        self.assertEqual(run("scramble", "--wide", "Hi").stdout, b"0004700080\n")
        for text in ["Łódź", "tajne hasło 123"]:
            digits = run("--acp", "1250", "scramble", text).stdout.strip()
            self.assertEqual(len(digits), 3 * len(text.encode("cp1250")))
            self.assertEqual(run("--acp", "1250", "unscramble", digits).stdout.decode().strip(), text)
            wide = run("scramble", "--wide", text).stdout.strip()
            self.assertEqual(run("unscramble", "--wide", wide).stdout.decode().strip(), text)


class LogAndError(unittest.TestCase):
    def test_log_writes_entries_in_the_exact_format(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "log.txt")
            out = run("log", path, "pierwszy", "drugi\nwiersz")
            self.assertEqual(out.returncode, 0, out.stderr)
            with open(path, "rb") as f:
                data = f.read()
        entry = re.compile(rb"(\d\d:\d\d:\d\d\.\d{3})\t\t([^\r\n]*) \( (\d+) \)\r\n(.*?)\r\n-\r\n", re.S)
        self.assertEqual(b"".join(m.group(0) for m in entry.finditer(data)), data)
        self.assertEqual([m.groups()[1:] for m in entry.finditer(data)],
                         [(b"vtools::log", b"1", b"pierwszy"), (b"vtools::log", b"2", b"drugi\r\nwiersz"),
                          (b"VTools::Log::Close", re.search(rb"Close \( (\d+)", data).group(1),
                           "Zamknięcie".encode())])
        self.assertEqual(run("log", "/nonexistent/folder/log.txt", "x").returncode, 1)
        self.assertEqual(run("log", "only-a-file").returncode, 2)

    def test_error_prints_the_system_text(self):
        self.assertEqual(run("error", "2").stdout,
                         b"Error code: 2, message: The system cannot find the file specified.\n")
        self.assertEqual(run("error", "424242").stdout, b"Error code: 424242, message: Unknow error\n")


class Progress(unittest.TestCase):
    def test_reading_a_large_file_shows_progress_on_a_terminal_only(self):
        with tempfile.NamedTemporaryFile() as f:
            f.truncate(80 << 20)
            done, shown = run_on_terminal([VTOOLS, "sha256", f.name], timeout=120)
            self.assertEqual(done.returncode, 0)
            self.assertIn(f"reading {f.name}: 100%".encode(), shown)
            piped = run("sha256", f.name)
            self.assertEqual((piped.returncode, piped.stderr, piped.stdout), (0, b"", done.stdout))


class HelpAndDemo(unittest.TestCase):
    def test_errors_name_the_argument_and_what_was_expected(self):
        for args, text in [(("--acp",), b"--acp needs a CODEPAGE"),
                           (("run", "/bin/true", "--close-after", "x"), b"--close-after: 'x' is not a whole number of seconds"),
                           (("monitors", "place", "1", "y", "3", "4", "--center"), b"T: 'y' is not a coordinate"),
                           (("hex", "encode", "/"), b"/"),
                           (("sha256", "/"), b"/")]:
            out = run(*args)
            self.assertIn(out.returncode, (1, 2), args)
            self.assertIn(text, out.stderr, args)
            self.assertEqual(out.stderr.count(b"\n"), 1, out.stderr)

    def test_demo_runs_on_builtin_data_and_follows_no_link_in_the_temporary_folder(self):
        # Links at every name a demo started next could once have written in
        # the temporary folder, pointing at a file of the user.
        with tempfile.TemporaryDirectory() as folder:
            victim = os.path.join(folder, "victim")
            with open(victim, "wb") as f:
                f.write(b"precious")
            shared = os.path.join(folder, "tmp")
            os.mkdir(shared)
            with open("/proc/sys/kernel/ns_last_pid") as f:
                last = int(f.read())
            planted = {f"kursy-{pid}.csv" for pid in range(last + 1, last + 2000)}
            for name in planted:
                os.symlink(victim, os.path.join(shared, name))
            out = run("demo", env={"TMPDIR": shared})
            with open(victim, "rb") as f:
                self.assertEqual(f.read(), b"precious")
            self.assertEqual(set(os.listdir(shared)) - planted, set())  # its private folder is gone too
        self.assertEqual(out.returncode, 0, out.stderr)
        text = out.stdout.decode()
        for shown in ["Zażółć gęślą jaźń", "reads back", "archive 1, 2.5, WIG20  010000000000000000000440fffeff05570049"
                      "00470032003000", "reads back equal", "== settings", "saved, reloaded", "Notowania – Łódź",
                      "signal       SIGSEGV", "WriteThroughNull", "== gdi:", "#INF", "1 235k",
                      "3 tasks ran in order on its thread\n", "SendMessageW(WM_APP, 21) = 42 from the loop thread"]:
            self.assertIn(shown, text)
        for pattern in [r"GDI objects +(\d+) before the owners, \d+ with them, \1 after",
                        r"execute message +0xC[0-9A-F]{3} +\d+  TaskLoopExecutor_ExecuteOneTask_PostSend",
                        r"stop message +0xC[0-9A-F]{3} +\d+  TaskLoopExecutor_StopLoopTask_PostSend",
                        r"VWinThread +3 messages, 3 timer ticks, Stop took [\d.]+ ms"]:
            self.assertRegex(text, pattern)


if __name__ == "__main__":
    unittest.main(verbosity=1)

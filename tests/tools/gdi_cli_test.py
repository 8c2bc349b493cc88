#!/usr/bin/env python3
"""Runs vtools fit, measure and font without a display, as a user would, and
checks widths against python3-fonttools and the face against fc-match."""
import os
import subprocess
import sys
import unittest

try:
    from fontTools.ttLib import TTFont
except ImportError:  # Debian's python3 has python3-fonttools
    if sys.executable == "/usr/bin/python3":
        raise
    os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])

VTOOLS = sys.argv.pop(1) if len(sys.argv) > 1 else "vtools"


def run(*args, env_extra=None):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    env.pop("DISPLAY", None)
    env.pop("FREETYPE_PROPERTIES", None)
    env.update(env_extra or {})
    return subprocess.run([VTOOLS, *args], capture_output=True, env=env, timeout=60)


def out(*args, env_extra=None):
    result = run(*args, env_extra=env_extra)
    if result.returncode != 0:
        raise AssertionError(result.stderr.decode())
    return result.stdout.decode()


def font_file(face, *options):
    for line in out("font", face, *options).splitlines():
        if line.startswith("file:"):
            return line.split(None, 1)[1].rsplit(" (face", 1)[0]
    raise AssertionError("no file line")


def linear_width(path, ppem, text):
    """The width FreeType's hinting (interpreter 40) gives: each advance
    scaled with FreeType's fixed-point arithmetic and rounded to a pixel."""
    font = TTFont(path)
    scale = ((ppem * 64 << 16) + (font["head"].unitsPerEm >> 1)) // font["head"].unitsPerEm
    cmap, hmtx = font.getBestCmap(), font["hmtx"]
    return sum(((hmtx[cmap.get(ord(c), ".notdef")][0] * scale + 0x8000 >> 16) + 32) >> 6 for c in text)


class Fit(unittest.TestCase):
    def test_forms_as_the_cell_shrinks_special_values_and_options(self):
        big = "1234567.5"
        for args, text in [((big, "--width", "80"), "1 234 567.50"), ((big, "--width", "60"), "1 234 567.5"),
                           ((big, "--width", "40"), "1 235k"), ((big, "--width", "20"), "1m"),
                           ((big, "--width", "5"), ""), (("nan", "--width", "100"), "#NAN"),
                           (("-inf", "--width", "100"), "#INF"), (("5e12", "--width", "100"), "5..."),
                           (("0.000123", "--width", "1", "--precision", "6"), "0.000123"),
                           (("12.5", "--width", "100", "--precision", "3", "--trim", "1", "--format", "%s zł"),
                            "12.5 zł")]:
            self.assertEqual(out("fit", *args), text + "\n", args)

    def test_either_decimal_separator_is_read(self):
        self.assertEqual(run("fit", "1234,50", "--width", "200").stdout, run("fit", "1234.50", "--width", "200").stdout)
        self.assertEqual(run("fit", "1234,50", "--width", "200").returncode, 0)
        out = run("fit", "12,3,4", "--width", "200")
        self.assertIn(b"VALUE: '12,3,4' is not a number", out.stderr)

    def test_bad_arguments(self):
        for args in [("fit", "1"), ("fit", "--width", "5"), ("fit", "x", "--width", "5"),
                     ("fit", "1", "--width", "-3"), ("fit", "1", "--width", "5", "--size", "0")]:
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertTrue(result.stderr.startswith(b"vtools fit: "), result.stderr)


class Measure(unittest.TestCase):
    def test_widths_agree_with_the_fonts_advances(self):
        path = font_file("Arial")
        for text in ["WIG20 +1,5%", "Zażółć gęślą jaźń", "AV To"]:
            width, height = out("measure", text).split()
            self.assertEqual(int(width), linear_width(path, 11, text), text)
            self.assertEqual(height, "12")

    def test_lines_and_prefixes(self):
        one = out("measure", "longer line").split()
        two = out("measure", "ab\nlonger line").split()
        self.assertEqual(two, [one[0], str(2 * int(one[1]))])
        self.assertEqual(out("measure", "&File"), out("measure", "File"))

    def test_freetype_properties_cannot_change_a_width(self):
        # At 7 pixels the version 35 interpreter gives other advances for
        # these characters than the platform's version 40.
        text = "!MT!MT"
        plain = out("measure", text, "--size", "5.25")
        forced = out("measure", text, "--size", "5.25",
                     env_extra={"FREETYPE_PROPERTIES": "truetype:interpreter-version=35"})
        self.assertEqual(plain, forced)
        self.assertEqual(int(plain.split()[0]), linear_width(font_file("Arial"), 7, text))


class FontCommand(unittest.TestCase):
    def test_interface_faces_resolve_to_liberation_sans_and_others_as_fc_match(self):
        shell = out("font", "MS Shell Dlg")
        self.assertIn("family:           Liberation Sans\n", shell)
        self.assertIn("height:           12 (ascent 10, descent 2)\n", shell)
        expected = subprocess.run(["fc-match", "-f", "%{file}", "Times New Roman:bold"], capture_output=True,
                                  check=True).stdout.decode()
        self.assertEqual(font_file("Times New Roman", "--bold"), expected)


if __name__ == "__main__":
    unittest.main()

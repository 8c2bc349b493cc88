#!/usr/bin/env python3
"""Runs vtools image on files PIL writes and checks what it reports."""
import os
import subprocess
import sys
import tempfile
import unittest

try:
    from PIL import Image
except ImportError:  # Debian's python3 has python3-pil
    if sys.executable == "/usr/bin/python3":
        raise
    os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])

VTOOLS = sys.argv.pop(1) if len(sys.argv) > 1 else "vtools"


def run(*args):
    return subprocess.run([VTOOLS, "image", *args], capture_output=True, timeout=60)


class ImageCommand(unittest.TestCase):
    def test_formats_sizes_and_pixels(self):
        with tempfile.TemporaryDirectory() as folder:
            image = Image.new("RGBA", (9, 4), (10, 20, 30, 255))
            image.putpixel((8, 3), (200, 100, 50, 128))
            for name, kind, shown in (("a.png", "PNG", "#80C86432"), ("a.bmp", "BMP", "#FFC86432"),
                                      ("a.tif", "TIFF", "#FFC86432"), ("a.gif", "GIF", None)):
                path = os.path.join(folder, name)
                (image if name.endswith(".png") else image.convert("RGB")).save(path)
                result = run(path)
                self.assertEqual(result.returncode, 0, result.stderr)
                text = result.stdout.decode()
                self.assertIn("format: %s\n" % kind, text)
                self.assertIn("size: 9x4\n", text)
                if shown:
                    self.assertIn("pixel 8,3: %s\n" % shown, text)

    def test_truncated_image_is_an_error(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "cut.png")
            Image.new("RGB", (64, 64), (1, 2, 3)).save(path)
            data = open(path, "rb").read()
            open(path, "wb").write(data[: len(data) // 2])
            result = run(path)
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"InvalidParameter", result.stderr)


if __name__ == "__main__":
    unittest.main()

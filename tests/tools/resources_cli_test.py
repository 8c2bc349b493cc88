#!/usr/bin/env python3
"""vtools resources list|get: vtools's own embedded resources, read from its file as a data file."""
import os
import struct
import unittest

from vtools_run import VTOOLS, InFolder, run

SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "vtools", "resources")


def source(name):
    with open(os.path.join(SOURCES, name), "rb") as f:
        return f.read()


class Resources(InFolder, unittest.TestCase):
    def test_lists_and_extracts_the_tools_own_icon_and_image(self):
        out = run("resources", "list", VTOOLS)
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = out.stdout.decode().splitlines()
        logo = source("logo.png")
        self.assertIn("PNG LOGO %d" % len(logo), lines)
        self.assertIn("GROUP_ICON VTOOLS %d" % (6 + 3 * 14), lines)
        self.assertEqual(run("resources", "get", VTOOLS, "png", "logo").stdout, logo)
        # The icon's images are its file's images, under the ids of the group.
        ico = source("vtools.ico")
        group = run("resources", "get", VTOOLS, "GROUP_ICON", "VTOOLS").stdout
        for i in range(3):
            size, offset = struct.unpack_from("<II", ico, 6 + 16 * i + 8)
            (image_id,) = struct.unpack_from("<H", group, 6 + 14 * i + 12)
            self.assertEqual(run("resources", "get", VTOOLS, "ICON", str(image_id)).stdout, ico[offset:offset + size])

    def test_missing_resources_and_files_that_are_no_modules_fail(self):
        for args, code in [(("resources", "get", VTOOLS, "PNG", "NOWHERE"), 1),
                           (("resources", "get", VTOOLS, "PNG", "0"), 2),
                           (("resources", "list", self.write("text.so", b"not a module")), 1),
                           (("resources", "list", os.path.join(self.dir.name, "missing.so")), 1),
                           (("resources", "show", VTOOLS), 2)]:
            out = run(*args)
            self.assertEqual(out.returncode, code, (args, out.stderr))
            self.assertEqual(len(out.stderr.decode().splitlines()), 1, out.stderr)


if __name__ == "__main__":
    unittest.main()

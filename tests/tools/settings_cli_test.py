#!/usr/bin/env python3
"""Runs `vtools settings` as a user would: outlines, reading and changing values, errors."""
import os
import unittest
import xml.etree.ElementTree as ET

from vtools_run import InFolder, run

WORKSPACE = """<?xml version="1.0" encoding="UTF-8"?>
<Workspace Version="3" ElementCount="2">
    <Name Value="Alpha"/>
    <Window>
        <Rect Value="10 20 300 400"/>
        <Visible Value="1"/>
    </Window>
    <Variable Value="5"/>
    <Variable Value="2.5">
        <Label Value="Łódź"/>
    </Variable>
</Workspace>
"""



class Settings(InFolder, unittest.TestCase):
    def setUp(self):
        super().setUp()
        self.file = self.write("workspace.xml", WORKSPACE.encode())

    def test_show_prints_an_indented_outline(self):
        out = run("settings", "show", self.file)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.decode(),
                         "Workspace  [version 3]\n"
                         "  Name = Alpha\n"
                         "  Window\n"
                         "    Rect = 10 20 300 400\n"
                         "    Visible = 1\n"
                         "  #0 = 5\n"
                         "  #1 = 2.5\n"
                         "    Label = Łódź\n")

    def test_get_reads_named_and_unnamed_paths(self):
        for path, value in [("Window/Rect", "10 20 300 400"), ("#1/Label", "Łódź"), ("Name", "Alpha"),
                            ("Window", "")]:
            out = run("settings", "get", self.file, path)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout.decode(), value + "\n")

    def test_set_saves_a_file_that_python_reads(self):
        out = run("settings", "set", self.file, "Window/Size/Width", "640")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(run("settings", "set", self.file, "#2", "appended").returncode, 0)
        self.assertEqual(run("settings", "set", self.file, "Name", "Zażółć <&>").returncode, 0)
        root = ET.parse(self.file).getroot()
        self.assertEqual(root.tag, "Workspace")
        self.assertEqual(root.get("Version"), "3")
        self.assertEqual(root.find("Window/Size/Width").get("Value"), "640")
        self.assertEqual(root.find("Name").get("Value"), "Zażółć <&>")
        self.assertEqual([v.get("Value") for v in root.findall("Variable")], ["5", "2.5", "appended"])
        self.assertEqual(root.get("ElementCount"), "3")
        self.assertEqual(os.listdir(self.dir.name), ["workspace.xml"])

    def test_set_creates_a_file_with_a_root_name(self):
        new = os.path.join(self.dir.name, "new.xml")
        self.assertEqual(run("settings", "set", new, "A/B", "1").returncode, 1)
        out = run("settings", "set", new, "A/B", "1", "--root", "Config")
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(new, encoding="utf-8") as f:
            self.assertEqual(f.read(), '<?xml version="1.0" encoding="UTF-8"?>\n<Config>\n    <A>\n'
                                       '        <B Value="1"/>\n    </A>\n</Config>\n')
        self.assertEqual(run("settings", "get", new, "A/B").stdout, b"1\n")

    def test_malformed_xml_and_folders_are_named_with_the_parser_line(self):
        for data, root in [(b"<Workspace>\n  <Window>\n</Workspace>", ()), (b"<?xml version='1.0'?>\n\n<a b=>", ()),
                           (b"<Workspace>\n<x>\n", ("--root", "Workspace"))]:
            out = run("settings", "show", self.write("bad.xml", data), *root)
            self.assertEqual(out.returncode, 1, data)
            self.assertRegex(out.stderr.decode(), r"bad\.xml:[23]: not XML: XML_ERROR_\w+", data)
        out = run("settings", "show", self.dir.name)
        self.assertIn(b"is a folder, not a settings file", out.stderr)
        out = run("settings", "show", self.file, "--root", "Other")
        self.assertIn(b"its top element is not 'Other'", out.stderr)

    def test_errors_are_one_line_with_an_exit_status(self):
        bad = self.write("bad.xml", b"<Workspace><open></Workspace>")
        cases = [(("settings",), 2),
                 (("settings", "frobnicate"), 2),
                 (("settings", "show"), 2),
                 (("settings", "get", self.file), 2),
                 (("settings", "get", self.file, "a//b"), 2),
                 (("settings", "get", self.file, "#x"), 2),
                 (("settings", "show", self.file, "--deep"), 2),
                 (("settings", "get", self.file, "Window/Missing"), 1),
                 (("settings", "get", self.file, "#7"), 1),
                 (("settings", "set", self.file, "#5", "x"), 1),
                 (("settings", "set", self.file, "two words", "x"), 1),
                 (("settings", "show", os.path.join(self.dir.name, "missing.xml")), 1),
                 (("settings", "show", bad), 1),
                 (("settings", "show", self.file, "--root", "Other"), 1)]
        for args, code in cases:
            out = run(*args)
            self.assertEqual(out.returncode, code, args)
            self.assertEqual(out.stdout, b"", args)
            self.assertTrue(out.stderr.startswith(b"vtools settings: "), out.stderr)
            self.assertEqual(out.stderr.count(b"\n"), 1, out.stderr)
        # A refused save leaves the file as it was.
        with open(self.file, encoding="utf-8") as f:
            self.assertEqual(f.read(), WORKSPACE)


if __name__ == "__main__":
    unittest.main(verbosity=1)

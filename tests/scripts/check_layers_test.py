#!/usr/bin/python3
"""The layer check on small fixture trees: a clean stack passes, and each kind
of crossing (an include up the platform's stack or the layers, another area's
private header, a ground floor that includes an area, an undeclared folder, a
stale picture) fails with its own message."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers.py")

TOP = """\
vlib_layer(text DEPENDS platform)
vlib_layer(diagnostics DEPENDS text)
"""
AREAS = """\
vlib_platform_area(ground FOLDERS internal)
vlib_platform_area(nls DEPENDS ground)
vlib_platform_area(kernel DEPENDS nls INTERFACES Clock.h)
vlib_platform_area(user DEPENDS kernel)
"""
FILES = {
    "platform/WinTypes.h": "#pragma once\n#include <cstdint>\n",
    "platform/internal/Syscalls.h": '#pragma once\n#include <unistd.h>\n#include "platform/WinTypes.h"\n',
    "platform/nls/CodePage.h": '#pragma once\n#include "platform/WinTypes.h"\n',
    "platform/kernel/Files.h": '#pragma once\n#include "platform/nls/CodePage.h"\n',
    "platform/kernel/internal/Clock.h": "#pragma once\n",
    "platform/kernel/internal/Private.h": "#pragma once\n",
    "platform/kernel/files.cpp": '#include "platform/kernel/internal/Private.h"\n#include "platform/internal/Syscalls.h"\n',
    "platform/user/queue.cpp": '#include "platform/kernel/internal/Clock.h"\n#include "platform/kernel/Files.h"\n',
    "text/Text.h": '#pragma once\n#include <string>\n#include "platform/kernel/Files.h"\n',
    "diagnostics/Log.cpp": '#include "text/Text.h"\n',
    "docs/ARCHITECTURE.md": "# Architecture\n<!-- LAYERS-BEGIN: drawn by scripts/check-layers.py --write-picture -->\n"
                            "<!-- LAYERS-END -->\n",
}

# name, files changed or added (None removes), the text the failure names
BREAKS = [
    ("an area includes one above it", {"platform/nls/codepage.cpp": '#include "platform/kernel/Files.h"\n'},
     "platform area nls does not build on area kernel"),
    ("an area includes another's private header",
     {"platform/user/window.cpp": '#include "platform/kernel/internal/Private.h"\n'},
     "not one of its INTERFACES"),
    ("an area below includes an offered header",
     {"platform/nls/utf.cpp": '#include "platform/kernel/internal/Clock.h"\n'},
     "platform area nls does not build on area kernel"),
    ("the ground floor includes an area", {"platform/internal/handles.cpp": '#include "platform/nls/CodePage.h"\n'},
     "platform area ground does not build on area nls"),
    ("a layer includes one above it", {"text/text.cpp": '#include "diagnostics/Log.h"\n', "diagnostics/Log.h": ""},
     "layer text does not build on layer diagnostics"),
    ("a layer includes the platform's private header",
     {"text/text.cpp": '#include "platform/internal/Syscalls.h"\n'}, "internal header of platform/"),
    ("a layer includes a system header", {"text/text.cpp": "#include <unistd.h>\n"}, "system header outside platform/"),
    ("a platform folder belongs to no area", {"platform/shell/shell.cpp": '#include "platform/WinTypes.h"\n'},
     "belongs to no area"),
    ("an offered header does not exist", {"platform/kernel/internal/Clock.h": None},
     "lists the interface platform/kernel/internal/Clock.h, which does not exist"),
    ("the picture is stale", {"platform/CMakeLists.txt": AREAS + "vlib_platform_area(x11 DEPENDS user)\n",
                              "platform/x11/x.cpp": '#include "platform/WinTypes.h"\n'},
     "the picture of the stack is not the declared one"),
]


class LayerCheck(unittest.TestCase):
    def tree(self, changes=None, picture=True):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        files = dict(FILES, **{"CMakeLists.txt": TOP, "platform/CMakeLists.txt": AREAS})
        for path, text in files.items():
            self.write(folder.name, path, text)
        if picture:
            subprocess.run([sys.executable, SCRIPT, "--write-picture", folder.name], check=True)
        for path, text in (changes or {}).items():
            if text is None:
                os.remove(os.path.join(folder.name, path))
            else:
                self.write(folder.name, path, text)
        return folder.name

    @staticmethod
    def write(root, path, text):
        os.makedirs(os.path.dirname(os.path.join(root, path)) or root, exist_ok=True)
        with open(os.path.join(root, path), "w", encoding="utf-8") as f:
            f.write(text)

    def run_check(self, root):
        return subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)

    def test_a_clean_stack_passes_and_its_picture_names_every_room(self):
        root = self.tree()
        result = self.run_check(root)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(root, "docs/ARCHITECTURE.md"), encoding="utf-8") as f:
            drawn = f.read()
        for room in ("text", "diagnostics > text", "ground", "nls > ground", "kernel > nls", "user > kernel"):
            self.assertIn(room, drawn)

    def test_each_crossing_fails_naming_the_file_and_the_rule(self):
        for name, changes, message in BREAKS:
            with self.subTest(name):
                result = self.run_check(self.tree(changes))
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(message, result.stderr)

    def test_an_area_that_names_one_declared_after_it_stops_the_check(self):
        areas = AREAS.replace("vlib_platform_area(nls DEPENDS ground)", "vlib_platform_area(nls DEPENDS kernel)")
        result = self.run_check(self.tree({"platform/CMakeLists.txt": areas}, picture=False))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("nls depends on 'kernel', not one declared before it", result.stderr)


if __name__ == "__main__":
    unittest.main()

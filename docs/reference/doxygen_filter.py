#!/usr/bin/env python3
"""Doxygen's input filter for the public headers: their comments are plain
// comments, which Doxygen would skip.  The header's opening comment becomes
the file's documentation (in the group of its subsystem or platform area), a
comment on lines of its own documents the declaration below it, and a comment
after code documents that member.  The text is taken literally: characters
Doxygen would read as commands, HTML or Markdown are escaped."""
import re
import sys

OUT_OF_CLASS = re.compile(r"^(?:inline |constexpr )*[\w:<>*& ]+ \w+::[~\w]*(?:operator\S*)?\(.*\{")
ESCAPE = re.compile(r"([\\@<>&#%$*_~`|])")


def literal(text):
    return ESCAPE.sub(r"\\\1", text)


def group_of(path):
    parts = path.replace("\\", "/").split("/")
    for i, part in enumerate(parts):
        if part == "platform" and i + 2 < len(parts):
            return "platform_" + parts[i + 1]
        if part in ("text", "diagnostics", "multithreading", "settings", "encoding", "system", "gdi", "mail",
                    "module"):
            return part
    return "platform" if "platform" in parts else "library"


def main():
    path = sys.argv[1]
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    opening = True
    skipping = False
    for line in lines:
        stripped = line.lstrip()
        # Members defined after their class are documented where they are
        # declared; their definitions are left out (Doxygen cannot match an
        # out-of-class operator to its declaration).
        if skipping:
            out.append("")
            skipping = line != "}"
            continue
        if OUT_OF_CLASS.match(line):
            out.append("")
            skipping = not line.rstrip().endswith("}")
            continue
        if opening:
            if stripped.startswith("//"):
                out.append("/// " + literal(stripped[2:].strip()) if out else
                           "/// \\file\n/// \\ingroup " + group_of(path) + "\n/// " + literal(stripped[2:].strip()))
                continue
            opening = False
        if stripped.startswith("//"):
            indent = line[: len(line) - len(stripped)]
            out.append(indent + "/// " + literal(stripped[2:].strip()))
            continue
        code, sep, comment = line.partition("  // ")
        if sep and '"' not in code:
            out.append(code + "  ///< " + literal(comment))
        else:
            out.append(line)
    sys.stdout.write("\n".join(out))


main()

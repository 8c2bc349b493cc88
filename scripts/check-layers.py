#!/usr/bin/env python3
"""Fails when an #include crosses the library's layers.

The layers and their dependencies are the vlib_layer() declarations of the
top-level CMakeLists.txt; platform/ (libVLibPlatform) is the bottom layer.
Rules, for the library's code (platform/, the layer folders, VLibIncludes.h)
and for tools/vtools and examples/, applications of the library:

  internal     a folder's internal/ headers are included only from that folder
               (platform's areas share platform's internal/ headers);
  dependency   a layer includes public headers only of itself and of the layers
               it declares, directly or through them; VLibExport.h, the
               export macro (a leaf), is open to every layer;
  system       outside platform/, angle includes name only the standard C++
               library and the dependencies Boost, GSL, tinyxml2, Crypto++,
               zlib and OpenSSL: no POSIX, Linux, X11, FreeType, fontconfig,
               curl or libdw header (see SYSTEM_EXAMPLES);
  xlib         only platform/x11/ includes Xlib (<X11/...>);
  public       a public header (any header not under internal/, installed)
               includes no internal/ header; platform's public headers include
               only standard C++ headers, the other layers' public headers only
               standard C++, Boost and GSL (what the installed package brings);
  folders      every top-level folder holding C++ sources is a layer, platform/,
               tools/, examples/, tests/, bench/ or fuzz/.

tests/, bench/ and fuzz/ are exempt: they test internal code, use system
headers to check the library against the system, and run peers.

Usage: scripts/check-layers.py [ROOT]   (default: the repository holding it)
"""
import os
import re
import subprocess
import sys

# The C++20 (and C++23) standard library headers, the C ones in their <cname>
# form only.
STANDARD = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv
cfloat charconv chrono cinttypes climits clocale cmath codecvt compare complex
concepts condition_variable coroutine csetjmp csignal cstdarg cstddef cstdint
cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution
expected filesystem format forward_list fstream functional future generator
initializer_list iomanip ios iosfwd iostream istream iterator latch limits list
locale map mdspan memory memory_resource mutex new numbers numeric optional
ostream print queue random ranges ratio regex scoped_allocator semaphore set
shared_mutex source_location span spanstream sstream stack stacktrace stdexcept
stdfloat stop_token streambuf string string_view syncstream system_error thread
tuple type_traits typeindex typeinfo unordered_map unordered_set utility
valarray variant vector version
""".split())

# Third-party headers the library may use; the public ones may also appear in
# public headers.
PUBLIC_THIRD_PARTY = ("boost/", "gsl/")
PRIVATE_THIRD_PARTY = ("tinyxml2.h", "cryptopp/", "zlib.h", "openssl/")

# What counts as a system header: anything else in angle brackets, such as
# these (listed for the reader; the rule is the allow-list above).
SYSTEM_EXAMPLES = """
unistd.h sys/* pthread.h fcntl.h dlfcn.h dirent.h signal.h poll.h link.h elf.h
pwd.h langinfo.h time.h stdio.h stdlib.h X11/* ft2build.h freetype/*
fontconfig/* curl/* elfutils/* libdwfl.h glib.h immintrin.h
""".split()

EXEMPT_FOLDERS = {"tests", "bench", "fuzz"}
APPLICATION_FOLDERS = {"tools", "examples"}
UMBRELLA = "VLibIncludes.h"
EXPORT_MACRO = "VLibExport.h"
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".inl")

# Crossings that wait for the file helpers (the file-system form of a path,
# the replace-by-rename writer) to become platform services.  A waiver that
# no longer matches an include fails the check, so that it goes too.
WAIVERS = set()

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def parse_layers(cmake_text):
    """The vlib_layer() declarations: name -> (folders, dependencies)."""
    text = re.sub(r"#[^\n]*", "", cmake_text)
    layers = {"platform": (["platform"], [])}
    for match in re.finditer(r"^\s*vlib_layer\s*\(([^)]*)\)", text, re.M):
        words = match.group(1).split()
        name, folders, deps, key = words[0], [], [], None
        for word in words[1:]:
            if word in ("FOLDERS", "DEPENDS", "LIBS"):
                key = word
            elif key == "FOLDERS":
                folders.append(word)
            elif key == "DEPENDS":
                deps.append(word)
        for dep in deps:
            if dep not in layers:
                sys.exit(f"check-layers: layer {name} depends on '{dep}', not a layer declared before it")
        layers[name] = (folders or [name], deps)
    return layers


def closure(layers):
    reach = {}
    for name, (_, deps) in layers.items():  # declaration order: deps come first
        seen = set(deps)
        for dep in deps:
            seen |= reach[dep]
        reach[name] = seen
    return reach


def tracked_files(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z"], capture_output=True, check=True).stdout
        return [f for f in out.decode().split("\0") if f]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for base, dirs, names in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            files += [os.path.relpath(os.path.join(base, n), root) for n in names]
        return files


def is_internal(path):
    return "internal" in path.split("/")[:-1]


def check(root):
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as f:
        layers = parse_layers(f.read())
    reach = closure(layers)
    layer_of_folder = {folder: name for name, (folders, _) in layers.items() for folder in folders}

    files = [f for f in tracked_files(root) if f.endswith(SOURCE_SUFFIXES)]
    file_set = set(files)
    errors = []
    used_waivers = set()

    for path in files:
        top = path.split("/")[0] if "/" in path else ""
        if top in EXEMPT_FOLDERS:
            continue
        if path in (UMBRELLA, EXPORT_MACRO):
            owner_layer = None
        elif top in layer_of_folder:
            owner_layer = layer_of_folder[top]
        elif top in APPLICATION_FOLDERS:
            owner_layer = None
        else:
            errors.append(f"{path}: folder {top or '.'}/ is no layer: declare it with vlib_layer() in CMakeLists.txt")
            continue
        application = top in APPLICATION_FOLDERS
        public = path.endswith((".h", ".hpp")) and not is_internal(path) and not application

        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for match in INCLUDE.finditer(text):
            bracket, name = match.groups()
            line = text.count("\n", 0, match.start()) + 1
            where = f"{path}:{line}: <{name}>" if bracket == "<" else f'{path}:{line}: "{name}"'
            if (path, name) in WAIVERS:
                used_waivers.add((path, name))
                continue
            head = name.split("/")[0] if "/" in name else ""
            project = name in (UMBRELLA, EXPORT_MACRO) or head in layer_of_folder
            if bracket == '"' and not project:
                local = os.path.normpath(os.path.join(os.path.dirname(path), name))
                if local in file_set:
                    continue  # a header beside the file
                errors.append(f"{where}: no such header in the repository")
                continue

            if project:
                if is_internal(name):
                    if top != head:
                        errors.append(f"{where}: internal header of {head}/ (private to it)")
                    elif public:
                        errors.append(f"{where}: public header includes an internal one, which is not installed")
                    continue
                if owner_layer is None or name in (UMBRELLA, EXPORT_MACRO):
                    continue  # the umbrella header and applications use every public header
                target_layer = layer_of_folder[head]
                if target_layer != owner_layer and target_layer not in reach[owner_layer]:
                    errors.append(f"{where}: layer {owner_layer} does not depend on layer {target_layer}")
                continue

            # An external header.
            if name.startswith("X11/") and not path.startswith("platform/x11/"):
                errors.append(f"{where}: Xlib header outside platform/x11/")
                continue
            standard = name in STANDARD
            public_dep = name.startswith(PUBLIC_THIRD_PARTY)
            private_dep = name.startswith(PRIVATE_THIRD_PARTY)
            if top == "platform":
                if public and not standard:
                    errors.append(f"{where}: platform's public headers include only standard C++ headers")
                continue
            if not (standard or public_dep or private_dep):
                errors.append(f"{where}: system header outside platform/ (reach the system through the platform)")
            elif public and private_dep:
                errors.append(f"{where}: public header includes a private dependency the package does not bring")

    for path, name in sorted(WAIVERS - used_waivers):
        errors.append(f'{path}: waiver for "{name}" matches no include any more: remove it from {sys.argv[0]}')
    return errors


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    errors = check(os.path.abspath(root))
    for error in errors:
        print(error, file=sys.stderr)
    if errors:
        print(f"layers: {len(errors)} violation(s)", file=sys.stderr)
        return 1
    print("layers: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())

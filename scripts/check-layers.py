#!/usr/bin/env python3
"""Fails when an #include crosses the library's layers.

Two tables say how the library is stacked, both in CMake:
  - the subsystem layers, vlib_layer() in the top-level CMakeLists.txt: the
    folders of each layer and the layers it builds on; platform/
    (libVLibPlatform) is below them all;
  - the platform's areas, vlib_platform_area() in platform/CMakeLists.txt:
    the folders of each area (the ground floor also owns the files directly
    in platform/), the areas it builds on, and the INTERFACES: the few
    headers of its internal/ folder that areas above it may include.
A layer or area may name only ones declared before it, so neither graph can
have a cycle, and no two rooms (layers, areas) can include each other.

Rules, for the library's code (platform/, the layer folders, the umbrella
and export headers) and for tools/vtools and examples/, applications:

  internal     a folder's internal/ headers are included only from that
               folder; in platform/, from the area that owns them, from the
               areas above it when the header is one of its INTERFACES, and
               from anywhere in platform/ for the ground's platform/internal/;
  order        a layer includes public headers only of itself and of the
               layers it builds on, directly or through them; a platform area
               likewise only of itself and of the areas below it; the export
               macro (VLibExport.h) is open to every layer;
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
               tools/, examples/, tests/, bench/ or fuzz/; every folder of
               platform/ holding sources belongs to an area;
  picture      the stack drawn in docs/ARCHITECTURE.md (between the markers
               LAYERS-BEGIN and LAYERS-END) is the one these tables give.

tests/, bench/ and fuzz/ are exempt: they test internal code, use system
headers to check the library against the system, and run peers.

Usage: scripts/check-layers.py [--picture | --write-picture] [ROOT]
  (ROOT defaults to the repository holding the script; --picture prints the
  stack, --write-picture puts it into docs/ARCHITECTURE.md)
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
ROOT_HEADERS = (UMBRELLA, EXPORT_MACRO)
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".inl")
GROUND = "ground"
PICTURE_FILE = "docs/ARCHITECTURE.md"
PICTURE_BEGIN = "<!-- LAYERS-BEGIN: drawn by scripts/check-layers.py --write-picture -->"
PICTURE_END = "<!-- LAYERS-END -->"

# Crossings waived until the code they name moves.  A waiver that no longer
# matches an include fails the check, so that it goes too.
WAIVERS = set()

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def declarations(cmake_text, command, keys):
    """The calls command(NAME KEY words... KEY words...) of a CMake file, in order."""
    text = re.sub(r"#[^\n]*", "", cmake_text)
    found = []
    for match in re.finditer(r"^\s*" + command + r"\s*\(([^)]*)\)", text, re.M):
        words = match.group(1).split()
        fields, key = {k: [] for k in keys}, None
        for word in words[1:]:
            if word in keys:
                key = word
            elif key is not None:
                fields[key].append(word)
        found.append((words[0], fields))
    return found


def build_graph(declared, what, below=()):
    """name -> (folders, dependencies, interfaces); refuses a name used before it is declared."""
    graph = {name: ([], [], []) for name in below}
    for name, fields in declared:
        deps = fields.get("DEPENDS", [])
        for dep in deps:
            if dep not in graph:
                raise SystemExit(f"check-layers: {what} {name} depends on '{dep}', not one declared before it")
        graph[name] = (fields.get("FOLDERS") or [name], deps, fields.get("INTERFACES", []))
    return graph


def closure(graph):
    reach = {}
    for name, (_, deps, _) in graph.items():  # declaration order: deps come first
        seen = set(deps)
        for dep in deps:
            seen |= reach[dep]
        reach[name] = seen
    return reach


def read_tables(root):
    def read(path):
        try:
            with open(os.path.join(root, path), encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return ""
    layers = build_graph(declarations(read("CMakeLists.txt"), "vlib_layer", ("FOLDERS", "DEPENDS", "LIBS")),
                         "layer", below=("platform",))
    layers["platform"] = (["platform"], [], [])
    areas = build_graph(declarations(read("platform/CMakeLists.txt"), "vlib_platform_area",
                                     ("FOLDERS", "DEPENDS", "INTERFACES")), "platform area")
    return layers, areas


def tracked_files(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z"], capture_output=True, check=True).stdout
        files = [f for f in out.decode().split("\0") if f]
        if files:
            return files
    except (OSError, subprocess.CalledProcessError):
        pass
    files = []
    for base, dirs, names in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        files += [os.path.relpath(os.path.join(base, n), root) for n in names]
    return files


def is_internal(path):
    return "internal" in path.split("/")[:-1]


class Stack:
    """Which room (layer or platform area) a path belongs to, and what each room may include."""

    def __init__(self, layers, areas):
        self.layers, self.areas = layers, areas
        self.layer_reach, self.area_reach = closure(layers), closure(areas)
        self.layer_of_folder = {f: n for n, (folders, _, _) in layers.items() for f in folders}
        self.area_of_folder = {f: n for n, (folders, _, _) in areas.items() for f in folders}
        self.interfaces = {f"platform/{self.areas[n][0][0]}/internal/{h}" if not h.startswith("platform/") else h: n
                           for n, (_, _, headers) in areas.items() for h in headers}

    def area(self, path):
        """The platform area of a path under platform/, or None when no area owns its folder."""
        parts = path.split("/")
        if len(parts) == 2:
            return GROUND if GROUND in self.areas else None
        return self.area_of_folder.get(parts[1])


def check(root):
    layers, areas = read_tables(root)
    stack = Stack(layers, areas)
    files = [f for f in tracked_files(root) if f.endswith(SOURCE_SUFFIXES)]
    file_set = set(files)
    errors = []
    used_waivers = set()

    for header, area in sorted(stack.interfaces.items()):
        if header not in file_set:
            errors.append(f"platform/CMakeLists.txt: area {area} lists the interface {header}, which does not exist")

    for path in files:
        top = path.split("/")[0] if "/" in path else ""
        if top in EXEMPT_FOLDERS:
            continue
        owner_layer = owner_area = None
        if path in ROOT_HEADERS:
            pass
        elif top == "platform":
            owner_layer = "platform"
            owner_area = stack.area(path)
            if owner_area is None:
                errors.append(f"{path}: platform/{path.split('/')[1]}/ belongs to no area: declare it with "
                              "vlib_platform_area() in platform/CMakeLists.txt")
                continue
        elif top in stack.layer_of_folder:
            owner_layer = stack.layer_of_folder[top]
        elif top in APPLICATION_FOLDERS:
            pass
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
            project = name in ROOT_HEADERS or head == "platform" or head in stack.layer_of_folder
            if bracket == '"' and not project:
                local = os.path.normpath(os.path.join(os.path.dirname(path), name))
                if local in file_set:
                    continue  # a header beside the file
                errors.append(f"{where}: no such header in the repository")
                continue
            if project:
                error = check_project_include(stack, path, name, top, head, owner_layer, owner_area, public)
                if error:
                    errors.append(f"{where}: {error}")
                continue
            error = check_external_include(path, name, top, public)
            if error:
                errors.append(f"{where}: {error}")

    for path, name in sorted(WAIVERS - used_waivers):
        errors.append(f'{path}: waiver for "{name}" matches no include any more: remove it from {sys.argv[0]}')
    errors += check_picture(root, stack)
    return errors


def check_project_include(stack, path, name, top, head, owner_layer, owner_area, public):
    if name in ROOT_HEADERS:
        if name == UMBRELLA and owner_layer is not None:
            return "the library's own code does not include the umbrella header"
        return None
    if head == "platform" and stack.area(name) is None and "/" in name[len("platform/"):]:
        return f"platform/{name.split('/')[1]}/ belongs to no platform area"
    target_area = stack.area(name) if head == "platform" else None
    if is_internal(name):
        if public:
            return "public header includes an internal one, which is not installed"
        if head != top:
            return f"internal header of {head}/ (private to it)"
        if head == "platform":
            if target_area == owner_area or target_area == GROUND:
                pass
            elif stack.interfaces.get(name) != target_area:
                return (f"internal header of the platform area {target_area}, not one of its INTERFACES "
                        "(platform/CMakeLists.txt)")
            elif target_area not in stack.area_reach[owner_area]:
                return f"platform area {owner_area} does not build on area {target_area}"
        return None
    if owner_layer is None:
        return None  # the umbrella header and applications use every public header
    target_layer = stack.layer_of_folder.get(head, "platform" if head == "platform" else None)
    if target_layer is None:
        return f"{head}/ is no layer"
    if target_layer != owner_layer and target_layer not in stack.layer_reach[owner_layer]:
        return f"layer {owner_layer} does not build on layer {target_layer}"
    if owner_area is not None and target_area != owner_area and target_area not in stack.area_reach[owner_area]:
        return f"platform area {owner_area} does not build on area {target_area}"
    return None


def check_external_include(path, name, top, public):
    if name.startswith("X11/") and not path.startswith("platform/x11/"):
        return "Xlib header outside platform/x11/"
    standard = name in STANDARD
    if top == "platform":
        if public and not standard:
            return "platform's public headers include only standard C++ headers"
        return None
    public_dep = name.startswith(PUBLIC_THIRD_PARTY)
    private_dep = name.startswith(PRIVATE_THIRD_PARTY)
    if not (standard or public_dep or private_dep):
        return "system header outside platform/ (reach the system through the platform)"
    if public and private_dep:
        return "public header includes a private dependency the package does not bring"
    return None


def levels(graph):
    """Each room's floor: one above the highest room it builds on."""
    floor = {}
    for name, (_, deps, _) in graph.items():
        floor[name] = 1 + max((floor[d] for d in deps), default=-1)
    return floor


def picture(stack):
    """The stack as text: one line a floor, top floor first, each room with what it builds on."""
    lines = ["```"]

    def draw(graph, title, hidden=()):
        floor = levels(graph)
        lines.append(title)
        for level in range(max(floor.values()), -1, -1):
            rooms = [n for n in graph if floor[n] == level and n not in hidden]
            if not rooms:
                continue
            cells = []
            for n in rooms:
                deps = [d for d in graph[n][1] if d not in hidden]
                cells.append(n + (" > " + ",".join(deps) if deps else ""))
            lines.append(f"  {level:2}  " + "   ".join(cells))

    draw(stack.layers, "libVLibIncludes (subsystem layers; room > the rooms it builds on)", hidden=("platform",))
    lines.append("  " + "-" * 74)
    draw(stack.areas, "libVLibPlatform (platform areas)")
    lines.append("```")
    return "\n".join(lines)


def check_picture(root, stack):
    path = os.path.join(root, PICTURE_FILE)
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if PICTURE_BEGIN not in text:
        return [f"{PICTURE_FILE}: no picture of the stack (run scripts/check-layers.py --write-picture)"]
    drawn = text.split(PICTURE_BEGIN, 1)[1].split(PICTURE_END, 1)[0].strip("\n")
    if drawn != picture(stack):
        return [f"{PICTURE_FILE}: the picture of the stack is not the declared one (run scripts/check-layers.py "
                "--write-picture)"]
    return []


def write_picture(root, stack):
    path = os.path.join(root, PICTURE_FILE)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if PICTURE_BEGIN not in text:
        raise SystemExit(f"{PICTURE_FILE}: put the markers {PICTURE_BEGIN} and {PICTURE_END} where the picture goes")
    before, rest = text.split(PICTURE_BEGIN, 1)
    after = rest.split(PICTURE_END, 1)[1]
    with open(path, "w", encoding="utf-8") as f:
        f.write(before + PICTURE_BEGIN + "\n" + picture(stack) + "\n" + PICTURE_END + after)


def main():
    args = sys.argv[1:]
    mode = args.pop(0) if args and args[0].startswith("--") else None
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    if mode in ("--picture", "--write-picture"):
        stack = Stack(*read_tables(root))
        if mode == "--picture":
            print(picture(stack))
        else:
            write_picture(root, stack)
        return 0
    if mode is not None:
        print(__doc__, file=sys.stderr)
        return 2
    errors = check(root)
    for error in errors:
        print(error, file=sys.stderr)
    if errors:
        print(f"layers: {len(errors)} violation(s)", file=sys.stderr)
        return 1
    print("layers: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
